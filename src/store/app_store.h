#pragma once

#include "platform/model_container.h"
#include "service/catalog_records.h"
#include "service/envelopes.h"
#include "service/orvane_api_client.h"
#include "service/user_records.h"
#include "store/appearance.h"
#include "store/recent_task_item.h"
#include "store/single_flight.h"
#include "store/timer_session.h"

#include <QDateTime>
#include <QImage>
#include <QUrl>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUuid>

#include <QCoroTask>

#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace orvane {

// The application's state and every operation on it. Lives on the main
// thread; operations that talk to the service are coroutines that never throw
// (except updateStoppedEntry) and report through the observed properties.
class AppStore : public QObject {
    Q_OBJECT
public:
    // The observed properties; `changed` names the one that changed.
    enum class Property {
        IsLoggedIn,
        RememberMe,
        BiometricLoginEnabled,
        BiometricKeychainPopulated,
        CurrentUser,
        LoginError,
        TwoFactorPendingEmail,
        TwoFactorPendingPassword,
        Clients,
        ClientsFetchError,
        RecentTasks,
        IsRefreshingRecentTasks,
        TodayTotalSecs,
        TodaySessionsCount,
        TodayProjectsCount,
        TodayBillableEuroCents,
        TodayBillableWorkedSecs,
        InvoiceableSummary,
        Sessions,
        ActiveSessionId,
        PendingPick,
        ShowMultiTimerSheet,
        LastStoppedSummary,
        AccentStyle,
        RingVariant,
        ScreenAwakeWhenTimer,
        Density,
        LastLiveActivitySyncFromTick,
    };
    Q_ENUM(Property)

    explicit AppStore(QObject* parent = nullptr);
    ~AppStore() override;

