#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

namespace orvane {

// The picker's colours by chrome (light when true). Dark chrome takes the
// palette's colours, light chrome the picker's own.
QColor flowBackgroundColor(bool light);
QColor flowSecondaryTextColor(bool light); // the rows' chevrons
QColor flowTitleColor(bool light);
QColor flowMutedColor(bool light);
QColor flowHeaderSubtitleColor(bool light);
QColor flowViolet();
// The error line of the client step's empty state.
QColor flowErrorColor();

struct ShapeLook {
    QColor fill;
    QColor stroke;
    bool operator==(const ShapeLook&) const = default;
};
// The shell behind every row.
ShapeLook selectableRowLook(bool light, bool highlighted);
ShapeLook searchFieldLook(bool light);
ShapeLook backButtonLook(bool light);

// One capsule of the step indicator: step `number` (1 to 3) while the flow
// stands at `step` (0 to 2).
struct StepCapsuleLook {
    enum class Fill { Gradient, Done, ToCome };
    qreal width = 6;
    Fill fill = Fill::ToCome;
    QColor colour; // Done and ToCome
    bool operator==(const StepCapsuleLook&) const = default;
};
StepCapsuleLook stepCapsuleLook(int number, int step, bool light);

// A rounded rectangle filled and then outlined 1 pt wide on its edge.
void paintShape(QPainter& painter, const QRectF& rect, qreal radius, const ShapeLook& look);

} // namespace orvane
