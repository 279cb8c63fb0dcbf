#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace orvane {

// For the app benchmark: with ORVANE_PAINT_PROBE naming a file, each first
// paint of a window after it shows appends the monotonic clock's
// nanoseconds to that file, once the paint is done. Without the variable
// nothing is installed.
//
// With the same variable, the main thread's long turns go to "<file>.stalls"
// (each turn of the event loop that spent more than 8 ms of the thread's CPU
// between waking and waiting again: "<when> <cpu ns> <wall ns>"), and the CPU
// each redraw of the panel icon took to "<file>.icons" ("<when> <cpu ns>"),
// "when" on the monotonic clock, in nanoseconds.
class PaintProbe : public QObject {
public:
    static void installIfAsked(QWidget* window);
    // Whether a probe was installed.
    static bool asked();
    // The CPU the calling thread has spent, in nanoseconds.
    static qint64 threadCpuNs();
    static void noteIconCost(qint64 cpuNs);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    PaintProbe(QString path, QObject* parent);
    void record() const;

    QString path_;
    bool armed_ = false;
};

} // namespace orvane