    // ---- Observed state ----
    bool isLoggedIn() const { return isLoggedIn_; }
    void setIsLoggedIn(bool v) { assign(isLoggedIn_, v, Property::IsLoggedIn); }
    bool rememberMe() const { return rememberMe_; }
    void setRememberMe(bool v) { assign(rememberMe_, v, Property::RememberMe); }
    bool biometricLoginEnabled() const { return biometricLoginEnabled_; }
    void setBiometricLoginEnabled(bool v); // persists
    bool biometricKeychainPopulated() const { return biometricKeychainPopulated_; }
    void setBiometricKeychainPopulated(bool v) {
        assign(biometricKeychainPopulated_, v, Property::BiometricKeychainPopulated);
    }
    const std::optional<APIUser>& currentUser() const { return currentUser_; }
    void setCurrentUser(std::optional<APIUser> v) {
        assign(currentUser_, std::move(v), Property::CurrentUser);
    }
    const std::optional<QString>& loginError() const { return loginError_; }
    void setLoginError(std::optional<QString> v) {
        assign(loginError_, std::move(v), Property::LoginError);
    }
    const std::optional<QString>& twoFactorPendingEmail() const { return twoFactorPendingEmail_; }
    void setTwoFactorPendingEmail(std::optional<QString> v) {
        if (v != twoFactorPendingEmail_)
            ++codeStepChanges_;
        assign(twoFactorPendingEmail_, std::move(v), Property::TwoFactorPendingEmail);
    }
    const std::optional<QString>& twoFactorPendingPassword() const {
        return twoFactorPendingPassword_;
    }
    void setTwoFactorPendingPassword(std::optional<QString> v) {
        assign(twoFactorPendingPassword_, std::move(v), Property::TwoFactorPendingPassword);
    }
    const std::vector<ClientDTO>& clients() const { return clients_; }
    void setClients(std::vector<ClientDTO> v) { assign(clients_, std::move(v), Property::Clients); }
    const std::optional<QString>& clientsFetchError() const { return clientsFetchError_; }
    void setClientsFetchError(std::optional<QString> v) {
        assign(clientsFetchError_, std::move(v), Property::ClientsFetchError);
    }
    const std::vector<RecentTaskItem>& recentTasks() const { return recentTasks_; }
    void setRecentTasks(std::vector<RecentTaskItem> v) {
        assign(recentTasks_, std::move(v), Property::RecentTasks);
    }
    bool isRefreshingRecentTasks() const { return isRefreshingRecentTasks_; }
    // A full refresh, or one of today's figures or the recent tasks, is
    // under way: its answers may still change what is shown.
    bool isRefreshing() const {
        return refreshAllInFlight_.inFlight() || dashboardAggregatesRefreshTask_.inFlight() ||
               recentTasksRefreshTask_.inFlight();
    }
    void setIsRefreshingRecentTasks(bool v) {
        assign(isRefreshingRecentTasks_, v, Property::IsRefreshingRecentTasks);
    }
    qint64 todayTotalSecs() const { return todayTotalSecs_; }
    void setTodayTotalSecs(qint64 v) { assign(todayTotalSecs_, v, Property::TodayTotalSecs); }
    qint64 todaySessionsCount() const { return todaySessionsCount_; }
    void setTodaySessionsCount(qint64 v) {
        assign(todaySessionsCount_, v, Property::TodaySessionsCount);
    }
    qint64 todayProjectsCount() const { return todayProjectsCount_; }
    void setTodayProjectsCount(qint64 v) {
        assign(todayProjectsCount_, v, Property::TodayProjectsCount);
    }
    qint64 todayBillableEuroCents() const { return todayBillableEuroCents_; }
    void setTodayBillableEuroCents(qint64 v) {
        assign(todayBillableEuroCents_, v, Property::TodayBillableEuroCents);
    }
    qint64 todayBillableWorkedSecs() const { return todayBillableWorkedSecs_; }
    void setTodayBillableWorkedSecs(qint64 v) {
        assign(todayBillableWorkedSecs_, v, Property::TodayBillableWorkedSecs);
    }
    const std::optional<InvoiceableSummaryDTO>& invoiceableSummary() const {
        return invoiceableSummary_;
    }
    void setInvoiceableSummary(std::optional<InvoiceableSummaryDTO> v) {
        assign(invoiceableSummary_, std::move(v), Property::InvoiceableSummary);
    }
    const std::vector<TimerSession>& sessions() const { return sessions_; }
    void setSessions(std::vector<TimerSession> v) {
        assign(sessions_, std::move(v), Property::Sessions);
    }
    const std::optional<QUuid>& activeSessionId() const { return activeSessionId_; }
    void setActiveSessionId(std::optional<QUuid> v) {
        assign(activeSessionId_, v, Property::ActiveSessionId);
    }
    const std::optional<PendingStart>& pendingPick() const { return pendingPick_; }
    void setPendingPick(std::optional<PendingStart> v) {
        assign(pendingPick_, std::move(v), Property::PendingPick);
    }
    bool showMultiTimerSheet() const { return showMultiTimerSheet_; }
    void setShowMultiTimerSheet(bool v) {
        assign(showMultiTimerSheet_, v, Property::ShowMultiTimerSheet);
    }
    const std::optional<StoppedSummary>& lastStoppedSummary() const { return lastStoppedSummary_; }
    void setLastStoppedSummary(std::optional<StoppedSummary> v) {
        assign(lastStoppedSummary_, std::move(v), Property::LastStoppedSummary);
    }
    orvane::AccentStyle accentStyle() const { return accentStyle_; }
    void setAccentStyle(orvane::AccentStyle v); // persists
    orvane::RingVariant ringVariant() const { return ringVariant_; }
    bool screenAwakeWhenTimer() const { return screenAwakeWhenTimer_; }
    void setScreenAwakeWhenTimer(bool v); // persists
    orvane::Density density() const { return density_; }
    const std::optional<QDateTime>& lastLiveActivitySyncFromTick() const {
        return lastLiveActivitySyncFromTick_;
    }

    OrvaneAPIClient& api() { return api_; }

    // The persistence context stopped sessions are recorded through; held
    // weakly, set when the popover is first shown.
    void setModelContext(platform::ModelContext* context);
    platform::ModelContext* modelContext() const;

    // ---- Preferences and start-up ----
    void syncBiometricKeychainFlag();
    void restoreRememberedSession();

    // ---- Timer sessions and the one-second tick ----
    void updateTickTimer();
    void tick();
    bool tickActive() const { return tick_ != nullptr; }
    // Until the tick after `now`: just past the shown session's next second,
    // so that every clock on screen turns on one wake-up.
    int msUntilNextTick(const QDateTime& now) const;

    // ---- Sign-in ----
    QCoro::Task<void> login(QString email, QString password, std::optional<QString> code);
    QCoro::Task<void> completeLogin(LoginSuccessDTO reply, QString email,
                                    std::optional<QString> password);
    QCoro::Task<void> loginWithBiometrics(bool interactive);
    QCoro::Task<void> restoreSession(QString token);
    QCoro::Task<void> refreshCurrentUser();
    void signOut();
    QCoro::Task<void> handleAccountNotReady(std::exception_ptr error);

