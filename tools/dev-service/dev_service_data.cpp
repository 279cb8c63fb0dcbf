#include "dev_service_state.h"

#include <QRandomGenerator>
#include <QTime>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace orvane::dev::detail {

namespace {

std::runtime_error seedError(const QString& what) {
    return std::runtime_error(("demo data: " + what).toStdString());
}

QJsonValue textOrNull(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(key);
    return v.isString() && !v.toString().trimmed().isEmpty() ? v : QJsonValue();
}

// Required member of a seed record, as an identifier.
QString requiredId(const QJsonObject& o, const char* key, const char* kind) {
    const QString id = idText(o.value(key));
    if (id.isEmpty())
        throw seedError(QStringLiteral("a %1 without \"%2\"").arg(QLatin1String(kind), key));
    return id;
}

std::map<QString, QJsonObject> indexById(const QJsonArray& list, const char* kind) {
    std::map<QString, QJsonObject> out;
    for (const QJsonValue& v : list) {
        QJsonObject o = v.toObject();
        const QString id = requiredId(o, "id", kind);
        o.insert("id", id);
        if (!out.emplace(id, o).second)
            throw seedError(
                QStringLiteral("two of kind %1 with id %2").arg(QLatin1String(kind), id));
    }
    return out;
}

double roundedTo2(double value) {
    return std::round(value * 100.0) / 100.0;
}

QString hoursAndMinutes(qint64 secs) {
    return QStringLiteral("%1:%2").arg(secs / 3600).arg(secs % 3600 / 60, 2, 10, QLatin1Char('0'));
}

// A seed time: an ISO instant, or a day offset from today with a Berlin
// wall-clock time, so that the demo data always lies in the recent past.
std::optional<QDateTime> seedTime(const QJsonObject& o, const char* isoKey, const char* clockKey,
                                  const QDate& today, const QTimeZone& zone) {
    if (const QJsonValue iso = o.value(isoKey); iso.isString()) {
        const QDateTime t = QDateTime::fromString(iso.toString(), Qt::ISODateWithMs);
        if (!t.isValid())
            throw seedError(QStringLiteral("unreadable %1 %2").arg(isoKey, iso.toString()));
        return t.toUTC();
    }
    const QJsonValue clock = o.value(clockKey);
    if (!clock.isString())
        return std::nullopt;
    const QTime time = QTime::fromString(clock.toString(), QStringLiteral("HH:mm"));
    if (!time.isValid())
        throw seedError(QStringLiteral("unreadable time %1").arg(clock.toString()));
    const QDate day = today.addDays(o.value("day").toInteger());
    return QDateTime(day, time, zone).toUTC();
}

std::optional<double> decimal(const QJsonValue& v) {
    if (v.isDouble())
        return v.toDouble();
    if (!v.isString())
        return std::nullopt;
    bool ok = false;
    const double d =
        v.toString().trimmed().replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    return ok ? std::optional(d) : std::nullopt;
}

// Missing fields are named by an object; a list is an empty collection.
bool namesMissingFields(const QJsonObject& requirements) {
    const QJsonValue missing = requirements.value("missing_profile_fields");
    return missing.isObject() && !missing.toObject().isEmpty();
}

} // namespace

qint64 bookedSecs(const QDateTime& start, const QDateTime& end, const QString& direction,
                  qint64 stepMinutes) {
    const qint64 startMin = start.toSecsSinceEpoch() / 60;
    const qint64 endMin = end.toSecsSinceEpoch() / 60;
    const qint64 span = std::max<qint64>(endMin - startMin, 0) * 60;
    if (stepMinutes < 1)
        return span;
    const qint64 step = stepMinutes * 60;
    if (direction == u"up") {
        // Even a stop within the first minute books one step.
        const qint64 x = std::max<qint64>(span, 60);
        return (x + step - 1) / step * step;
    }
    if (direction == u"closest")
        return (span + step / 2) / step * step;
    return span / step * step;
}

QString wireTime(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QStringLiteral(".000000Z");
}

