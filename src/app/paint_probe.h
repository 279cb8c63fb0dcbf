#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace orvane {

// For the app benchmark: with ORVANE_PAINT_PROBE naming a file, each first
// paint of a window after it shows appends the monotonic clock's
// nanoseconds to that file, once the paint is done. Without the variable
// nothing is installed.
class PaintProbe : public QObject {
public:
    static void installIfAsked(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    PaintProbe(QString path, QObject* parent);
    void record() const;

    QString path_;
    bool armed_ = false;
};

} // namespace orvane