    // ---- Running timers ----
    // Rebuilds the sessions from the service's running job times; true when
    // the set of running job times changed.
    QCoro::Task<bool> restoreActiveSessions();
    QCoro::Task<std::optional<TimerSession>> makeTimerSession(JobTimeCompactDTO entry);
    std::optional<TimerSession> buildTimerSession(const JobTimeCompactDTO& entry) const;
    void preserveLocalBreakState(std::vector<TimerSession>& fresh) const;
    // Booked seconds of a task's job times, all pages, without one job time.
    QCoro::Task<qint64> fetchTrackedSecs(QString jobTaskId, QString excludingJobTimeId);
    // One page of the job-times list (100 per page) with the given filter.
    QCoro::Task<PaginatedResponse<JobTimeCompactDTO>> fetchJobTimesPage(QueryParameters filter,
                                                                        int page);
    // The same page's request, and the reading of its answer.
    QCoro::Task<PerformResult> requestJobTimesPage(QueryParameters filter, int page);
    static PaginatedResponse<JobTimeCompactDTO> decodeJobTimesPage(const PerformResult& result);

    // ---- Start ----
    QCoro::Task<std::optional<QUuid>> requestStart(ClientDTO client, JobDTO job, JobTaskDTO task);
    QCoro::Task<std::optional<QUuid>> startFromRecentTask(RecentTaskItem item);
    QCoro::Task<std::optional<QUuid>> stopAllAndStartPending();
    QCoro::Task<std::optional<QUuid>> startSession(ClientDTO client, JobDTO job, JobTaskDTO task);
    QCoro::Task<std::optional<QUuid>> startSession(RecentTaskItem item);
    QCoro::Task<JobDTO> loadJob(RecentTaskItem item, JobTaskDTO task);
    QCoro::Task<ClientDTO> loadClient(RecentTaskItem item, JobDTO job);
    QCoro::Task<void> loadTrackedBeforeSecs(QUuid sessionId, QString jobTaskId, QString jobTimeId);
    void setTrackedBeforeSecs(qint64 value, const QUuid& sessionId);
    void clearTrackedBeforeSecs(const QUuid& sessionId) { setTrackedBeforeSecs(0, sessionId); }
    QCoro::Task<void> refreshAfterSessionChange();
    QCoro::Task<void> refreshAfterOwnChange(SingleFlight<void>& flight,
                                            std::function<QCoro::Task<void>()> body);
    // The account allows no new timers.
    bool startGateRefuses() const;

    // ---- Stop ----
    QCoro::Task<void> stopSession(QUuid id);
    void resumeFromBreak(const QUuid& sessionId, bool countBreakAsWork);
    // Throws what the service answered; nothing changes then.
    QCoro::Task<void> updateStoppedEntry(bool billable, QString roundDirection, qint64 roundValue);
    QCoro::Task<void> removeSessionLocally(QUuid id);
    // The one road to the service's stop: a stop of a job time already on its
    // way is joined, not sent again, whichever view asks.
    QCoro::Task<JobTimeCompactDTO> stopOnService(QString jobTimeId, QDateTime endedAt);
    // A stop the service took: the session leaves, with its record and summary.
    void finishStop(const TimerSession& session, const QDateTime& stoppedAt,
                    const JobTimeCompactDTO& reply);
    // A stop whose answer was lost turned out done on the service: finished
    // here with the service's times.
    // False when the service did not show that end.
    QCoro::Task<bool> completeUnansweredStop(QString jobTimeId);
    QCoro::Task<void> settleUnansweredStop(QString jobTimeId);
    void recordStoppedSession(const TimerSession& session, const QDateTime& endedAt,
                              qint64 elapsedSecs);
    QCoro::Task<void> publishStoppedSummary(StoppedSummary summary);

    // ---- Refreshes ----
    QCoro::Task<void> refreshAll();
    QCoro::Task<void> syncWithServer();
    QCoro::Task<void> refreshOnPopoverOpen();
    QCoro::Task<void> refreshDashboardAndRecentTasks();
    QCoro::Task<void> refreshDashboardAggregatesThrottled();
    QCoro::Task<void> refreshRecentTasksThrottled();
    QCoro::Task<void> loadClients();
    QCoro::Task<std::optional<QImage>> loadAvatarImage(QUrl url);

    // ---- Today's figures ----
    struct DayFigures {
        qint64 totalSecs = 0;
        qint64 billableWorkedSecs = 0;
        qint64 billableEuroCents = 0;
        qint64 sessionsCount = 0;
        qint64 projectsCount = 0;
        bool operator==(const DayFigures&) const = default;
    };
    QCoro::Task<void> refreshDashboardAggregates();
    QCoro::Task<DayFigures> fetchTodayJobTimes(QString from, QString to, QDateTime dayStart,
                                               QDateTime dayEnd, std::optional<QString> userRate);
    void saveDashboardAggregatesCache();
    void loadDashboardAggregatesCache();
    qint64 todayTargetSecs() const;
    qint64 todayTrackedSecsLive() const;
    // Today's figures of a day that has ended start the new day at zero,
    // before the service has said anything of it: at midnight, and at each
    // sync and opening (a machine that slept through midnight).
    void followDayChange();
    static QString dashboardCacheKey(const QString& userId);

