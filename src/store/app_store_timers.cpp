#include "store/app_store.h"

#include "store/error_text.h"

#include "platform/clock.h"
#include "platform/haptics.h"
#include "store/stopped_session_record.h"
#include "store/time_money_helpers.h"
#include "service/display_texts.h"
#include "service/transport_error.h"

#include <set>

namespace orvane {

namespace {

QDateTime now() {
    return platform::Clock::shared().now();
}

constexpr size_t kMostRunningTimers = 100;

// A clock behind the service's (or set back) must not end a timer before its
// start: the service refuses such an end and the timer could not be stopped.
QDateTime stopTimeOf(const TimerSession& session) {
    const QDateTime at = now();
    return session.startedAt.isValid() && at < session.startedAt ? session.startedAt : at;
}

std::set<QString> serverIds(const std::vector<TimerSession>& sessions) {
    std::set<QString> ids;
    for (const TimerSession& s : sessions)
        if (const QString id = s.jobTimeServerId.trimmed(); !id.isEmpty())
            ids.insert(id);
    return ids;
}

qint64 bookedSecsExcluding(const std::vector<JobTimeCompactDTO>& entries, const QString& excluded) {
    qint64 total = 0;
    for (const JobTimeCompactDTO& entry : entries)
        if (entry.id != excluded)
            total = saturatingAdd(total, entryDurationSecs(entry).value_or(0));
    return total;
}

// Sets a flag of the store for as long as it lives. The flag stays alone
// once the store is gone, or once another sign-in (which starts with the
// flag down) may have raised it for work of its own.
class FlagScope {
public:
    FlagScope(bool& flag, AppStore::Life life, const quint64& generationNow)
        : flag_(flag), life_(std::move(life)), generationNow_(generationNow),
          generation_(generationNow) {
        flag_ = true;
    }
    ~FlagScope() {
        if (life_ && generationNow_ == generation_)
            flag_ = false;
    }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
    AppStore::Life life_;
    const quint64& generationNow_;
    quint64 generation_;
};

// A failure after which the service may have carried a start or a stop
// out: no answer, a broken or unreadable one, or a gateway's 5xx.
bool mayHaveActed(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const TransportError& e) {
        return !e.cancelled();
    } catch (const DecodingError&) {
        return true;
    } catch (const OrvaneAPIError& e) {
        return e.kind() == OrvaneAPIError::Kind::Decoding ||
               (e.kind() == OrvaneAPIError::Kind::Http && e.statusCode() >= 500);
    } catch (...) {
    }
    return false;
}

} // namespace

void AppStore::spawn(std::function<QCoro::Task<void>()> work) {
    // Work for one sign-in is dropped when another sign-in or a sign-out
    // comes before it runs.
    QTimer::singleShot(0, this, [this, generation = signInGeneration_, work = std::move(work)] {
        if (generation == signInGeneration_)
            work();
    });
}

// ---- Running timers ----

QCoro::Task<PaginatedResponse<JobTimeCompactDTO>>
AppStore::fetchJobTimesPage(QueryParameters filter, int page) {
    const PerformResult result = co_await requestJobTimesPage(std::move(filter), page);
    co_return decodeJobTimesPage(result);
}

QCoro::Task<PerformResult> AppStore::requestJobTimesPage(QueryParameters filter, int page) {
    QueryParameters query{{QStringLiteral("per_page"), QStringLiteral("100")},
                          {QStringLiteral("page"), QString::number(page)}};
    query.insert(query.end(), filter.begin(), filter.end());
    APIRequest request = api_.makeRequest("GET", QStringLiteral("job-times"), query);
    request.maxBodyBytes = kPageReplyBytes;
    co_return co_await api_.perform(request);
}

PaginatedResponse<JobTimeCompactDTO> AppStore::decodeJobTimesPage(const PerformResult& result) {
    auto reply = OrvaneAPIClient::decodeCommon<PaginatedResponse<JobTimeCompactDTO>>(result);
    OrvaneAPIClient::keepAskedRows(reply, 100);
    for (JobTimeCompactDTO& entry : reply.data)
        boundDisplayTexts(entry);
    return reply;
}

QCoro::Task<qint64> AppStore::fetchTrackedSecs(QString jobTaskId, QString excludingJobTimeId) {
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    qint64 total = 0;
    const QueryParameters filter{{QStringLiteral("jobtask_id"), jobTaskId}};
    // A service that keeps sending full pages without paging data must not
    // keep us reading for ever: 100 pages are 10 000 job times of one task.
    constexpr int kMostPages = 100;
    for (int page = 1;; ++page) {
        const PaginatedResponse<JobTimeCompactDTO> reply = co_await fetchJobTimesPage(filter, page);
        total = saturatingAdd(total, bookedSecsExcluding(reply.data, excludingJobTimeId));
        const bool full = reply.data.size() >= 100;
        const bool last = reply.meta && reply.meta->lastPage && page >= *reply.meta->lastPage;
        if (!full || last || page >= kMostPages || !life || generation != signInGeneration_)
            co_return total;
    }
}

