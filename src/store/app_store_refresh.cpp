#include "store/app_store.h"

#include "store/avatar_image.h"
#include "store/error_text.h"

#include "platform/clock.h"
#include "platform/user_defaults.h"
#include "platform/worker_pool.h"
#include "store/time_money_helpers.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>
#include <set>

namespace orvane {

namespace {

constexpr qint64 kThrottleMs = 2500;
constexpr int kHistoryDays = 548;
constexpr int kMostHistoryPages = 80;
// Two days hold far fewer job times than this many pages; a service that
// keeps announcing more must not keep the figures loading for ever.
constexpr int kMostDayPages = 80;
constexpr size_t kTaskRequestsAtOnce = 5;
constexpr size_t kMostRecentTasks = 10;
constexpr qint64 kDefaultDailyTargetSecs = 28800;

// Seconds since 1 January 2001 UTC, the reference date of the cache's dates.
const QDateTime kReferenceDate(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);

// The Berlin day of a cache stamp.
QString dayOfStamp(double secondsSinceReference) {
    const double ms = std::clamp(secondsSinceReference, -1e13, 1e13) * 1000.0;
    return berlinDayKey(kReferenceDate.addMSecs(saturatingRound(ms)));
}

std::optional<qint64> roundHalfAway(double value) {
    return wire::roundToInt64(value);
}

QString taskKeyOf(const JobTimeCompactDTO& entry, bool& has) {
    has = true;
    if (entry.jobtaskId)
        return *entry.jobtaskId;
    if (entry.jobTask)
        return entry.jobTask->id;
    has = false;
    return {};
}

QDateTime endDateOf(const JobTimeCompactDTO& entry) {
    // Unreadable or absent ends sort as the distant past.
    return parseServerDate(entry.endTime.value_or(QString()))
        .value_or(QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::min() / 2, Qt::UTC));
}

RecentTaskItem entryFrom(const JobTimeCompactDTO& e) {
    RecentTaskItem item;
    item.clientId = e.clientId ? *e.clientId : e.client ? e.client->id : QString();
    item.jobId = e.job ? e.job->id : QString();
    item.taskId = e.jobtaskId ? *e.jobtaskId : e.jobTask ? e.jobTask->id : QString();
    if (e.client)
        item.clientName = e.client->customerName ? *e.client->customerName
                                                 : e.client->companyName.value_or(QString());
    item.jobTitle = e.job ? e.job->title.value_or(QString()) : QString();
    if (e.job && e.job->jobNumber)
        item.jobNumber = e.job->jobNumber;
    else if (e.jobTask)
        item.jobNumber = e.jobTask->jobNumber;
    item.projectNumber = e.job ? e.job->projectNumber : std::nullopt;
    item.taskTitle = e.jobTask ? e.jobTask->title.value_or(QString()) : QString();
    item.clientInitials =
        clientInitials(item.clientName.isEmpty() ? QStringLiteral("?") : item.clientName);
    item.clientColorHex = clientColorHex(item.clientId.isEmpty() ? item.clientName : item.clientId);
    item.roundDirection = e.roundDirection;
    item.roundValue = e.roundValue;
    return item;
}

struct DashboardCache {
    QString userId;
    double savedAt = 0;
    qint64 todayTotalSecs = 0;
    qint64 todaySessionsCount = 0;
    qint64 todayProjectsCount = 0;
    qint64 todayBillableEuroCents = 0;
    std::optional<qint64> todayBillableWorkedSecs;
    std::optional<InvoiceableSummaryDTO> invoiceableSummary;
    std::optional<std::vector<RecentTaskItem>> recentTasks;

    static DashboardCache decode(const wire::Decoder& decoder) {
        const wire::KeyedContainer c = decoder.container();
        DashboardCache r;
        r.userId = c.decode<QString>(QStringLiteral("userId"));
        r.savedAt = c.decode<double>(QStringLiteral("savedAt"));
        r.todayTotalSecs = c.decode<qint64>(QStringLiteral("todayTotalSecs"));
        r.todaySessionsCount = c.decode<qint64>(QStringLiteral("todaySessionsCount"));
        r.todayProjectsCount = c.decode<qint64>(QStringLiteral("todayProjectsCount"));
        r.todayBillableEuroCents = c.decode<qint64>(QStringLiteral("todayBillableEuroCents"));
        r.todayBillableWorkedSecs =
            c.decodeIfPresent<qint64>(QStringLiteral("todayBillableWorkedSecs"));
        r.invoiceableSummary =
            c.decodeIfPresent<InvoiceableSummaryDTO>(QStringLiteral("invoiceableSummary"));
        r.recentTasks =
            c.decodeIfPresent<std::vector<RecentTaskItem>>(QStringLiteral("recentTasks"));
        return r;
    }

