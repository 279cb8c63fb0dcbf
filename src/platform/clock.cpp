#include "platform/clock.h"

#include <QElapsedTimer>

#include <QCoroSignal>

#include <algorithm>

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

void ClockSleep::finish(bool cancelled) {
    if (finished_)
        return;
    finished_ = true;
    cancelled_ = cancelled;
    Q_EMIT done();
}

QCoro::Task<bool> waitFor(std::shared_ptr<ClockSleep> sleep) {
    if (!sleep->isFinished())
        co_await qCoro(sleep.get(), &ClockSleep::done);
    co_return sleep->wasCancelled();
}

std::shared_ptr<ClockSleep> SystemClock::sleep(std::chrono::milliseconds duration) {
    auto sleep = std::make_shared<ClockSleep>();
    auto* timer = new QTimer(sleep.get());
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    ClockSleep* raw = sleep.get();
    QObject::connect(timer, &QTimer::timeout, raw, [raw] { raw->finish(false); });
    QObject::connect(raw, &ClockSleep::done, timer, &QTimer::stop);
    timer->start(duration);
    return sleep;
}

std::shared_ptr<ClockSleep> ManualClock::sleep(std::chrono::milliseconds duration) {
    auto sleep = std::make_shared<ClockSleep>();
    sleeps_.emplace_back(monotonic_ + duration.count(), sleep);
    return sleep;
}

size_t ManualClock::pendingSleeps() const {
    return std::count_if(sleeps_.begin(), sleeps_.end(), [](const auto& entry) {
        const auto sleep = entry.second.lock();
        return sleep && !sleep->isFinished();
    });
}

void ManualClock::advance(qint64 ms) {
    now_ = now_.addMSecs(ms);
    monotonic_ += ms;
    std::stable_sort(sleeps_.begin(), sleeps_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::shared_ptr<ClockSleep>> due;
    std::erase_if(sleeps_, [&](const auto& entry) {
        const auto sleep = entry.second.lock();
        if (!sleep || sleep->isFinished())
            return true;
        if (entry.first > monotonic_)
            return false;
        due.push_back(sleep);
        return true;
    });
    for (const auto& sleep : due)
        sleep->finish(false);
}

} // namespace orvane::platform
