#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <QCoroTask>

#include <chrono>
#include <memory>
#include <vector>

namespace orvane::platform {

// A wait on a clock that its holder can cut short. It ends once: when its
// time has come, or at once when cancelled.
class ClockSleep : public QObject {
    Q_OBJECT
public:
    bool isFinished() const { return finished_; }
    bool wasCancelled() const { return cancelled_; }
    void cancel() { finish(true); }
    void finish(bool cancelled);

Q_SIGNALS:
    void done();

private:
    bool finished_ = false;
    bool cancelled_ = false;
};

// Waits for `sleep` to end; true when it was cut short. The caller keeps the
// sleep alive through the shared pointer, so nothing can end it unseen.
QCoro::Task<bool> waitFor(std::shared_ptr<ClockSleep> sleep);

// "Now", for everything whose logic depends on it. Tests install a clock they
// move by hand.
class Clock {
public:
    virtual ~Clock() = default;
    // Wall-clock time, in UTC.
    virtual QDateTime now() const = 0;
    // Milliseconds on a clock that never jumps (not wall time).
    virtual qint64 monotonicMs() const = 0;

    // A wait of `duration` on the monotonic clock, with no tolerance.
    virtual std::shared_ptr<ClockSleep> sleep(std::chrono::milliseconds duration) = 0;

    static Clock& shared();
    static void overrideShared(Clock* clock);
};

class SystemClock : public Clock {
public:
    QDateTime now() const override;
    qint64 monotonicMs() const override;
    std::shared_ptr<ClockSleep> sleep(std::chrono::milliseconds duration) override;
};

class ManualClock : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC))
        : now_(start.toUTC()) {}

    QDateTime now() const override { return now_; }
    qint64 monotonicMs() const override { return monotonic_; }
    // Ends when advance() reaches its time.
    std::shared_ptr<ClockSleep> sleep(std::chrono::milliseconds duration) override;
    size_t pendingSleeps() const;

    // Moves both clocks on and ends the sleeps whose time has come, earliest first.
    void advance(qint64 ms);
    // Sets the wall clock only, as a time-zone or NTP correction would.
    void setWallClock(const QDateTime& now) { now_ = now.toUTC(); }

private:
    QDateTime now_;
    qint64 monotonic_ = 1'000'000;
    std::vector<std::pair<qint64, std::weak_ptr<ClockSleep>>> sleeps_;
};

} // namespace orvane::platform