    QJsonObject encode() const {
        QJsonObject o;
        o.insert(QLatin1String("userId"), userId);
        o.insert(QLatin1String("savedAt"), savedAt);
        o.insert(QLatin1String("todayTotalSecs"), todayTotalSecs);
        o.insert(QLatin1String("todaySessionsCount"), todaySessionsCount);
        o.insert(QLatin1String("todayProjectsCount"), todayProjectsCount);
        o.insert(QLatin1String("todayBillableEuroCents"), todayBillableEuroCents);
        if (todayBillableWorkedSecs)
            o.insert(QLatin1String("todayBillableWorkedSecs"), *todayBillableWorkedSecs);
        if (invoiceableSummary)
            o.insert(QLatin1String("invoiceableSummary"), invoiceableSummary->encode());
        if (recentTasks) {
            QJsonArray list;
            for (const RecentTaskItem& item : *recentTasks)
                list.append(item.encode());
            o.insert(QLatin1String("recentTasks"), list);
        }
        return wire::convertKeysToSnakeCase(o).toObject();
    }
};

} // namespace

// ---- Orchestration ----

std::optional<qint64> AppStore::ageOf(const std::optional<qint64>& stamp) {
    if (!stamp)
        return std::nullopt;
    return platform::Clock::shared().monotonicMs() - *stamp;
}

void AppStore::beginSignedInGeneration() {
    ++signInGeneration_;
    // A start of the earlier sign-in does not hold back the starts of this one.
    startInFlight_ = false;
    unansweredStops_.clear();
    taskReadsRefused_.clear();
    awayErrorShown_.reset();
    // Stops of the earlier sign-in went out with its token.
    stopFlights_.clear();
    refreshAllInFlight_.reset();
    dashboardAggregatesRefreshTask_.reset();
    recentTasksRefreshTask_.reset();
    lastDashboardAggregatesRefreshAt_.reset();
    lastRecentTasksRefreshAt_.reset();
    figuresReadForDay_.reset();
    recentTasksReadForDay_.reset();
    figuresDay_.reset();
    recentTasksDay_.reset();
    summaryDay_.reset();
    lastHistoryRead_.reset();
    dayChange_.stop();
    setIsRefreshingRecentTasks(false);
}

QCoro::Task<void> AppStore::refreshAll() {
    co_await refreshAllInFlight_.run([this]() -> QCoro::Task<void> {
        const Life life = this->life();
        const quint64 generation = signInGeneration_;
        co_await loadClients();
        if (!life || generation != signInGeneration_)
            co_return;
        co_await restoreActiveSessions();
        if (!life || generation != signInGeneration_)
            co_return;
        co_await refreshDashboardAndRecentTasks();
    });
}

QCoro::Task<void> AppStore::syncWithServer() {
    if (!isLoggedIn_)
        co_return;
    followDayChange();
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    const size_t openBefore = sessions_.size();
    const bool changedOnService = co_await restoreActiveSessions();
    if (!life || generation != signInGeneration_)
        co_return;
    const bool figuresDue = openBefore == 0 || readIsStale(figuresReadForDay_);
    const bool recentTasksDue = openBefore != 0 || readIsStale(recentTasksReadForDay_);
    if (changedOnService || (figuresDue && recentTasksDue))
        co_await refreshDashboardAndRecentTasks();
    else if (figuresDue)
        co_await refreshDashboardAggregatesThrottled();
    else
        co_await refreshRecentTasksThrottled();
}