std::optional<TimerSession> AppStore::buildTimerSession(const JobTimeCompactDTO& entry) const {
    const auto start = parseServerDate(entry.startTime);
    if (!start)
        return std::nullopt;
    if (entry.endTime && !entry.endTime->trimmed().isEmpty())
        return std::nullopt;
    TimerSession s;
    s.clientDisplayName = QStringLiteral("Kunde");
    if (entry.client) {
        if (entry.client->customerName)
            s.clientDisplayName = *entry.client->customerName;
        else if (entry.client->companyName)
            s.clientDisplayName = *entry.client->companyName;
    }
    s.clientId = entry.clientId ? *entry.clientId : entry.client ? entry.client->id : QString();
    s.clientInitials = clientInitials(s.clientDisplayName);
    s.clientColorHex = clientColorHex(s.clientId.isEmpty() ? s.clientDisplayName : s.clientId);
    if (entry.job)
        s.jobId = entry.job->id;
    else if (entry.jobTask && entry.jobTask->jobId)
        s.jobId = *entry.jobTask->jobId;
    s.jobTitle = entry.job && entry.job->title ? *entry.job->title : QStringLiteral("Auftrag");
    s.taskId = entry.jobtaskId ? *entry.jobtaskId : entry.jobTask ? entry.jobTask->id : QString();
    s.taskTitle =
        entry.jobTask && entry.jobTask->title ? *entry.jobTask->title : QStringLiteral("Aufgabe");
    if (entry.job && entry.job->jobNumber)
        s.jobNumber = entry.job->jobNumber;
    else if (entry.jobTask)
        s.jobNumber = entry.jobTask->jobNumber;
    if (entry.job)
        s.projectNumber = entry.job->projectNumber;
    s.startedAt = *start;
    s.elapsedSecs = std::max<qint64>(secondsBetween(*start, now()), 0);
    s.budgetSecs = entry.jobTask ? decimalHoursToSecs(entry.jobTask->scheduledTime) : qint64{0};
    s.timeRoundDirection = entry.roundDirection;
    s.timeRoundValue = entry.roundValue;
    s.jobTimeServerId = entry.id;
    s.id = stableUUID(entry.id);
    return s;
}

QCoro::Task<std::optional<TimerSession>> AppStore::makeTimerSession(JobTimeCompactDTO entry) {
    const Life life = this->life();
    std::optional<TimerSession> s = buildTimerSession(entry);
    if (!s || s->taskId.isEmpty())
        co_return s;
    const QString jobTimeId = entry.id.trimmed();
    if (taskReadsRefused_.count(jobTimeId)) {
        const auto shown = std::find_if(sessions_.begin(), sessions_.end(), [&](const auto& open) {
            return open.jobTimeServerId.trimmed() == jobTimeId;
        });
        if (shown != sessions_.end()) {
            s->budgetSecs = shown->budgetSecs;
            s->trackedBeforeSecs = shown->trackedBeforeSecs;
            co_return s;
        }
    }
    std::optional<JobTaskDTO> task;
    try {
        task = co_await api_.fetchJobTask(s->taskId, true, entry.id);
    } catch (const TransportError& error) {
        if (error.isTooLarge())
            taskReadsRefused_.insert(jobTimeId);
    } catch (...) {
    }
    if (!life)
        co_return std::nullopt;
    if (task) {
        if (const qint64 budget = decimalHoursToSecs(task->scheduledTime); budget > 0)
            s->budgetSecs = budget;
        if (task->bookedSecs || task->jobTimes) {
            s->trackedBeforeSecs = task->bookedSecs
                                       ? *task->bookedSecs
                                       : bookedSecsExcluding(*task->jobTimes, entry.id);
            co_return s;
        }
    }
    if (s->budgetSecs > 0) {
        try {
            s->trackedBeforeSecs = co_await fetchTrackedSecs(s->taskId, entry.id);
        } catch (...) {
            s->trackedBeforeSecs = 0;
        }
    }
    co_return s;
}

void AppStore::preserveLocalBreakState(std::vector<TimerSession>& fresh) const {
    for (TimerSession& session : fresh) {
        const QString id = session.jobTimeServerId.trimmed();
        const auto it =
            std::find_if(sessions_.begin(), sessions_.end(),
                         [&](const TimerSession& s) { return s.jobTimeServerId.trimmed() == id; });
        if (it == sessions_.end() || !it->onBreak || !it->onBreakSince)
            continue;
        session.onBreak = true;
        session.onBreakSince = it->onBreakSince;
        session.running = false;
        session.elapsedSecs = it->elapsedSecs;
        session.pauseCount = it->pauseCount;
        session.pauseSecs = it->pauseSecs;
    }
}