QString idText(const QJsonValue& value) {
    if (value.isString())
        return value.toString().trimmed();
    if (value.isDouble() && value.toDouble() == std::floor(value.toDouble()))
        return QString::number(value.toInteger());
    return {};
}

State::State(const QJsonDocument& seed, std::function<QDateTime()> now)
    : now_(std::move(now)), berlin_(QTimeZone("Europe/Berlin")) {
    if (!berlin_.isValid())
        throw seedError(QStringLiteral("no time zone Europe/Berlin (is tzdata installed?)"));
    if (!seed.isObject())
        throw seedError(QStringLiteral("the document is not a JSON object"));
    const QJsonObject root = seed.object();
    for (const QJsonValue& v : root.value("users").toArray()) {
        const QJsonObject o = v.toObject();
        User u;
        u.id = requiredId(o, "id", "user");
        u.email = o.value("email").toString().trimmed().toLower();
        u.password = o.value("password").toString();
        if (u.email.isEmpty() || u.password.isEmpty())
            throw seedError(QStringLiteral("user %1 needs an email and a password").arg(u.id));
        for (const char* key :
             {"first_name", "last_name", "name", "default_hourly_rate", "work_schedule"})
            if (o.contains(key))
                u.profile.insert(key, o.value(key));
        u.requirements = o.value("account_requirements").toObject();
        u.twoFactor = o.value("two_factor").toBool();
        u.photo = o.value("profile_photo").toBool();
        users_.emplace(u.id, u);
    }
    clients_ = indexById(root.value("clients").toArray(), "client");
    projects_ = indexById(root.value("projects").toArray(), "project");
    jobs_ = indexById(root.value("jobs").toArray(), "job");
    tasks_ = indexById(root.value("job_tasks").toArray(), "job task");
    for (const auto& [id, job] : jobs_)
        if (!clients_.count(idText(job.value("client_id"))))
            throw seedError(QStringLiteral("job %1 names no known client").arg(id));
    for (const auto& [id, task] : tasks_)
        if (!jobs_.count(idText(task.value("job_id"))))
            throw seedError(QStringLiteral("job task %1 names no known job").arg(id));
    loadJobTimes(root.value("job_times").toArray());
}

void State::loadJobTimes(const QJsonArray& list) {
    const QDate day = today();
    const QDateTime current = now();
    for (const QJsonValue& v : list) {
        const QJsonObject o = v.toObject();
        JobTime e;
        e.id = requiredId(o, "id", "job time");
        e.userId = requiredId(o, "user_id", "job time");
        e.taskId = requiredId(o, "jobtask_id", "job time");
        if (!users_.count(e.userId) || !tasks_.count(e.taskId))
            throw seedError(QStringLiteral("job time %1 names an unknown user or task").arg(e.id));
        e.clientId = clientOfTask(e.taskId);
        const auto start = seedTime(o, "start_time", "start", day, berlin_);
        if (!start)
            throw seedError(QStringLiteral("job time %1 has no start").arg(e.id));
        e.start = *start;
        e.end = seedTime(o, "end_time", "end", day, berlin_);
        // Relative entries of today that have not happened yet are left out.
        if (e.start > current || (e.end && (*e.end > current || *e.end < e.start)))
            continue;
        e.billable = o.value("billable").toBool(true);
        e.billed = o.value("billed").toBool(false);
        const QJsonObject& client = clients_.at(e.clientId);
        e.roundDirection =
            o.value("round_direction")
                .toString(client.value("time_round_direction").toString(QStringLiteral("up")));
        e.roundValue =
            o.value("round_value").toInteger(client.value("time_round_value").toInteger(15));
        nextJobTimeId_ = std::max(nextJobTimeId_, e.id.toLongLong() + 1);
        jobTimes_.push_back(e);
    }
}

QDateTime State::now() const {
    return (now_ ? now_() : QDateTime::currentDateTimeUtc()).toUTC();
}

QDate State::berlinDay(const QDateTime& time) const {
    return time.toTimeZone(berlin_).date();
}

QDate State::today() const {
    return berlinDay(now());
}

// ---- Accounts ----

const User* State::userByEmail(const QString& email) const {
    const QString wanted = email.trimmed().toLower();
    for (const auto& [id, user] : users_)
        if (user.email == wanted)
            return &user;
    return nullptr;
}