QCoro::Task<void> AppStore::refreshOnPopoverOpen() {
    if (!isLoggedIn_)
        co_return;
    followDayChange();
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    // Awaited into a variable: g++ 12 miscompiles a co_await inside the
    // condition of an if statement.
    const bool changedOnService = co_await restoreActiveSessions();
    if (!life || generation != signInGeneration_)
        co_return;
    if (changedOnService || readIsStale(figuresReadForDay_))
        co_await refreshDashboardAndRecentTasks();
    else
        co_await refreshRecentTasksThrottled();
}

bool AppStore::readIsStale(const std::optional<QString>& readForDay) {
    return readForDay && *readForDay != berlinDayKey(platform::Clock::shared().now());
}

void AppStore::followDayChange() {
    const QString today = berlinDayKey(platform::Clock::shared().now());
    if (figuresDay_ && *figuresDay_ != today) {
        // Nothing of the new day has been booked that this client knows of;
        // a running timer counts from midnight in the live total.
        figuresDay_ = today;
        setTodayTotalSecs(0);
        setTodayBillableWorkedSecs(0);
        setTodaySessionsCount(0);
        setTodayProjectsCount(0);
        setTodayBillableEuroCents(0);
    }
    if (recentTasksDay_ && *recentTasksDay_ != today) {
        recentTasksDay_ = today;
        std::vector<RecentTaskItem> tasks = recentTasks_;
        for (RecentTaskItem& task : tasks)
            task.todayTrackedSecs = 0;
        setRecentTasks(std::move(tasks));
    }
    armDayChange();
}

void AppStore::armDayChange() {
    if (!figuresDay_ && !recentTasksDay_) {
        dayChange_.stop();
        return;
    }
    const QDateTime now = platform::Clock::shared().now();
    const qint64 toMidnight = now.msecsTo(berlinEndOfDay(now).end);
    // A wall clock set back later on is caught by the next sync.
    dayChange_.start(std::clamp<qint64>(toMidnight, 0, 24LL * 3600 * 1000));
}

QCoro::Task<void> AppStore::refreshDashboardAndRecentTasks() {
    // Both start at once; their network waits overlap.
    QCoro::Task<void> dashboard = refreshDashboardAggregatesThrottled();
    QCoro::Task<void> recent = refreshRecentTasksThrottled();
    co_await std::move(dashboard);
    co_await std::move(recent);
}

QCoro::Task<void> AppStore::refreshDashboardAggregatesThrottled() {
    // Measured on the monotonic clock, so setting the wall clock back does
    // not stop the refreshes.
    if (!dashboardAggregatesRefreshTask_.inFlight())
        if (const auto age = ageOf(lastDashboardAggregatesRefreshAt_); age && *age < kThrottleMs)
            co_return;
    co_await dashboardAggregatesRefreshTask_.run(
        [this] { return performDashboardAggregatesRefresh(); });
}

QCoro::Task<void> AppStore::refreshRecentTasksThrottled() {
    if (!recentTasksRefreshTask_.inFlight())
        if (const auto age = ageOf(lastRecentTasksRefreshAt_); age && *age < kThrottleMs)
            co_return;
    co_await recentTasksRefreshTask_.run([this] { return performRecentTasksRefresh(); });
}

QCoro::Task<void> AppStore::performDashboardAggregatesRefresh() {
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    co_await refreshDashboardAggregates();
    // A run of an earlier account throttles nothing of this one's.
    if (life && generation == signInGeneration_)
        lastDashboardAggregatesRefreshAt_ = platform::Clock::shared().monotonicMs();
}

QCoro::Task<void> AppStore::performRecentTasksRefresh() {
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    setIsRefreshingRecentTasks(true);
    co_await refreshRecentTasks();
    if (!life || generation != signInGeneration_)
        co_return;
    lastRecentTasksRefreshAt_ = platform::Clock::shared().monotonicMs();
    setIsRefreshingRecentTasks(false);
}

QCoro::Task<void> AppStore::loadClients() {
    // Every call asks the service anew, and the one asked last decides the
    // list: an earlier caller ends only with it, or it would see the list
    // from before as the answer.
    const Life life = this->life();
    const auto own = std::make_shared<SingleFlight<void>>();
    latestClientsLoad_ = own;
    std::function<QCoro::Task<void>()> body = [this] { return performClientsLoad(); };
    co_await own->run(body);
    while (life && latestClientsLoad_ && latestClientsLoad_->inFlight()) {
        const std::shared_ptr<SingleFlight<void>> latest = latestClientsLoad_;
        co_await latest->run(body);
    }
}

