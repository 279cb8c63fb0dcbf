#include "app/paint_probe.h"

#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <time.h>

namespace orvane {

void PaintProbe::installIfAsked(QWidget* window) {
    const QString path = qEnvironmentVariable("ORVANE_PAINT_PROBE");
    if (path.isEmpty() || !window)
        return;
    window->installEventFilter(new PaintProbe(path, window));
}

PaintProbe::PaintProbe(QString path, QObject* parent) : QObject(parent), path_(std::move(path)) {}

bool PaintProbe::eventFilter(QObject*, QEvent* event) {
    if (event->type() == QEvent::Show) {
        armed_ = true;
    } else if (event->type() == QEvent::Paint && armed_) {
        armed_ = false;
        // The children paint after the window itself, in the same turn.
        QTimer::singleShot(0, this, [this] { record(); });
    }
    return false;
}

void PaintProbe::record() const {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    QFile file(path_);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(QByteArray::number(qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec) + '\n');
}

} // namespace orvane