void AppStore::noteSessionEvent(const QString& jobTimeServerId, bool started) {
    if (restoresInFlight_ > 0)
        sessionEvents_.push_back({++sessionEventSeq_, jobTimeServerId.trimmed(), started});
}

QCoro::Task<bool> AppStore::restoreActiveSessions() {
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    const std::set<QString> oldIds = serverIds(sessions_);
    // Starts and stops from here on happen after the service's answer was made.
    const quint64 since = sessionEventSeq_;
    const quint64 readBack = ++readBacksSent_;
    ++restoresInFlight_;
    const auto finish = [this] {
        if (--restoresInFlight_ == 0)
            sessionEvents_.clear();
    };
    std::vector<JobTimeCompactDTO> running;
    std::exception_ptr error;
    try {
        running = co_await api_.fetchActiveJobTimes();
    } catch (...) {
        error = std::current_exception();
    }
    if (!life)
        co_return false;
    if (error) {
        finish();
        if (generation == signInGeneration_)
            co_await handleAccountNotReady(error);
        co_return false;
    }
    std::vector<TimerSession> fresh;
    std::set<QString> listedOnce;
    for (const JobTimeCompactDTO& entry : running) {
        // One session per job time, and no more than a page of them: a list
        // that repeats or swells neither doubles a timer nor sets off a
        // request per row.
        if (fresh.size() >= kMostRunningTimers)
            break;
        if (!listedOnce.insert(entry.id.trimmed()).second)
            continue;
        // Awaited outside the condition: g++ 12 miscompiles co_await there.
        std::optional<TimerSession> session = co_await makeTimerSession(entry);
        if (!life)
            co_return false;
        if (generation != signInGeneration_)
            break;
        if (session)
            fresh.push_back(std::move(*session));
    }
    std::map<QString, bool> startedSince; // last event per job time: started or stopped
    for (const SessionEvent& event : sessionEvents_)
        if (event.seq > since)
            startedSince[event.jobTimeServerId] = event.started;
    finish();
    if (generation != signInGeneration_)
        co_return false; // signed out meanwhile: nothing of the old account comes back
    // An answer older than one already applied would bring back what the
    // newer one no longer listed.
    // Asked after an action failed for want of the service: it answers again.
    if (awayErrorShown_ && readBack > awayErrorShown_->readBacksBefore) {
        if (loginError_ == awayErrorShown_->text)
            setLoginError(std::nullopt);
        awayErrorShown_.reset();
    }
    if (readBack < readBackApplied_)
        co_return false;
    readBackApplied_ = readBack;
    // The answer predates what happened here meanwhile: a timer stopped here
    // stays stopped, and one started here stays.
    const auto eventOf = [&](const QString& id) -> std::optional<bool> {
        const auto it = startedSince.find(id.trimmed());
        return it == startedSince.end() ? std::nullopt : std::optional(it->second);
    };
    const size_t answered = fresh.size();
    std::erase_if(fresh,
                  [&](const TimerSession& s) { return eventOf(s.jobTimeServerId) == false; });
    bool adjusted = fresh.size() != answered;
    const std::set<QString> listed = serverIds(fresh);
    for (const TimerSession& s : sessions_)
        if (eventOf(s.jobTimeServerId) == true && !listed.count(s.jobTimeServerId.trimmed())) {
            fresh.push_back(s);
            adjusted = true;
        }
    preserveLocalBreakState(fresh);
    const std::set<QString> newIds = serverIds(fresh);
    std::erase_if(taskReadsRefused_, [&](const QString& id) { return !newIds.count(id); });
    // A stop whose answer was lost: a list asked for after it tells whether
    // the service carried it out.
    std::vector<QString> endedThere;
    for (auto it = unansweredStops_.begin(); it != unansweredStops_.end();) {
        if (readBack <= it->second.readBacksBefore) {
            ++it;
        } else if (newIds.count(it->first)) {
            it = unansweredStops_.erase(it);
        } else {
            endedThere.push_back(it->first);
            ++it;
        }
    }
    for (const QString& key : endedThere)
        spawn([this, key] { return settleUnansweredStop(key); });
    setSessions(std::move(fresh));
    if (sessions_.empty()) {
        setShowMultiTimerSheet(false);
        setActiveSessionId(std::nullopt);
    } else {
        if (!activeSessionId_ || !findSession(*activeSessionId_))
            setActiveSessionId(sessions_.front().id);
    }
    updateTickTimer();
    co_return oldIds != newIds || adjusted;
}

// ---- Start ----

bool AppStore::startGateRefuses() const {
    return currentUser_ && currentUser_->accountRequirements &&
           !currentUser_->accountRequirements->isReady();
}

QCoro::Task<std::optional<QUuid>> AppStore::requestStart(ClientDTO client, JobDTO job,
                                                         JobTaskDTO task) {
    if (startGateRefuses() || startInFlight_)
        co_return std::nullopt;
    if (sessions_.empty()) {
        const FlagScope starting(startInFlight_, life(), signInGeneration_);
        co_return co_await startSession(client, job, task);
    }
    setPendingPick(PendingStart(client, job, task));
    setShowMultiTimerSheet(true);
    co_return std::nullopt;
}