QCoro::Task<void> AppStore::performClientsLoad() {
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    const quint64 load = ++clientLoadsStarted_;
    // The error of the load before stays until this one has its answer: a
    // caller that awaited that load is told its outcome, not a blank.
    std::optional<PaginatedResponse<ClientDTO>> reply;
    std::exception_ptr error;
    try {
        reply = co_await api_.fetchClients(100);
    } catch (...) {
        error = std::current_exception();
    }
    // A load asked for later has the say: this older answer, or its late
    // failure, would put back a list or an error it already replaced.
    if (!life || generation != signInGeneration_ || load != clientLoadsStarted_)
        co_return;
    if (reply) {
        setClients(std::move(reply->data));
        setClientsFetchError(std::nullopt);
        co_return;
    }
    co_await handleAccountNotReady(error);
    if (!life || generation != signInGeneration_ || load != clientLoadsStarted_)
        co_return;
    setClients({});
    setClientsFetchError(describeError(error));
}

QCoro::Task<std::optional<QImage>> AppStore::loadAvatarImage(QUrl url) {
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    std::optional<ImageDataResult> result;
    try {
        result = co_await api_.fetchImageData(url, true, kAvatarMaxBytes);
    } catch (...) {
        co_return std::nullopt;
    }
    const auto status = result->response.httpStatus;
    if (!status || *status < 200 || *status > 299 || result->data.isEmpty())
        co_return std::nullopt;
    // A large photo takes a quarter of a second to decode. Named: GCC 12
    // frees a lambda made inside a co_await twice.
    auto decode = [data = std::move(result->data)] { return decodeAvatarImage(data); };
    std::optional<QImage> image = co_await platform::offThread(std::move(decode));
    if (!life || generation != signInGeneration_)
        co_return std::nullopt;
    co_return image;
}

// ---- Today's figures ----

QCoro::Task<void> AppStore::refreshDashboardAggregates() {
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    const DayKeyRange range = berlinDayKeyRange(platform::Clock::shared().now());
    const std::optional<QString> userRate =
        currentUser_ ? currentUser_->defaultHourlyRate : std::nullopt;

    std::optional<InvoiceableSummaryDTO> summary;
    std::exception_ptr error;
    try {
        summary = co_await api_.fetchInvoiceableSummary();
    } catch (...) {
        error = std::current_exception();
    }
    if (!life || generation != signInGeneration_)
        co_return;
    if (summary) {
        setInvoiceableSummary(std::move(summary));
        summaryDay_ = range.dayKey;
    }
    if (error)
        co_await handleAccountNotReady(error);
    if (!life || generation != signInGeneration_)
        co_return;

    std::optional<DayFigures> figures;
    error = nullptr;
    try {
        figures = co_await fetchTodayJobTimes(range.previousDayKey, range.dayKey, range.start,
                                              range.end, userRate);
    } catch (...) {
        error = std::current_exception();
    }
    if (!life || generation != signInGeneration_)
        co_return; // signed out meanwhile: nothing of the old account is written
    if (error)
        co_await handleAccountNotReady(error);
    if (!life || generation != signInGeneration_)
        co_return;
    figuresReadForDay_ = figures ? range.dayKey : QString();
    if (figures) {
        setTodayTotalSecs(figures->totalSecs);
        setTodayBillableWorkedSecs(figures->billableWorkedSecs);
        setTodayBillableEuroCents(figures->billableEuroCents);
        setTodaySessionsCount(figures->sessionsCount);
        setTodayProjectsCount(figures->projectsCount);
        figuresDay_ = range.dayKey;
    } else if (figuresDay_ != range.dayKey) {
        // A failed read while no figure of today is held. Once held, today's
        // figures stay after one: the error line says the read failed, and
        // zero would be a wrong figure.
        setTodayTotalSecs(0);
        setTodayBillableWorkedSecs(0);
        setTodaySessionsCount(0);
        setTodayProjectsCount(0);
        // A summary read on an earlier day has that day in its today period.
        setTodayBillableEuroCents(invoiceableSummary_ && summaryDay_ == range.dayKey
                                      ? invoiceableSummary_->today.amountEuroCents
                                      : 0);
        figuresDay_ = range.dayKey;
    }
    // Figures read for a day that ended while they were on their way are not
    // today's: following the day zeroes them, before the save, and the next
    // sync reads today's.
    followDayChange();
    saveDashboardAggregatesCache();
}