    // ---- Recent tasks ----
    QCoro::Task<void> refreshRecentTasks();
    // The latest finished job time of each task in the history window, most
    // recent first.
    QCoro::Task<std::vector<RecentTaskItem>> fetchRecentTaskTotals();
    static std::vector<RecentTaskItem> latestPerTask(std::vector<JobTimeCompactDTO> history);
    // The history window ("from", "to") as of now.
    static QueryParameters recentTaskWindow();
    struct TaskTotals {
        qint64 today = 0;
        qint64 total = 0;
    };
    QCoro::Task<std::map<QString, TaskTotals>> fetchJobTasksConcurrently(std::vector<QString> ids);

    // Advanced by every completed sign-in and by the sign-out: work that
    // resumes under another generation writes nothing.
    quint64 signInGeneration() const { return signInGeneration_; }

    // Held by each coroutine of the store from its start: replies that
    // arrive after the store is gone resume it, and it must then end
    // without touching the store.
    class Life {
    public:
        explicit operator bool() const { return *flag_; }

    private:
        friend class AppStore;
        explicit Life(std::shared_ptr<const bool> flag) : flag_(std::move(flag)) {}
        std::shared_ptr<const bool> flag_;
    };
    Life life() const { return Life(alive_); }

Q_SIGNALS:
    void changed(orvane::AppStore::Property property);
    // Each firing of the one-second tick, after its changes: what shows a
    // live figure redraws from here, on the second the clocks turn.
    void ticked();

private:
    template <class T> void assign(T& field, T value, Property property) {
        const bool differs = !(field == value);
        field = std::move(value);
        if (differs)
            Q_EMIT changed(property);
    }

    QCoro::Task<void> performBiometricLogin(bool interactive);
    QCoro::Task<void> biometricFallbackAfterRefusedToken(QString email,
                                                         std::optional<QString> password,
                                                         quint64 signOuts);
    // Stores the session's token in the background; a failure shows when the
    // keyring answers.
    QCoro::Task<void> rememberToken(QString token);
    void forgetBiometricSignIn();
    QCoro::Task<void> keepBiometricSignInWithoutToken();
    QCoro::Task<void> restoreRememberedToken();
    void appendStartedSession(TimerSession session);
    // The open session with this id, or nullptr.
    TimerSession* findSession(const QUuid& id);
    struct StartedJobTime {
        JobTimeCompactDTO reply;
        QDateTime start;
    };
    // Starts a job time; failures end up in loginError.
    QCoro::Task<std::optional<StartedJobTime>> startJobTimeOnService(QString clientId,
                                                                     QString jobTaskId);
    void removeSession(const QUuid& id);
    // Shows why a start or stop failed; a failure for want of the service is
    // taken back by the next read-back it answers.
    void showTimerActionError(const std::exception_ptr& error);
    // Runs `work` as a task of its own once the current operation has returned.
    void spawn(std::function<QCoro::Task<void>()> work);
    QCoro::Task<void> performDashboardAggregatesRefresh();
    QCoro::Task<void> performRecentTasksRefresh();
    QCoro::Task<void> performClientsLoad();
    // Milliseconds since the stamp on the monotonic clock; none without one.
    static std::optional<qint64> ageOf(const std::optional<qint64>& stamp);
    // A read of another day's, or a failed one: a sync that would skip it reads again.
    static bool readIsStale(const std::optional<QString>& readForDay);
    void armDayChange();
    void playSignInHaptic();
    // A new account state: refreshes of the old one run on detached, and
    // neither join nor throttle the new one's.
    void beginSignedInGeneration();
    // A request made with the token while signed in was refused (401): the
    // token is dead, so the signed-in state ends as at a sign-out, with the
    // error shown. True when that happened.
    bool endSessionIfTokenRefused(const std::exception_ptr& error);
    // Starts and stops made here while a read-back of the running timers is
    // under way, so that the read-back neither drops nor revives them.
    void noteSessionEvent(const QString& jobTimeServerId, bool started);
    static QCoro::Task<QString> hostName();