QCoro::Task<std::optional<QUuid>> AppStore::startFromRecentTask(RecentTaskItem item) {
    if (startGateRefuses() || startInFlight_)
        co_return std::nullopt;
    if (sessions_.empty()) {
        const FlagScope starting(startInFlight_, life(), signInGeneration_);
        co_return co_await startSession(item);
    }
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    std::optional<PendingStart> pick;
    std::exception_ptr error;
    {
        const FlagScope starting(startInFlight_, life, signInGeneration_);
        try {
            const JobTaskDTO task = co_await api_.fetchJobTask(item.taskId, false);
            if (!life || generation != signInGeneration_)
                co_return std::nullopt;
            const JobDTO job = co_await loadJob(item, task);
            if (!life || generation != signInGeneration_)
                co_return std::nullopt;
            const ClientDTO client = co_await loadClient(item, job);
            pick.emplace(client, job, task);
        } catch (...) {
            error = std::current_exception();
        }
    }
    if (!life || generation != signInGeneration_)
        co_return std::nullopt;
    if (error) {
        co_await handleAccountNotReady(error);
        if (!life || generation != signInGeneration_)
            co_return std::nullopt;
        showTimerActionError(error);
        co_return std::nullopt;
    }
    co_return co_await requestStart(pick->client, pick->job, pick->task);
}

QCoro::Task<JobDTO> AppStore::loadJob(RecentTaskItem item, JobTaskDTO task) {
    if (task.job)
        co_return *task.job;
    const QString jobId = !item.jobId.isEmpty() ? item.jobId : task.jobId.value_or(QString());
    if (jobId.isEmpty())
        throw OrvaneAPIError::message(QStringLiteral("Auftrag konnte nicht geladen werden."));
    const std::optional<QString> clientId = item.clientId;
    const std::optional<QString> archived = QStringLiteral("0");
    const PaginatedResponse<JobDTO> jobs =
        co_await api_.fetchJobs(clientId, std::nullopt, archived, 100);
    for (const JobDTO& job : jobs.data)
        if (job.id == jobId)
            co_return job;
    throw OrvaneAPIError::message(QStringLiteral("Auftrag konnte nicht gefunden werden."));
}

QCoro::Task<ClientDTO> AppStore::loadClient(RecentTaskItem item, JobDTO job) {
    if (job.client)
        co_return *job.client;
    if (item.clientId.isEmpty())
        throw OrvaneAPIError::message(QStringLiteral("Kunde konnte nicht geladen werden."));
    const PaginatedResponse<ClientDTO> clients = co_await api_.fetchClients(100);
    for (const ClientDTO& client : clients.data)
        if (client.id == item.clientId)
            co_return client;
    throw OrvaneAPIError::message(QStringLiteral("Kunde konnte nicht gefunden werden."));
}

void AppStore::appendStartedSession(TimerSession session) {
    const QUuid id = session.id;
    noteSessionEvent(session.jobTimeServerId, true);
    std::vector<TimerSession> next = sessions_;
    // A read-back that finished first may have brought this job time in.
    const auto same = std::find_if(next.begin(), next.end(), [&](const TimerSession& s) {
        return s.jobTimeServerId.trimmed() == session.jobTimeServerId.trimmed();
    });
    if (same != next.end())
        *same = std::move(session);
    else
        next.push_back(std::move(session));
    setSessions(std::move(next));
    setActiveSessionId(id);
    updateTickTimer();
}

QCoro::Task<std::optional<AppStore::StartedJobTime>>
AppStore::startJobTimeOnService(QString clientId, QString jobTaskId) {
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    std::optional<JobTimeCompactDTO> reply;
    std::exception_ptr error;
    try {
        reply = co_await api_.startJobTime(clientId, jobTaskId, std::nullopt);
    } catch (...) {
        error = std::current_exception();
    }
    if (!life || generation != signInGeneration_)
        co_return std::nullopt; // signed out meanwhile
    if (error) {
        co_await handleAccountNotReady(error);
        if (!life || generation != signInGeneration_)
            co_return std::nullopt;
        showTimerActionError(error);
        // The job time may run on the service all the same: a read-back
        // shows it now, before the user starts it a second time. That
        // read-back is not the service being back: it leaves the message.
        if (mayHaveActed(error)) {
            if (awayErrorShown_)
                awayErrorShown_->readBacksBefore = readBacksSent_ + 1;
            spawn([this] { return syncWithServer(); });
        }
        co_return std::nullopt;
    }
    const auto start = parseServerDate(reply->startTime);
    if (!start) {
        // The job time runs on the service; a read-back brings it in.
        spawn([this] { return syncWithServer(); });
        setLoginError(QStringLiteral("Start-Zeitpunkt vom Server konnte nicht gelesen werden."));
        co_return std::nullopt;
    }
    co_return StartedJobTime{std::move(*reply), *start};
}