QCoro::Task<AppStore::DayFigures> AppStore::fetchTodayJobTimes(QString from, QString to,
                                                               QDateTime dayStart, QDateTime dayEnd,
                                                               std::optional<QString> userRate) {
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    DayFigures figures;
    std::set<QString> jobs;
    const QueryParameters filter{{QStringLiteral("from"), from}, {QStringLiteral("to"), to}};
    for (int page = 1;; ++page) {
        const PaginatedResponse<JobTimeCompactDTO> reply = co_await fetchJobTimesPage(filter, page);
        // The caller drops what an ended sign-in read; no more pages for it.
        if (!life || generation != signInGeneration_)
            co_return figures;
        for (const JobTimeCompactDTO& entry : reply.data) {
            if (!entry.endTime || entry.endTime->trimmed().isEmpty())
                continue;
            const auto raw = entryDurationSecs(entry);
            if (!raw || *raw < 1)
                continue;
            const auto window = effectiveEntrySecs(entry, dayStart, dayEnd);
            if (!window)
                continue;
            const double share = static_cast<double>(*raw) * static_cast<double>(window->inside) /
                                 static_cast<double>(window->whole);
            const qint64 counted = std::min(*raw, roundHalfAway(share).value_or(*raw));
            if (counted == 0)
                continue;
            figures.totalSecs = saturatingAdd(figures.totalSecs, counted);
            figures.sessionsCount += 1;
            if (entry.job)
                jobs.insert(entry.job->id);
            const bool billable = entry.billable.value_or(true) && !entry.billed.value_or(false);
            if (!billable)
                continue;
            figures.billableWorkedSecs = saturatingAdd(figures.billableWorkedSecs, counted);
            const auto rate =
                firstDecimal(entry.jobTask ? entry.jobTask->rate : std::nullopt,
                             entry.client ? entry.client->hourlyRate : std::nullopt, userRate);
            if (!rate)
                continue;
            const double cents =
                ((static_cast<double>(*raw) / 3600.0) * static_cast<double>(window->inside) /
                 static_cast<double>(window->whole)) *
                *rate * 100.0;
            figures.billableEuroCents =
                saturatingAdd(figures.billableEuroCents, saturatingRound(cents));
        }
        const bool more = reply.meta && reply.meta->lastPage && *reply.meta->lastPage > 0 &&
                          page < *reply.meta->lastPage && !reply.data.empty() &&
                          page < kMostDayPages;
        if (!more)
            break;
    }
    figures.projectsCount = static_cast<qint64>(jobs.size());
    co_return figures;
}

QString AppStore::dashboardCacheKey(const QString& userId) {
    return QStringLiteral("orvane_dashboard_aggregates_v3_") + userId.trimmed();
}

void AppStore::saveDashboardAggregatesCache() {
    if (!currentUser_ || currentUser_->id.trimmed().isEmpty())
        return;
    DashboardCache cache;
    cache.userId = currentUser_->id.trimmed();
    cache.savedAt =
        static_cast<double>(kReferenceDate.msecsTo(platform::Clock::shared().now())) / 1000.0;
    cache.todayTotalSecs = todayTotalSecs_;
    cache.todaySessionsCount = todaySessionsCount_;
    cache.todayProjectsCount = todayProjectsCount_;
    cache.todayBillableEuroCents = todayBillableEuroCents_;
    cache.todayBillableWorkedSecs = todayBillableWorkedSecs_;
    cache.invoiceableSummary = invoiceableSummary_;
    cache.recentTasks = recentTasks_;
    const QString key = dashboardCacheKey(cache.userId);
    QJsonObject record = cache.encode();
    // Every sync ends here: the file is written again only when more than
    // the stamp would change, so an idle day does not keep the disk busy;
    // the stamp's day tells a later start which day the figures count.
    const auto stored = platform::UserDefaults::standard().object(key);
    if (stored && stored->isObject()) {
        QJsonObject before = stored->toObject();
        const QJsonValue stamp = before.take(QLatin1String("saved_at"));
        QJsonObject after = record;
        after.remove(QLatin1String("saved_at"));
        if (before == after && stamp.isDouble() &&
            dayOfStamp(stamp.toDouble()) == dayOfStamp(cache.savedAt))
            return;
    }
    platform::UserDefaults::standard().set(key, record);
}

