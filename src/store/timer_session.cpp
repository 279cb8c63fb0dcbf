#include "store/timer_session.h"

#include "platform/clock.h"
#include "store/time_money_helpers.h"

#include <QCryptographicHash>

#include <algorithm>

namespace orvane {

qint64 secondsBetween(const QDateTime& from, const QDateTime& to) {
    return (to.toMSecsSinceEpoch() - from.toMSecsSinceEpoch()) / 1000;
}

int msUntilNextSecond(const TimerSession& session, const QDateTime& now) {
    const qint64 elapsedMs = session.startedAt.msecsTo(now) - session.pauseSecs * 1000;
    const qint64 intoSecond = ((elapsedMs % 1000) + 1000) % 1000;
    // A little past the boundary, so the new second has surely begun.
    return static_cast<int>(1000 - intoSecond) + 5;
}

qint64 TimerSession::onBreakAdjustedElapsedSecs() const {
    if (!onBreak || !onBreakSince)
        return elapsedSecs;
    const qint64 onBreakFor =
        std::max<qint64>(secondsBetween(*onBreakSince, platform::Clock::shared().now()), 0);
    return std::max<qint64>(elapsedSecs - onBreakFor, 0);
}

qint64 TimerSession::liveElapsedSecs(const QDateTime& now) const {
    if (onBreak)
        return std::max<qint64>(onBreakAdjustedElapsedSecs(), 0);
    if (running) {
        const qint64 d = std::max<qint64>(secondsBetween(startedAt, now), 0);
        return std::max<qint64>(d - pauseSecs, 0);
    }
    return minuteGridRoundedSecs(startedAt, startedAt.addSecs(elapsedSecs), timeRoundDirection,
                                 timeRoundValue);
}

QUuid stableUUID(const QString& jobTimeId) {
    const QString trimmed = jobTimeId.trimmed();
    if (trimmed.isEmpty())
        return QUuid::createUuid();
    QByteArray bytes =
        QCryptographicHash::hash(trimmed.toUtf8(), QCryptographicHash::Sha256).left(16);
    bytes[6] = static_cast<char>((static_cast<unsigned char>(bytes[6]) & 0x0F) | 0x40);
    bytes[8] = static_cast<char>((static_cast<unsigned char>(bytes[8]) & 0x3F) | 0x80);
    return QUuid::fromRfc4122(bytes);
}

const TimerSession* displayedSession(const std::vector<TimerSession>& sessions,
                                     const std::optional<QUuid>& activeSessionId) {
    if (activeSessionId)
        for (const TimerSession& s : sessions)
            if (s.id == *activeSessionId)
                return &s;
    return sessions.empty() ? nullptr : &sessions.front();
}

} // namespace orvane