QCoro::Task<std::optional<QUuid>> AppStore::startSession(ClientDTO client, JobDTO job,
                                                         JobTaskDTO task) {
    if (startGateRefuses())
        co_return std::nullopt;
    const QString displayName = client.customerName
                                    ? *client.customerName
                                    : client.companyName.value_or(QStringLiteral("Kunde"));
    const Life life = this->life();
    const std::optional<StartedJobTime> started =
        co_await startJobTimeOnService(client.id, task.id);
    if (!life || !started)
        co_return std::nullopt;
    const JobTimeCompactDTO& reply = started->reply;
    const QDateTime& start = started->start;
    const qint64 budget = decimalHoursToSecs(task.scheduledTime);
    TimerSession s;
    s.id = stableUUID(reply.id);
    s.jobTimeServerId = reply.id;
    s.clientId = client.id;
    s.clientDisplayName = displayName;
    s.clientInitials = clientInitials(displayName);
    s.clientColorHex = clientColorHex(client.id);
    s.jobId = job.id;
    s.jobTitle = job.title.value_or(QString());
    s.jobNumber = job.jobNumber;
    s.projectNumber = job.project ? job.project->projectNumber : std::nullopt;
    s.taskId = task.id;
    s.taskTitle = task.title.value_or(QString());
    s.startedAt = start;
    s.budgetSecs = budget;
    // The list was read before this job time began: its sum cannot hold it.
    s.trackedBeforeSecs = budget < 1        ? 0
                          : task.bookedSecs ? *task.bookedSecs
                          : task.jobTimes   ? bookedSecsExcluding(*task.jobTimes, reply.id)
                                            : 0;
    s.timeRoundDirection = reply.roundDirection;
    s.timeRoundValue = reply.roundValue;
    const QUuid id = s.id;
    appendStartedSession(std::move(s));
    setLoginError(std::nullopt);
    if (budget >= 1 && !task.jobTimes && !task.bookedSecs)
        spawn([this, id, taskId = task.id, jobTimeId = reply.id] {
            return loadTrackedBeforeSecs(id, taskId, jobTimeId);
        });
    spawn([this] { return refreshAfterSessionChange(); });
    co_return id;
}

QCoro::Task<std::optional<QUuid>> AppStore::startSession(RecentTaskItem item) {
    if (item.clientId.trimmed().isEmpty() || item.taskId.trimmed().isEmpty()) {
        setLoginError(QStringLiteral("Aufgabe unvollständig (Kunde oder Aufgabe fehlen). Bitte "
                                     "aus „Neue Session“ starten."));
        co_return std::nullopt;
    }
    const Life life = this->life();
    const std::optional<StartedJobTime> started =
        co_await startJobTimeOnService(item.clientId, item.taskId);
    if (!life || !started)
        co_return std::nullopt;
    const JobTimeCompactDTO& reply = started->reply;
    const QDateTime& start = started->start;
    const qint64 budget =
        reply.jobTask ? decimalHoursToSecs(reply.jobTask->scheduledTime) : qint64{0};
    TimerSession s;
    s.id = stableUUID(reply.id);
    s.jobTimeServerId = reply.id;
    s.clientId = item.clientId;
    s.clientDisplayName = item.clientName;
    s.clientInitials = item.clientInitials;
    s.clientColorHex = item.clientColorHex;
    s.jobId = item.jobId;
    s.jobTitle = item.jobTitle;
    s.jobNumber = item.jobNumber;
    s.projectNumber = item.projectNumber;
    s.taskId = item.taskId;
    s.taskTitle = item.taskTitle;
    s.startedAt = start;
    s.budgetSecs = budget;
    s.timeRoundDirection = reply.roundDirection;
    s.timeRoundValue = reply.roundValue;
    const QUuid id = s.id;
    appendStartedSession(std::move(s));
    if (budget >= 1)
        spawn([this, id, taskId = item.taskId, jobTimeId = reply.id] {
            return loadTrackedBeforeSecs(id, taskId, jobTimeId);
        });
    spawn([this] { return refreshAfterSessionChange(); });
    setLoginError(std::nullopt);
    co_return id;
}

QCoro::Task<void> AppStore::loadTrackedBeforeSecs(QUuid sessionId, QString jobTaskId,
                                                  QString jobTimeId) {
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    std::optional<qint64> value;
    try {
        value = co_await fetchTrackedSecs(jobTaskId, jobTimeId);
    } catch (...) {
    }
    if (life && generation == signInGeneration_)
        setTrackedBeforeSecs(value.value_or(0), sessionId);
}

TimerSession* AppStore::findSession(const QUuid& id) {
    const auto it = std::find_if(sessions_.begin(), sessions_.end(),
                                 [&](const TimerSession& s) { return s.id == id; });
    return it == sessions_.end() ? nullptr : &*it;
}