void AppStore::loadDashboardAggregatesCache() {
    if (!currentUser_ || currentUser_->id.trimmed().isEmpty())
        return;
    const QString userId = currentUser_->id.trimmed();
    const auto stored = platform::UserDefaults::standard().object(dashboardCacheKey(userId));
    if (!stored || !stored->isObject())
        return;
    DashboardCache cache;
    try {
        cache = DashboardCache::decode(wire::Decoder(*stored, QString()));
    } catch (const DecodingError&) {
        return;
    }
    if (cache.userId != userId)
        return;
    const QString savedDay = dayOfStamp(cache.savedAt);
    setTodayTotalSecs(cache.todayTotalSecs);
    setTodaySessionsCount(cache.todaySessionsCount);
    setTodayProjectsCount(cache.todayProjectsCount);
    setTodayBillableEuroCents(cache.todayBillableEuroCents);
    setTodayBillableWorkedSecs(cache.todayBillableWorkedSecs.value_or(0));
    setInvoiceableSummary(cache.invoiceableSummary);
    figuresDay_ = summaryDay_ = savedDay;
    if (cache.recentTasks && !cache.recentTasks->empty()) {
        setRecentTasks(std::move(*cache.recentTasks));
        recentTasksDay_ = savedDay;
    }
    // Figures saved on an earlier day are not today's.
    followDayChange();
}

qint64 AppStore::todayTargetSecs() const {
    if (!currentUser_ || !currentUser_->workSchedule)
        return kDefaultDailyTargetSecs;
    return currentUser_->workSchedule->targetHoursOn(berlinDate(platform::Clock::shared().now()));
}

qint64 AppStore::todayTrackedSecsLive() const {
    const QDateTime now = platform::Clock::shared().now();
    // A timer that ran over midnight counts only its part of today.
    const qint64 sinceMidnight =
        std::max<qint64>(secondsBetween(berlinEndOfDay(now).start, now), 0);
    qint64 live = 0;
    for (const TimerSession& s : sessions_)
        live = saturatingAdd(live, std::min(s.liveElapsedSecs(now), sinceMidnight));
    return saturatingAdd(live, invoiceableSummary_ ? todayBillableWorkedSecs_ : todayTotalSecs_);
}

// ---- Recent tasks ----

QueryParameters AppStore::recentTaskWindow() {
    const QDateTime now = platform::Clock::shared().now();
    const QString to = berlinDayKey(now);
    const QDate fromDay = now.toTimeZone(berlinTimeZone()).date().addDays(-kHistoryDays);
    const QString from = fromDay.isValid() ? fromDay.toString(QStringLiteral("yyyy-MM-dd")) : to;
    return {{QStringLiteral("from"), from}, {QStringLiteral("to"), to}};
}

