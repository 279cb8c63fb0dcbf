#pragma once

#include "service/catalog_records.h"
#include "service/job_time_records.h"

#include <QDateTime>
#include <QString>
#include <QUuid>

#include <optional>
#include <vector>

namespace orvane {

// One open timer: a job time running on the service.
struct TimerSession {
    QUuid id;
    QString jobTimeServerId;
    QString clientId;
    QString clientDisplayName;
    QString clientInitials;
    quint32 clientColorHex = 0;
    QString jobId;
    QString jobTitle;
    std::optional<QString> jobNumber;
    std::optional<QString> projectNumber;
    std::optional<QString> projectLabel;
    QString taskId;
    QString taskTitle;
    QDateTime startedAt;
    qint64 elapsedSecs = 0;
    bool running = true;
    bool onBreak = false;
    qint64 pauseCount = 0;
    qint64 pauseSecs = 0;
    std::optional<QDateTime> onBreakSince;
    qint64 budgetSecs = 0;
    qint64 trackedBeforeSecs = 0;
    std::optional<QString> timeRoundDirection;
    std::optional<qint64> timeRoundValue;

    // The seconds the session shows at `now`: never negative; follows the
    // clock while it runs, fixed while it neither runs nor rests.
    qint64 liveElapsedSecs(const QDateTime& now) const;
    // The seconds shown during a break (measured against the current clock).
    qint64 onBreakAdjustedElapsedSecs() const;

    bool operator==(const TimerSession&) const = default;
};

// What a start waits with while another timer runs.
struct PendingStart {
    ClientDTO client;
    JobDTO job;
    JobTaskDTO task;

    PendingStart(ClientDTO client, JobDTO job, JobTaskDTO task)
        : client(std::move(client)), job(std::move(job)), task(std::move(task)) {}
    bool operator==(const PendingStart&) const = default;
};

// The last stop, as the summary shows and edits it.
struct StoppedSummary {
    QUuid id;
    QString jobTimeServerId;
    QString clientName;
    QString clientInitials;
    quint32 clientColorHex = 0;
    QString jobTitle;
    QString taskTitle;
    qint64 elapsedSecs = 0;
    QDateTime startedAt;
    QDateTime endedAt;
    qint64 pauseCount = 0;
    qint64 pauseSecs = 0;
    std::optional<QString> timeRoundDirection;
    std::optional<qint64> timeRoundValueMinutes;
    bool billable = true;
    qint64 trackedBeforeExcludingThisEntrySecs = 0;
    qint64 projectTrackedSecs = 0;
    qint64 projectBudgetSecs = 0;

    bool operator==(const StoppedSummary&) const = default;
};

// The session id of a job time: the same id for the same job time on every
// run and machine (a name-based UUID of version 4 layout); a random one for
// an empty id.
QUuid stableUUID(const QString& jobTimeId);

// The session a view shows and acts on: the active one when it names an open
// session, else the first open one; none without sessions.
const TimerSession* displayedSession(const std::vector<TimerSession>& sessions,
                                     const std::optional<QUuid>& activeSessionId);

// Whole seconds from `from` to `to`, truncated toward zero.
qint64 secondsBetween(const QDateTime& from, const QDateTime& to);

// Milliseconds until the running session's clock shows its next second.
int msUntilNextSecond(const TimerSession& session, const QDateTime& now);

} // namespace orvane