    bool isLoggedIn_ = false;
    bool rememberMe_ = true;
    bool biometricLoginEnabled_ = false;
    bool biometricKeychainPopulated_ = false;
    std::optional<APIUser> currentUser_;
    std::optional<QString> loginError_;
    std::optional<QString> twoFactorPendingEmail_;
    std::optional<QString> twoFactorPendingPassword_;
    std::vector<ClientDTO> clients_;
    std::optional<QString> clientsFetchError_;
    std::vector<RecentTaskItem> recentTasks_;
    bool isRefreshingRecentTasks_ = false;
    qint64 todayTotalSecs_ = 0;
    qint64 todaySessionsCount_ = 0;
    qint64 todayProjectsCount_ = 0;
    qint64 todayBillableEuroCents_ = 0;
    qint64 todayBillableWorkedSecs_ = 0;
    std::optional<InvoiceableSummaryDTO> invoiceableSummary_;
    std::vector<TimerSession> sessions_;
    std::optional<QUuid> activeSessionId_;
    std::optional<PendingStart> pendingPick_;
    bool showMultiTimerSheet_ = false;
    std::optional<StoppedSummary> lastStoppedSummary_;
    orvane::AccentStyle accentStyle_ = orvane::AccentStyle::Gradient;
    orvane::RingVariant ringVariant_ = orvane::RingVariant::Gradient;
    bool screenAwakeWhenTimer_ = false;
    orvane::Density density_ = orvane::Density::Cozy;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    OrvaneAPIClient api_;
    std::unique_ptr<QTimer> tick_;
    std::optional<QDateTime> lastLiveActivitySyncFromTick_;
    SingleFlight<void> refreshAllInFlight_;
    SingleFlight<void> activeBiometricLogin_;
    SingleFlight<void> recentTasksRefreshTask_;
    std::optional<qint64> lastRecentTasksRefreshAt_; // monotonic ms
    SingleFlight<void> dashboardAggregatesRefreshTask_;
    std::optional<qint64> lastDashboardAggregatesRefreshAt_; // monotonic ms
    // The Berlin day today's figures and the recent tasks were last read for;
    // empty after a failed read, none before the first.
    std::optional<QString> figuresReadForDay_;
    std::optional<QString> recentTasksReadForDay_;
    // The Berlin day the figures shown, the recent tasks' today and the
    // summary's today period count; none while there is nothing to count.
    std::optional<QString> figuresDay_;
    std::optional<QString> recentTasksDay_;
    std::optional<QString> summaryDay_;
    // The history pages of the last read and what was drawn from them: a
    // sync whose pages come back the same is not read again. A page is kept
    // as its size and seeded hash: the bodies would stay for the whole session.
    struct HistoryPage {
        qsizetype size = 0;
        size_t hash = 0;
        bool last = false;
    };
    struct HistoryRead {
        QueryParameters window;
        std::vector<HistoryPage> pages;
        std::vector<RecentTaskItem> latest;
    };
    std::optional<HistoryRead> lastHistoryRead_;
    QTimer dayChange_; // at the next midnight in Berlin, while a day is counted
    QPointer<platform::ModelContext> modelContext_;
    quint64 signInGeneration_ = 0;
    quint64 clientLoadsStarted_ = 0;
    std::shared_ptr<SingleFlight<void>> latestClientsLoad_;
    quint64 signOutCount_ = 0;    // cancels a biometric sign-in in flight
    quint64 codeStepChanges_ = 0; // the code step opened or closed
    bool startInFlight_ = false;  // a start is on its way to the service
    std::set<QUuid> stopsInFlight_;
    std::map<QString, std::shared_ptr<SingleFlight<JobTimeCompactDTO>>> stopFlights_;
    // Stops that failed without a clear answer: the service may have acted.
    struct UnansweredStop {
        TimerSession session;
        QDateTime stoppedAt;
        quint64 readBacksBefore = 0; // read-backs sent before the stop failed
    };
    std::map<QString, UnansweredStop> unansweredStops_;
    // Running job times whose task came back too large to read: each sync
    // would be refused the same way, so they keep what they were shown with.
    std::set<QString> taskReadsRefused_;
    struct AwayError {
        QString text;
        quint64 readBacksBefore = 0; // read-backs sent before it was shown
    };
    std::optional<AwayError> awayErrorShown_;
    struct SessionEvent {
        quint64 seq;
        QString jobTimeServerId;
        bool started;
    };
    std::vector<SessionEvent> sessionEvents_; // only while a read-back runs
    quint64 sessionEventSeq_ = 0;
    int restoresInFlight_ = 0;
    quint64 readBacksSent_ = 0;
    quint64 readBackApplied_ = 0;
};

} // namespace orvane
