#pragma once

#include <QDateTime>

namespace orvane::platform {

// "Now", for everything whose logic depends on it. Tests install a clock they
// move by hand.
class Clock {
public:
    virtual ~Clock() = default;
    // Wall-clock time, in UTC.
    virtual QDateTime now() const = 0;
    // Milliseconds on a clock that never jumps (not wall time).
    virtual qint64 monotonicMs() const = 0;

    static Clock& shared();
    static void overrideShared(Clock* clock);
};

class SystemClock : public Clock {
public:
    QDateTime now() const override;
    qint64 monotonicMs() const override;
};

class ManualClock : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC))
        : now_(start.toUTC()) {}

    QDateTime now() const override { return now_; }
    qint64 monotonicMs() const override { return monotonic_; }

    void advance(qint64 ms) {
        now_ = now_.addMSecs(ms);
        monotonic_ += ms;
    }
    // Sets the wall clock only, as a time-zone or NTP correction would.
    void setWallClock(const QDateTime& now) { now_ = now.toUTC(); }

private:
    QDateTime now_;
    qint64 monotonic_ = 1'000'000;
};

} // namespace orvane::platform