User* State::mutableUserByEmail(const QString& email) {
    return const_cast<User*>(userByEmail(email));
}

const User* State::userById(const QString& id) const {
    const auto it = users_.find(id);
    return it == users_.end() ? nullptr : &it->second;
}

bool State::isReady(const User& user) const {
    const QJsonObject& r = user.requirements;
    if (r.value("ready").isBool())
        return r.value("ready").toBool();
    return !r.value("dpa_outdated").toBool(false) && r.value("dpa_signed").toBool(true) &&
           r.value("profile_complete").toBool(true) && !namesMissingFields(r);
}

QJsonObject State::userRecord(const User& user, const QString& origin) const {
    QJsonObject o = user.profile;
    o.insert("id", user.id);
    o.insert("email", user.email);
    o.insert("profile_photo_url",
             user.photo ? QJsonValue(origin + QStringLiteral("/storage/profile-photos/") + user.id +
                                     QStringLiteral(".png"))
                        : QJsonValue());
    QJsonObject requirements = user.requirements;
    for (const char* key : {"profile_complete", "dpa_signed"})
        if (!requirements.contains(key))
            requirements.insert(key, true);
    if (!requirements.contains("dpa_outdated"))
        requirements.insert("dpa_outdated", false);
    if (!requirements.contains("missing_profile_fields"))
        requirements.insert("missing_profile_fields", QJsonArray());
    requirements.insert("ready", isReady(user));
    o.insert("account_requirements", requirements);
    return o;
}

QJsonObject State::notReadyBody(const User& user) const {
    const QJsonObject requirements =
        userRecord(user, QString()).value("account_requirements").toObject();
    const bool missingAny = namesMissingFields(requirements);
    QString reason;
    QString message = QStringLiteral("Bitte schließe die offenen Schritte in deinem orvane-Konto "
                                     "im Web ab.");
    if (!requirements.value("profile_complete").toBool() || missingAny) {
        reason = QStringLiteral("profile_incomplete");
        message = QStringLiteral("Bitte vervollständige dein Profil im Web.");
    } else if (requirements.value("dpa_outdated").toBool()) {
        reason = QStringLiteral("dpa_outdated");
        message = QStringLiteral("Die AVV wurde aktualisiert. Bitte bestätige die neue Fassung "
                                 "im Web in deinem Profil.");
    } else if (!requirements.value("dpa_signed").toBool()) {
        reason = QStringLiteral("dpa_required");
        message = QStringLiteral("Bitte unterzeichne den Auftragsverarbeitungsvertrag (AVV) im "
                                 "Web in deinem Profil.");
    }
    QJsonObject body{{"message", message}, {"account_requirements", requirements}};
    if (!reason.isEmpty())
        body.insert("reason", reason);
    return body;
}

QString State::issueToken(const QString& userId) {
    QString secret;
    for (int i = 0; i < 5; ++i)
        secret +=
            QString::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, u'0');
    const QString token = QString::number(nextTokenId_++) + u'|' + secret;
    tokens_[token] = userId;
    return token;
}

const User* State::userForToken(const QString& token) const {
    const auto it = tokens_.find(token);
    return it == tokens_.end() ? nullptr : userById(it->second);
}

void State::revokeToken(const QString& token) {
    tokens_.erase(token);
}

// ---- Catalogue ----

QString State::clientOfTask(const QString& taskId) const {
    const auto task = tasks_.find(taskId);
    if (task == tasks_.end())
        return {};
    const auto job = jobs_.find(idText(task->second.value("job_id")));
    return job == jobs_.end() ? QString() : idText(job->second.value("client_id"));
}

std::vector<QJsonObject> State::clients() const {
    std::vector<QJsonObject> out;
    for (const auto& [id, client] : clients_)
        out.push_back(client);
    std::sort(out.begin(), out.end(), [](const QJsonObject& a, const QJsonObject& b) {
        return a.value("company_name")
                   .toString()
                   .compare(b.value("company_name").toString(), Qt::CaseInsensitive) < 0;
    });
    return out;
}

