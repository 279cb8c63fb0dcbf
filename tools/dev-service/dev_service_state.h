#pragma once

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QTimeZone>

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

// The stand-in's data and the service's rules over it. Not thread-safe: the
// server holds one lock around every use.
namespace orvane::dev::detail {

struct User {
    QString id;
    QString email;
    QString password;
    QJsonObject profile; // first_name, last_name, name, default_hourly_rate, work_schedule
    QJsonObject requirements;
    bool twoFactor = false;
    bool photo = false;
};

struct JobTime {
    QString id;
    QString userId;
    QString clientId;
    QString taskId;
    QDateTime start;
    std::optional<QDateTime> end;
    bool billable = true;
    bool billed = false;
    QString roundDirection = QStringLiteral("up");
    qint64 roundValue = 15;
};

// Start or end on whole minutes, rounded to the entry's grid.
qint64 bookedSecs(const QDateTime& start, const QDateTime& end, const QString& direction,
                  qint64 stepMinutes);
// "2026-03-02T09:00:00.000000Z"
QString wireTime(const QDateTime& time);
// An identifier from JSON text or a whole number; empty otherwise.
QString idText(const QJsonValue& value);

class State {
public:
    // Throws std::runtime_error for a seed it cannot use.
    State(const QJsonDocument& seed, std::function<QDateTime()> now);

    QDateTime now() const;
    QDate today() const; // in Europe/Berlin
    QDate berlinDay(const QDateTime& time) const;

    const User* userByEmail(const QString& email) const;
    const User* userById(const QString& id) const;
    User* mutableUserByEmail(const QString& email);
    // The user record; the photo URL is absolute under `origin`.
    QJsonObject userRecord(const User& user, const QString& origin) const;
    bool isReady(const User& user) const;
    // The 403 body of work refused while the account is not ready.
    QJsonObject notReadyBody(const User& user) const;

    QString issueToken(const QString& userId);
    const User* userForToken(const QString& token) const;
    void revokeToken(const QString& token);

    bool hasClient(const QString& id) const { return clients_.count(id) > 0; }
    bool hasJob(const QString& id) const { return jobs_.count(id) > 0; }
    bool hasTask(const QString& id) const { return tasks_.count(id) > 0; }
    // The client a task belongs to through its job; empty when unknown.
    QString clientOfTask(const QString& taskId) const;

    std::vector<QJsonObject> clients() const;
    // Jobs with their client and project; a filter that is not given is open.
    std::vector<QJsonObject> jobs(const std::optional<QString>& clientId,
                                  const std::optional<QString>& projectId,
                                  std::optional<bool> archived) const;
    std::vector<QJsonObject> tasksOfJob(const QString& jobId, const User& user,
                                        bool withJobTimes) const;
    QJsonObject task(const QString& taskId, const User& user, bool withJobTimes) const;

    JobTime* jobTime(const QString& id, const User& user);
    QJsonObject jobTimeRecord(const JobTime& entry) const;
    // The user's job times, newest start first, that pass `keep`.
    std::vector<const JobTime*> jobTimesOf(const User& user,
                                           const std::function<bool(const JobTime&)>& keep) const;
    JobTime& startJobTime(const User& user, const QString& clientId, const QString& taskId,
                          const QDateTime& start);
    QJsonObject invoiceableSummary(const User& user) const;

private:
    QJsonObject clientSnippet(const QString& id) const;
    QJsonObject jobRecord(const QJsonObject& job) const;
    QJsonObject taskRecordOf(const QJsonObject& task, const User& user, bool withJobTimes) const;
    std::optional<double> rateFor(const JobTime& entry, const User& owner) const;
    QJsonObject bucket(const User& user, const QDate& from, const QDate& to) const;
    void loadJobTimes(const QJsonArray& list);

    std::function<QDateTime()> now_;
    QTimeZone berlin_;
    std::map<QString, User> users_;
    std::map<QString, QJsonObject> clients_;
    std::map<QString, QJsonObject> projects_;
    std::map<QString, QJsonObject> jobs_;
    std::map<QString, QJsonObject> tasks_;
    std::deque<JobTime> jobTimes_;      // stable addresses
    std::map<QString, QString> tokens_; // token → user id
    qint64 nextJobTimeId_ = 1;
    qint64 nextTokenId_ = 1;
};

} // namespace orvane::dev::detail