QCoro::Task<std::vector<RecentTaskItem>> AppStore::fetchRecentTaskTotals() {
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    // One window for every page, even when the reading runs past midnight.
    const QueryParameters window = recentTaskWindow();
    std::optional<HistoryRead> before = lastHistoryRead_;
    if (before && before->window != window)
        before.reset();
    HistoryRead read{window, {}, {}};
    // Pages that came back as they were are read only when another did not.
    std::vector<PerformResult> answers;
    std::vector<std::optional<PaginatedResponse<JobTimeCompactDTO>>> pages;
    bool allAsBefore = before.has_value();
    for (int page = 1;; ++page) {
        PerformResult answer = co_await requestJobTimesPage(window, page);
        if (!life || generation != signInGeneration_)
            co_return {};
        const size_t at = size_t(page) - 1;
        const qsizetype size = answer.body.size();
        const size_t hash = qHash(QByteArrayView(answer.body), QHashSeed::globalSeed());
        const bool asBefore = before && at < before->pages.size() && answer.status >= 200 &&
                              answer.status <= 299 && before->pages[at].size == size &&
                              before->pages[at].hash == hash;
        if (asBefore) {
            read.pages.push_back(before->pages[at]);
            pages.emplace_back();
        } else {
            allAsBefore = false;
            PaginatedResponse<JobTimeCompactDTO> reply = decodeJobTimesPage(answer);
            const bool last = !reply.meta || !reply.meta->lastPage || *reply.meta->lastPage < 1 ||
                              page >= *reply.meta->lastPage || reply.data.empty() ||
                              page >= kMostHistoryPages;
            read.pages.push_back({size, hash, last});
            pages.push_back(std::move(reply));
        }
        answers.push_back(asBefore ? std::move(answer) : PerformResult{});
        if (read.pages.back().last)
            break;
    }
    if (allAsBefore && read.pages.size() == before->pages.size()) {
        read.latest = std::move(before->latest);
    } else {
        std::vector<JobTimeCompactDTO> history;
        for (size_t i = 0; i < pages.size(); ++i) {
            PaginatedResponse<JobTimeCompactDTO> reply =
                pages[i] ? std::move(*pages[i]) : decodeJobTimesPage(answers[i]);
            history.insert(history.end(), std::make_move_iterator(reply.data.begin()),
                           std::make_move_iterator(reply.data.end()));
        }
        read.latest = latestPerTask(std::move(history));
    }
    lastHistoryRead_ = read;
    co_return std::move(read.latest);
}

std::vector<RecentTaskItem> AppStore::latestPerTask(std::vector<JobTimeCompactDTO> history) {
    // Each end is read once: a date text costs more than the comparisons.
    struct Latest {
        QDateTime end;
        const JobTimeCompactDTO* entry;
    };
    std::vector<Latest> latest;
    std::map<QString, size_t> slotOf;
    for (const JobTimeCompactDTO& entry : history) {
        if (!entry.endTime)
            continue;
        bool has = false;
        const QString key = taskKeyOf(entry, has);
        if (!has)
            continue;
        const auto it = slotOf.find(key);
        if (it == slotOf.end()) {
            slotOf.emplace(key, latest.size());
            latest.push_back({endDateOf(entry), &entry});
        } else if (QDateTime end = endDateOf(entry); end > latest[it->second].end) {
            latest[it->second] = {std::move(end), &entry};
        }
    }
    std::stable_sort(latest.begin(), latest.end(),
                     [](const Latest& a, const Latest& b) { return a.end > b.end; });
    std::vector<RecentTaskItem> entries;
    entries.reserve(latest.size());
    for (const Latest& l : latest)
        entries.push_back(entryFrom(*l.entry));
    return entries;
}

QCoro::Task<std::map<QString, AppStore::TaskTotals>>
AppStore::fetchJobTasksConcurrently(std::vector<QString> ids) {
    std::vector<QString> unique;
    std::set<QString> seen;
    for (const QString& id : ids)
        if (!id.isEmpty() && seen.insert(id).second)
            unique.push_back(id);
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    std::map<QString, TaskTotals> totals;
    for (size_t first = 0; life && generation == signInGeneration_ && first < unique.size();
         first += kTaskRequestsAtOnce) {
        const size_t end = std::min(unique.size(), first + kTaskRequestsAtOnce);
        std::vector<QCoro::Task<std::optional<JobTaskDTO>>> group;
        for (size_t i = first; i < end; ++i)
            group.push_back(
                [](OrvaneAPIClient& api, QString id) -> QCoro::Task<std::optional<JobTaskDTO>> {
                    try {
                        co_return co_await api.fetchJobTask(id, false);
                    } catch (...) {
                    }
                    co_return std::nullopt;
                }(api_, unique[i]));
        for (size_t i = first; i < end; ++i) {
            // Awaited outside the condition: g++ 12 miscompiles co_await there.
            const std::optional<JobTaskDTO> task = co_await std::move(group[i - first]);
            if (task)
                totals[unique[i]] = TaskTotals{task->roundedTodaySeconds.value_or(0),
                                               task->roundedTotalSeconds.value_or(0)};
        }
    }
    co_return totals;
}