QJsonObject State::clientSnippet(const QString& id) const {
    const QJsonObject& c = clients_.at(id);
    return {{"id", id},
            {"company_name", textOrNull(c, "company_name")},
            {"customer_name", textOrNull(c, "customer_name")},
            {"hourly_rate", textOrNull(c, "hourly_rate")}};
}

QJsonObject State::jobRecord(const QJsonObject& job) const {
    QJsonObject o = job;
    const QString clientId = idText(job.value("client_id"));
    o.insert("client_id", clientId);
    o.insert("archived", job.value("archived").toBool(false));
    o.insert("client", clients_.at(clientId));
    const QString projectId = idText(job.value("project_id"));
    const auto project = projects_.find(projectId);
    o.insert("project_id", projectId.isEmpty() ? QJsonValue() : projectId);
    o.insert("project", project == projects_.end() ? QJsonValue() : QJsonValue(project->second));
    return o;
}

std::vector<QJsonObject> State::jobs(const std::optional<QString>& clientId,
                                     const std::optional<QString>& projectId,
                                     std::optional<bool> archived) const {
    std::vector<QJsonObject> out;
    for (const auto& [id, job] : jobs_) {
        if (clientId && idText(job.value("client_id")) != *clientId)
            continue;
        if (projectId && idText(job.value("project_id")) != *projectId)
            continue;
        if (archived && job.value("archived").toBool(false) != *archived)
            continue;
        out.push_back(jobRecord(job));
    }
    return out;
}

QJsonObject State::taskRecordOf(const QJsonObject& task, const User& user,
                                bool withJobTimes) const {
    QJsonObject o = task;
    const QString taskId = task.value("id").toString();
    const QString jobId = idText(task.value("job_id"));
    o.insert("job_id", jobId);
    o.insert("rate", textOrNull(task, "rate"));
    o.insert("scheduled_time", textOrNull(task, "scheduled_time"));
    o.insert("job", jobRecord(jobs_.at(jobId)));
    qint64 total = 0;
    qint64 today = 0;
    QJsonArray times;
    const QDate day = this->today();
    for (const JobTime* e :
         jobTimesOf(user, [&](const JobTime& e) { return e.taskId == taskId; })) {
        if (withJobTimes)
            times.append(jobTimeRecord(*e));
        if (!e->end)
            continue;
        const qint64 booked = bookedSecs(e->start, *e->end, e->roundDirection, e->roundValue);
        total += booked;
        if (berlinDay(e->start) == day)
            today += booked;
    }
    o.insert("rounded_total_seconds", total);
    o.insert("rounded_today_seconds", today);
    if (withJobTimes)
        o.insert("job_times", times);
    return o;
}

std::vector<QJsonObject> State::tasksOfJob(const QString& jobId, const User& user,
                                           bool withJobTimes) const {
    std::vector<QJsonObject> out;
    for (const auto& [id, task] : tasks_)
        if (idText(task.value("job_id")) == jobId)
            out.push_back(taskRecordOf(task, user, withJobTimes));
    return out;
}

QJsonObject State::task(const QString& taskId, const User& user, bool withJobTimes) const {
    return taskRecordOf(tasks_.at(taskId), user, withJobTimes);
}

// ---- Job times ----

JobTime* State::jobTime(const QString& id, const User& user) {
    for (JobTime& e : jobTimes_)
        if (e.id == id && e.userId == user.id)
            return &e;
    return nullptr;
}

