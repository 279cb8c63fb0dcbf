#include "platform/clock.h"

#include <QElapsedTimer>

namespace orvane::platform {

namespace {
Clock* g_override = nullptr;
}

Clock& Clock::shared() {
    if (g_override)
        return *g_override;
    static SystemClock clock;
    return clock;
}

void Clock::overrideShared(Clock* clock) {
    g_override = clock;
}

QDateTime SystemClock::now() const {
    return QDateTime::currentDateTimeUtc();
}

qint64 SystemClock::monotonicMs() const {
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed();
}

} // namespace orvane::platform
