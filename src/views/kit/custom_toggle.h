#pragma once

#include "store/appearance.h"

#include <QColor>
#include <QRectF>
#include <QWidget>

class QVariantAnimation;

namespace orvane {

// What the switch shows in a state.
struct ToggleLook {
    bool accentLayer = false; // accent fill with its indigo glow behind the track
    QColor trackFill;
    qreal strokeWidth = 0; // hairline over the track
    qreal knobOffset = 0;  // from the track's leading end
};
ToggleLook toggleLook(bool isOn);

// A switch that shows a Boolean with the accent fill. It never changes the
// value itself: clicks pass through to what lies under it (the row that owns
// the value) and it takes no focus, so no key reaches it. The knob springs to
// its new place while the switch is visible.
class CustomToggle : public QWidget {
    Q_OBJECT
public:
    static constexpr QSizeF kTrackSize{38, 22};
    static constexpr qreal kKnobDiameter = 18;
    // Room around the track for the glow and the knob's shadow: the widget is
    // this much larger than the track on every side.
    static constexpr int kShadowMargin = 4;

    explicit CustomToggle(bool isOn = false, AccentStyle accentStyle = AccentStyle::Gradient,
                          QWidget* parent = nullptr);

    bool isOn() const { return m_isOn; }
    void setOn(bool isOn);
    AccentStyle accentStyle() const { return m_accentStyle; }
    void setAccentStyle(AccentStyle style);

    // Where the knob is drawn now, mid-spring included.
    qreal knobOffset() const { return m_knobOffset; }
    bool isAnimating() const;
    QRectF trackRect() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void settle();

    bool m_isOn;
    AccentStyle m_accentStyle;
    qreal m_knobOffset;
    QVariantAnimation* m_knob;
};

} // namespace orvane
