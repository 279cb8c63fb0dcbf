#pragma once

#include "service/catalog_records.h"
#include "service/json_coding.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace orvane {

struct JobTimeRoundedDuration {
    std::optional<QString> hhMm;
    std::optional<QString> decimalHours;

    static constexpr bool kRepeatsVerbatim = true;
    static JobTimeRoundedDuration decode(const wire::Decoder& decoder);
    bool operator==(const JobTimeRoundedDuration&) const = default;
};

// One recorded stretch of work on a job task.
struct JobTimeCompactDTO {
    QString id;
    std::optional<QString> clientId;
    std::optional<QString> jobtaskId;
    std::optional<QString> startTime;
    std::optional<QString> endTime;
    std::optional<bool> billable;
    std::optional<bool> billed;
    std::optional<QString> roundDirection;
    std::optional<qint64> roundValue;
    std::optional<JobTimeRoundedDuration> roundedDuration;
    std::optional<JobTaskSnippet> jobTask;
    std::optional<JobSnippet> job;
    std::optional<ClientSnippet> client;

    static JobTimeCompactDTO decode(const wire::Decoder& decoder);
    bool operator==(const JobTimeCompactDTO&) const = default;
};

struct JobTimesActiveResponse {
    std::vector<JobTimeCompactDTO> data;
    static JobTimesActiveResponse decode(const wire::Decoder& decoder);
};

struct JobTimeSingleResponse {
    JobTimeCompactDTO data;
    static JobTimeSingleResponse decode(const wire::Decoder& decoder);
};

// Request bodies; instants are ISO 8601 texts in UTC ("2026-03-02T08:15:00Z").
struct StartJobTimeBody {
    QString clientId;
    QString jobtaskId;
    std::optional<QString> startedAt;

    StartJobTimeBody(QString clientId, QString jobtaskId, std::optional<QString> startedAt = {})
        : clientId(std::move(clientId)), jobtaskId(std::move(jobtaskId)),
          startedAt(std::move(startedAt)) {}
    QByteArray encode() const;
};

struct StopJobTimeBody {
    std::optional<QString> endedAt;

    explicit StopJobTimeBody(std::optional<QString> endedAt = {}) : endedAt(std::move(endedAt)) {}
    QByteArray encode() const;
};

struct UpdateJobTimeBody {
    bool billable;
    QString roundDirection;
    qint64 roundValue;

    UpdateJobTimeBody(bool billable, QString roundDirection, qint64 roundValue)
        : billable(billable), roundDirection(std::move(roundDirection)), roundValue(roundValue) {}
    QByteArray encode() const;
};

// How many seconds one job time books toward its task: the store's rule.
using JobTimeBookedSecs = std::optional<qint64> (*)(const JobTimeCompactDTO&);

// While one lives on a thread, tasks decoded there sum their job times with
// `secs` as they pass (into bookedSecs), all but the one with id `leftOut`,
// and keep none of the records: a job of thousands of tasks can carry
// hundreds of thousands of job times.
class SummingJobTimes {
public:
    explicit SummingJobTimes(JobTimeBookedSecs secs, QString leftOut = QString());
    ~SummingJobTimes();
    SummingJobTimes(const SummingJobTimes&) = delete;
    SummingJobTimes& operator=(const SummingJobTimes&) = delete;

private:
    JobTimeBookedSecs outerSecs_;
    QString outerLeftOut_;
};

struct JobTaskDTO {
    QString id;
    std::optional<QString> jobId;
    std::optional<QString> title;
    std::optional<QString> rate;
    std::optional<QString> scheduledTime;
    std::optional<JobDTO> job;
    std::optional<std::vector<JobTimeCompactDTO>> jobTimes;
    // The job times' booked seconds, saturating, where they were summed
    // instead of kept; present only when the reply carried them.
    std::optional<qint64> bookedSecs;
    std::optional<qint64> roundedTotalSeconds;
    std::optional<qint64> roundedTodaySeconds;

    static JobTaskDTO decode(const wire::Decoder& decoder);
    bool operator==(const JobTaskDTO&) const = default;
};

} // namespace orvane