void AppStore::setTrackedBeforeSecs(qint64 value, const QUuid& sessionId) {
    TimerSession* session = findSession(sessionId);
    if (!session || session->trackedBeforeSecs == value)
        return;
    session->trackedBeforeSecs = value;
    Q_EMIT changed(Property::Sessions);
}

QCoro::Task<void> AppStore::refreshAfterSessionChange() {
    std::function<QCoro::Task<void>()> dashboardBody = [this] {
        return performDashboardAggregatesRefresh();
    };
    std::function<QCoro::Task<void>()> recentBody = [this] { return performRecentTasksRefresh(); };
    QCoro::Task<void> dashboard =
        refreshAfterOwnChange(dashboardAggregatesRefreshTask_, std::move(dashboardBody));
    QCoro::Task<void> recent =
        refreshAfterOwnChange(recentTasksRefreshTask_, std::move(recentBody));
    co_await std::move(dashboard);
    co_await std::move(recent);
}

// The user's own change must show: a run that began before it may have read
// the old state, and the throttle would drop a run right after another.
QCoro::Task<void> AppStore::refreshAfterOwnChange(SingleFlight<void>& flight,
                                                  std::function<QCoro::Task<void>()> body) {
    const Life life = this->life();
    if (flight.inFlight())
        co_await flight.run(body);
    if (!life)
        co_return;
    co_await flight.run(std::move(body));
}

QCoro::Task<std::optional<QUuid>> AppStore::stopAllAndStartPending() {
    if (!pendingPick_ || startInFlight_)
        co_return std::nullopt;
    const PendingStart pick = *pendingPick_;
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    const FlagScope starting(startInFlight_, life, signInGeneration_);
    const std::vector<TimerSession> open = sessions_;
    for (const TimerSession& session : open) {
        bool stopped = false;
        try {
            co_await stopOnService(session.jobTimeServerId, stopTimeOf(session));
            stopped = true;
        } catch (const OrvaneAPIError& e) {
            stopped = e.kind() == OrvaneAPIError::Kind::JobTimeAlreadyStopped;
        } catch (...) {
        }
        if (!life || generation != signInGeneration_)
            co_return std::nullopt;
        if (stopped)
            noteSessionEvent(session.jobTimeServerId, false);
    }
    setSessions({});
    // The start names the new active session; a refused start leaves none.
    setActiveSessionId(std::nullopt);
    updateTickTimer();
    setPendingPick(std::nullopt);
    setShowMultiTimerSheet(false);
    co_return co_await startSession(pick.client, pick.job, pick.task);
}

// ---- Stop ----

namespace {

// Notes a session's stop as under way for as long as it lives.
class StopMark {
public:
    StopMark(std::set<QUuid>& marks, QUuid id, AppStore::Life life)
        : marks_(marks), id_(id), life_(std::move(life)) {
        marks_.insert(id_);
    }
    ~StopMark() {
        if (life_)
            marks_.erase(id_);
    }
    StopMark(const StopMark&) = delete;
    StopMark& operator=(const StopMark&) = delete;

private:
    std::set<QUuid>& marks_;
    QUuid id_;
    AppStore::Life life_;
};

// The service could not be reached, or did not answer in time. What it
// answered itself, a failure included, stands until the next start or stop.
bool serviceWasAway(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const TransportError& e) {
        return !e.cancelled() && !e.isTooLarge();
    } catch (...) {
    }
    return false;
}

} // namespace

void AppStore::showTimerActionError(const std::exception_ptr& error) {
    const QString text = describeError(error);
    setLoginError(text);
    if (serviceWasAway(error))
        awayErrorShown_ = AwayError{text, readBacksSent_};
    else
        awayErrorShown_.reset();
}

void AppStore::removeSession(const QUuid& id) {
    std::vector<TimerSession> next = sessions_;
    std::erase_if(next, [&](const TimerSession& s) { return s.id == id; });
    setSessions(std::move(next));
    if (activeSessionId_ == id)
        setActiveSessionId(sessions_.empty() ? std::nullopt : std::optional(sessions_.front().id));
    updateTickTimer();
}