QCoro::Task<void> AppStore::refreshRecentTasks() {
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    const QString day = berlinDayKey(platform::Clock::shared().now());
    std::vector<RecentTaskItem> entries;
    std::exception_ptr error;
    try {
        entries = co_await fetchRecentTaskTotals();
    } catch (...) {
        error = std::current_exception();
    }
    if (!life || generation != signInGeneration_)
        co_return;
    if (error) {
        recentTasksReadForDay_ = QString();
        co_await handleAccountNotReady(error);
        co_return;
    }

    // Totals only for tasks that can be shown: the open sessions' tasks and
    // the first distinct tasks of the history, never the whole window.
    std::vector<QString> wanted;
    std::set<QString> openTasks;
    for (const TimerSession& s : sessions_)
        openTasks.insert(s.taskId);
    for (const RecentTaskItem& item : entries)
        if (!item.taskId.isEmpty() &&
            (wanted.size() < kMostRecentTasks || openTasks.count(item.taskId)))
            if (std::find(wanted.begin(), wanted.end(), item.taskId) == wanted.end())
                wanted.push_back(item.taskId);
    std::map<QString, TaskTotals> totals = co_await fetchJobTasksConcurrently(wanted);
    if (!life || generation != signInGeneration_)
        co_return;

    const std::set<QString> requested(wanted.begin(), wanted.end());
    std::map<QString, size_t> indexByTask;
    for (size_t i = 0; i < entries.size(); ++i)
        indexByTask.emplace(entries[i].taskId, i);
    const auto applyTotals = [&](RecentTaskItem& item) {
        const auto t = totals.find(item.taskId);
        item.todayTrackedSecs = t == totals.end() ? 0 : t->second.today;
        item.totalTrackedSecs = t == totals.end() ? 0 : t->second.total;
    };

    // Open sessions first, one per task, in the order of the sessions now.
    std::vector<TimerSession> kept;
    std::set<QString> keptTasks;
    for (const TimerSession& s : sessions_)
        if (keptTasks.insert(s.taskId).second)
            kept.push_back(s);

    std::vector<RecentTaskItem> result;
    std::set<QString> shown;
    for (const TimerSession& s : kept) {
        if (const auto it = indexByTask.find(s.taskId); it != indexByTask.end()) {
            RecentTaskItem item = entries[it->second];
            if (!requested.count(item.taskId) && !item.taskId.isEmpty()) {
                // A session opened while the totals were loading.
                std::vector<QString> one{item.taskId};
                const auto late = co_await fetchJobTasksConcurrently(one);
                if (!life || generation != signInGeneration_)
                    co_return;
                totals.insert(late.begin(), late.end());
            }
            applyTotals(item);
            result.push_back(std::move(item));
        } else {
            RecentTaskItem item;
            item.clientId = s.clientId;
            item.jobId = s.jobId;
            item.taskId = s.taskId;
            item.clientName = s.clientDisplayName;
            item.jobTitle = s.jobTitle;
            item.jobNumber = s.jobNumber;
            item.projectNumber = s.projectNumber;
            item.taskTitle = s.taskTitle;
            item.clientInitials = s.clientInitials;
            item.clientColorHex = s.clientColorHex;
            item.roundDirection = s.timeRoundDirection;
            item.roundValue = s.timeRoundValue;
            std::optional<JobTaskDTO> task;
            try {
                task = co_await api_.fetchJobTask(s.taskId, false);
            } catch (...) {
            }
            if (!life || generation != signInGeneration_)
                co_return;
            if (task) {
                item.todayTrackedSecs = task->roundedTodaySeconds.value_or(0);
                item.totalTrackedSecs = task->roundedTotalSeconds.value_or(0);
            }
            result.push_back(std::move(item));
        }
        shown.insert(s.taskId);
    }
    for (RecentTaskItem& item : entries) {
        if (result.size() >= kMostRecentTasks)
            break;
        if (shown.count(item.taskId))
            continue;
        shown.insert(item.taskId);
        applyTotals(item);
        result.push_back(item);
    }
    if (result.size() > kMostRecentTasks)
        result.resize(kMostRecentTasks);
    const QString today = berlinDayKey(platform::Clock::shared().now());
    if (day != today) // the totals' today ended while they were read
        for (RecentTaskItem& item : result)
            item.todayTrackedSecs = 0;
    setRecentTasks(std::move(result));
    recentTasksReadForDay_ = day;
    recentTasksDay_ = today;
    followDayChange();
    saveDashboardAggregatesCache();
}

} // namespace orvane
