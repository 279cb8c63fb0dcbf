#include "app/paint_probe.h"

#include <QAbstractEventDispatcher>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <time.h>

#include <memory>
#include <utility>

namespace orvane {

namespace {
// The file of the probe installed, if any.
QString& probePath() {
    static QString path;
    return path;
}

void append(const QString& path, const QByteArray& line) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(line + '\n');
}

qint64 monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Each turn of the main loop from waking to waiting again.
void watchTurns() {
    auto* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return;
    struct Turn {
        qint64 cpu = -1;
        qint64 wall = 0;
    };
    auto turn = std::make_shared<Turn>();
    QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, dispatcher, [turn] {
        if (turn->cpu < 0) {
            turn->cpu = PaintProbe::threadCpuNs();
            turn->wall = monotonicNs();
        }
    });
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, [turn] {
        if (turn->cpu < 0)
            return;
        const qint64 cpu = PaintProbe::threadCpuNs() - turn->cpu;
        const qint64 wall = monotonicNs() - turn->wall;
        turn->cpu = -1;
        if (cpu > 8'000'000)
            append(probePath() + QStringLiteral(".stalls"), QByteArray::number(monotonicNs()) +
                                                                ' ' + QByteArray::number(cpu) +
                                                                ' ' + QByteArray::number(wall));
    });
}
} // namespace

bool PaintProbe::asked() {
    return !probePath().isEmpty();
}

qint64 PaintProbe::threadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void PaintProbe::noteIconCost(qint64 cpuNs) {
    if (asked())
        append(probePath() + QStringLiteral(".icons"),
               QByteArray::number(monotonicNs()) + ' ' + QByteArray::number(cpuNs));
}

void PaintProbe::installIfAsked(QWidget* window) {
    const QString path = qEnvironmentVariable("ORVANE_PAINT_PROBE");
    if (path.isEmpty() || !window)
        return;
    window->installEventFilter(new PaintProbe(path, window));
    if (std::exchange(probePath(), path).isEmpty())
        watchTurns();
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
    append(path_, QByteArray::number(monotonicNs()));
}

} // namespace orvane