QCoro::Task<void> AppStore::stopSession(QUuid id) {
    const TimerSession* open = findSession(id);
    // A double click, the card and the shortcut may all ask at once: one
    // stop per session goes out.
    if (!open || stopsInFlight_.count(id))
        co_return;
    const Life life = this->life();
    const StopMark marked(stopsInFlight_, id, life);
    const quint64 generation = signInGeneration_;
    const TimerSession session = *open;
    const QDateTime stoppedAt = stopTimeOf(session);
    std::optional<JobTimeCompactDTO> reply;
    std::exception_ptr error;
    try {
        reply = co_await stopOnService(session.jobTimeServerId, stoppedAt);
    } catch (...) {
        error = std::current_exception();
    }
    if (!life || generation != signInGeneration_)
        co_return;
    const QString key = session.jobTimeServerId.trimmed();
    if (error) {
        const auto e = apiError(error);
        if (e && e->kind() == OrvaneAPIError::Kind::JobTimeAlreadyStopped) {
            noteSessionEvent(session.jobTimeServerId, false);
            if (unansweredStops_.count(key)) {
                const bool completed = co_await completeUnansweredStop(key);
                if (completed || !life || generation != signInGeneration_)
                    co_return;
            }
            co_await removeSessionLocally(id);
            co_return;
        }
        if (mayHaveActed(error))
            unansweredStops_.insert_or_assign(key,
                                              UnansweredStop{session, stoppedAt, readBacksSent_});
        co_await handleAccountNotReady(error);
        if (!life || generation != signInGeneration_)
            co_return;
        showTimerActionError(error);
        co_return;
    }
    finishStop(session, stoppedAt, *reply);
}

QCoro::Task<JobTimeCompactDTO> AppStore::stopOnService(QString jobTimeId, QDateTime endedAt) {
    const QString key = jobTimeId.trimmed();
    std::shared_ptr<SingleFlight<JobTimeCompactDTO>>& slot = stopFlights_[key];
    if (!slot)
        slot = std::make_shared<SingleFlight<JobTimeCompactDTO>>();
    const std::shared_ptr<SingleFlight<JobTimeCompactDTO>> flight = slot;
    const Life life = this->life();
    const auto forget = [&] {
        if (!life)
            return;
        const auto it = stopFlights_.find(key);
        if (it != stopFlights_.end() && it->second == flight && !flight->inFlight())
            stopFlights_.erase(it);
    };
    std::function<QCoro::Task<JobTimeCompactDTO>()> body = [this, jobTimeId, endedAt] {
        return api_.stopJobTime(jobTimeId, endedAt);
    };
    std::optional<JobTimeCompactDTO> reply;
    std::exception_ptr error;
    try {
        reply = co_await flight->run(std::move(body));
    } catch (...) {
        error = std::current_exception();
    }
    forget();
    if (error)
        std::rethrow_exception(error);
    co_return std::move(*reply);
}

QCoro::Task<bool> AppStore::completeUnansweredStop(QString jobTimeId) {
    const QString key = jobTimeId.trimmed();
    const auto stopUnderWay = [this, &key] {
        const auto flight = stopFlights_.find(key);
        return flight != stopFlights_.end() && flight->second && flight->second->inFlight();
    };
    // A stop under way ends it itself; its answer, or its refusal, comes here.
    const auto it = unansweredStops_.find(key);
    if (it == unansweredStops_.end() || stopUnderWay())
        co_return false;
    const UnansweredStop stop = it->second;
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    std::optional<JobTimeCompactDTO> entry;
    try {
        entry = co_await api_.fetchJobTime(stop.session.jobTimeServerId);
    } catch (...) {
    }
    // Kept for the next read-back when the service could not be asked;
    // ended elsewhere meanwhile (the entry is gone), or a stop went out again:
    // then that road makes the record, not this one.
    if (!life || generation != signInGeneration_ || !entry || !unansweredStops_.count(key) ||
        stopUnderWay())
        co_return false;
    unansweredStops_.erase(key);
    if (entry->id.trimmed() != key)
        co_return false;
    // Only the service's own end time makes the record.
    const std::optional<QDateTime> endedAt = parseServerDate(entry->endTime);
    if (!endedAt)
        co_return false;
    TimerSession session = stop.session;
    if (const auto start = parseServerDate(entry->startTime))
        session.startedAt = *start;
    finishStop(session, *endedAt, *entry);
    co_return true;
}

QCoro::Task<void> AppStore::settleUnansweredStop(QString jobTimeId) {
    co_await completeUnansweredStop(jobTimeId);
}

void AppStore::finishStop(const TimerSession& session, const QDateTime& stoppedAt,
                          const JobTimeCompactDTO& reply) {
    const QUuid id = session.id;
    unansweredStops_.erase(session.jobTimeServerId.trimmed());
    noteSessionEvent(session.jobTimeServerId, false);
    const std::optional<QString> direction =
        reply.roundDirection ? reply.roundDirection : session.timeRoundDirection;
    const std::optional<qint64> step = reply.roundValue ? reply.roundValue : session.timeRoundValue;
    const qint64 booked = entryDurationSecs(reply).value_or(
        minuteGridRoundedSecs(session.startedAt, stoppedAt, direction, step));
    removeSession(id);
    recordStoppedSession(session, stoppedAt, booked);
    setPendingPick(std::nullopt);
    setShowMultiTimerSheet(false);
    if (isLoggedIn_) {
        StoppedSummary summary;
        summary.id = QUuid::createUuid();
        summary.jobTimeServerId = session.jobTimeServerId;
        summary.clientName = session.clientDisplayName;
        summary.clientInitials = session.clientInitials;
        summary.clientColorHex = session.clientColorHex;
        summary.jobTitle = session.jobTitle;
        summary.taskTitle = session.taskTitle;
        summary.elapsedSecs = booked;
        summary.startedAt = session.startedAt;
        summary.endedAt = stoppedAt;
        summary.pauseCount = session.pauseCount;
        summary.pauseSecs = session.pauseSecs;
        summary.timeRoundDirection = direction;
        summary.timeRoundValueMinutes = step;
        summary.billable = reply.billable.value_or(true);
        summary.trackedBeforeExcludingThisEntrySecs = session.trackedBeforeSecs;
        summary.projectTrackedSecs = saturatingAdd(session.trackedBeforeSecs, booked);
        summary.projectBudgetSecs = std::max<qint64>(session.budgetSecs, 0);
        spawn([this, summary] { return publishStoppedSummary(summary); });
    }
    setLoginError(std::nullopt);
}