QJsonObject State::jobTimeRecord(const JobTime& e) const {
    const QJsonObject& task = tasks_.at(e.taskId);
    const QString jobId = idText(task.value("job_id"));
    const QJsonObject& job = jobs_.at(jobId);
    const auto project = projects_.find(idText(job.value("project_id")));
    QJsonValue rounded;
    if (e.end) {
        const qint64 booked = bookedSecs(e.start, *e.end, e.roundDirection, e.roundValue);
        rounded = QJsonObject{{"hh_mm", hoursAndMinutes(booked)},
                              {"decimal_hours", roundedTo2(booked / 3600.0)}};
    }
    return {
        {"id", e.id},
        {"client_id", e.clientId},
        {"jobtask_id", e.taskId},
        {"start_time", wireTime(e.start)},
        {"end_time", e.end ? QJsonValue(wireTime(*e.end)) : QJsonValue()},
        {"billable", e.billable},
        {"billed", e.billed},
        {"round_direction", e.roundDirection},
        {"round_value", e.roundValue},
        {"rounded_duration", rounded},
        {"job_task", QJsonObject{{"id", e.taskId},
                                 {"title", task.value("title")},
                                 {"job_id", jobId},
                                 {"job_number", job.value("job_number")},
                                 {"rate", textOrNull(task, "rate")},
                                 {"scheduled_time", textOrNull(task, "scheduled_time")}}},
        {"job", QJsonObject{{"id", jobId},
                            {"title", job.value("title")},
                            {"job_number", job.value("job_number")},
                            {"project_number", project == projects_.end()
                                                   ? QJsonValue()
                                                   : project->second.value("project_number")}}},
        {"client", clientSnippet(e.clientId)},
    };
}

std::vector<const JobTime*>
State::jobTimesOf(const User& user, const std::function<bool(const JobTime&)>& keep) const {
    std::vector<const JobTime*> out;
    for (const JobTime& e : jobTimes_)
        if (e.userId == user.id && keep(e))
            out.push_back(&e);
    std::stable_sort(out.begin(), out.end(),
                     [](const JobTime* a, const JobTime* b) { return a->start > b->start; });
    return out;
}

JobTime& State::startJobTime(const User& user, const QString& clientId, const QString& taskId,
                             const QDateTime& start) {
    const QJsonObject& client = clients_.at(clientId);
    JobTime e;
    e.id = QString::number(nextJobTimeId_++);
    e.userId = user.id;
    e.clientId = clientId;
    e.taskId = taskId;
    // Stored to the second, as a database column would keep it.
    e.start = QDateTime::fromSecsSinceEpoch(start.toSecsSinceEpoch(), Qt::UTC);
    e.roundDirection = client.value("time_round_direction").toString(QStringLiteral("up"));
    e.roundValue = client.value("time_round_value").toInteger(15);
    jobTimes_.push_back(e);
    return jobTimes_.back();
}

// ---- Invoiceable summary ----

std::optional<double> State::rateFor(const JobTime& e, const User& owner) const {
    for (const QJsonValue& v :
         {tasks_.at(e.taskId).value("rate"), clients_.at(e.clientId).value("hourly_rate"),
          owner.profile.value("default_hourly_rate")})
        if (const auto rate = decimal(v); rate && *rate > 0)
            return rate;
    return std::nullopt;
}

QJsonObject State::bucket(const User& user, const QDate& from, const QDate& to) const {
    qint64 secs = 0;
    double euros = 0;
    qint64 count = 0;
    for (const JobTime* e : jobTimesOf(user, [&](const JobTime& e) {
             const QDate day = berlinDay(e.start);
             return e.end && e.billable && !e.billed && day >= from && day <= to;
         })) {
        const qint64 booked = bookedSecs(e->start, *e->end, e->roundDirection, e->roundValue);
        secs += booked;
        euros += booked / 3600.0 * rateFor(*e, user).value_or(0);
        ++count;
    }
    const QString dayFormat = QStringLiteral("yyyy-MM-dd");
    return {{"from", from.toString(dayFormat)},
            {"to", to.toString(dayFormat)},
            {"hours_decimal", QString::number(secs / 3600.0, 'f', 2)},
            {"amount", roundedTo2(euros)},
            {"job_time_count", count}};
}

QJsonObject State::invoiceableSummary(const User& user) const {
    const QDate day = today();
    const QDate monday = day.addDays(1 - day.dayOfWeek());
    const QDate first(day.year(), day.month(), 1);
    return {{"timezone", QStringLiteral("Europe/Berlin")},
            {"today", bucket(user, day, day)},
            {"week", bucket(user, monday, monday.addDays(6))},
            {"month", bucket(user, first, first.addMonths(1).addDays(-1))}};
}

} // namespace orvane::dev::detail