QCoro::Task<void> AppStore::publishStoppedSummary(StoppedSummary summary) {
    if (isLoggedIn_)
        setLastStoppedSummary(std::move(summary));
    co_return;
}

void AppStore::recordStoppedSession(const TimerSession& session, const QDateTime& endedAt,
                                    qint64 elapsedSecs) {
    platform::ModelContext* context = modelContext_.data();
    if (!context)
        return;
    StoppedSessionRecord record;
    record.localId = session.id;
    record.jobTimeServerId = session.jobTimeServerId;
    record.clientName = session.clientDisplayName;
    record.jobTitle = session.jobTitle;
    record.taskTitle = session.taskTitle;
    record.startedAt = session.startedAt;
    record.endedAt = endedAt;
    record.elapsedSecs = elapsedSecs;
    record.pauseCount = session.pauseCount;
    record.pauseSecs = session.pauseSecs;
    context->insert(StoppedSessionRecord::table(), record.row());
    context->save(); // a failed save is dropped; the stop itself stands
}

QCoro::Task<void> AppStore::removeSessionLocally(QUuid id) {
    if (!findSession(id))
        co_return;
    removeSession(id);
    spawn([this] { return refreshAfterSessionChange(); });
    platform::Haptics::shared().perform(platform::HapticPattern::Generic);
}

QCoro::Task<void> AppStore::updateStoppedEntry(bool billable, QString roundDirection,
                                               qint64 roundValue) {
    if (!lastStoppedSummary_)
        co_return;
    const StoppedSummary summary = *lastStoppedSummary_;
    QString direction = roundDirection.trimmed().toLower();
    if (direction != u"up" && direction != u"down" && direction != u"closest")
        direction = QStringLiteral("down");
    const qint64 step = roundValue > 1 ? roundValue : 1;
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    std::optional<JobTimeCompactDTO> updated;
    try {
        updated = co_await api_.updateJobTime(summary.jobTimeServerId, billable, direction, step);
    } catch (...) {
        if (life && generation == signInGeneration_)
            endSessionIfTokenRefused(std::current_exception());
        throw;
    }
    if (!life || generation != signInGeneration_)
        co_return;
    // The billable sum changed on the service: a refresh already under way
    // or just done must not stand in for one that reads it.
    spawn([this] { return refreshAfterSessionChange(); });
    JobTimeCompactDTO entry = *updated;
    try {
        entry = co_await api_.fetchJobTime(summary.jobTimeServerId);
    } catch (...) {
    }
    if (!life || generation != signInGeneration_)
        co_return;
    // Closed meanwhile, or a later stop's summary took its place: this
    // result would bring back or overwrite what the user sees now.
    if (!lastStoppedSummary_ || lastStoppedSummary_->jobTimeServerId != summary.jobTimeServerId)
        co_return;
    const qint64 booked = entryDurationSecs(entry).value_or(
        minuteGridRoundedSecs(summary.startedAt, summary.endedAt, direction, step));
    StoppedSummary next = summary;
    next.elapsedSecs = booked;
    next.timeRoundDirection = direction;
    next.timeRoundValueMinutes = step;
    next.billable = billable;
    next.projectTrackedSecs = saturatingAdd(summary.trackedBeforeExcludingThisEntrySecs, booked);
    setLastStoppedSummary(std::move(next));
    setLoginError(std::nullopt);
}

void AppStore::resumeFromBreak(const QUuid& sessionId, bool countBreakAsWork) {
    TimerSession* open = findSession(sessionId);
    if (!open || !open->onBreakSince)
        return;
    std::vector<TimerSession> next = sessions_;
    TimerSession& s = next[static_cast<size_t>(open - sessions_.data())];
    const qint64 d = std::max<qint64>(secondsBetween(*s.onBreakSince, now()), 0);
    if (countBreakAsWork) {
        s.elapsedSecs += d;
    } else {
        s.pauseCount += 1;
        s.pauseSecs += d;
    }
    s.onBreak = false;
    s.onBreakSince.reset();
    s.running = true;
    setSessions(std::move(next));
}

} // namespace orvane
