#pragma once

#include "service/json_coding.h"

#include <QString>

#include <optional>
#include <vector>

namespace orvane {

struct ClientDTO {
    QString id;
    std::optional<QString> companyName;
    std::optional<QString> firstName;
    std::optional<QString> lastName;
    std::optional<QString> customerName;
    std::optional<QString> clientNumber;
    std::optional<QString> hourlyRate;
    std::optional<QString> hourlyRateCurrency;
    std::optional<QString> dailyRateCurrency;
    std::optional<QString> timeRoundDirection;
    std::optional<qint64> timeRoundValue;

    static ClientDTO decode(const wire::Decoder& decoder);
    bool operator==(const ClientDTO&) const = default;
};

struct ProjectDTO {
    QString id;
    std::optional<QString> title;
    std::optional<QString> projectNumber;
    std::optional<QString> clientId;
    std::optional<bool> completed;

    static ProjectDTO decode(const wire::Decoder& decoder);
    bool operator==(const ProjectDTO&) const = default;
};

struct JobDTO {
    QString id;
    std::optional<QString> title;
    std::optional<QString> jobNumber;
    std::optional<QString> clientId;
    std::optional<QString> projectId;
    std::optional<bool> archived;
    std::optional<ClientDTO> client;
    std::optional<ProjectDTO> project;

    static JobDTO decode(const wire::Decoder& decoder);
    bool operator==(const JobDTO&) const = default;
};

// Short forms the service embeds in a job time.
struct ClientSnippet {
    QString id;
    std::optional<QString> companyName;
    std::optional<QString> customerName;
    std::optional<QString> hourlyRate;

    static constexpr bool kRepeatsVerbatim = true;
    static ClientSnippet decode(const wire::Decoder& decoder);
    bool operator==(const ClientSnippet&) const = default;
};

struct JobSnippet {
    QString id;
    std::optional<QString> title;
    std::optional<QString> jobNumber;
    std::optional<QString> projectNumber;

    static constexpr bool kRepeatsVerbatim = true;
    static JobSnippet decode(const wire::Decoder& decoder);
    bool operator==(const JobSnippet&) const = default;
};

struct JobTaskSnippet {
    QString id;
    std::optional<QString> title;
    std::optional<QString> jobId;
    std::optional<QString> jobNumber;
    std::optional<QString> rate;
    std::optional<QString> scheduledTime;

    static constexpr bool kRepeatsVerbatim = true;
    static JobTaskSnippet decode(const wire::Decoder& decoder);
    bool operator==(const JobTaskSnippet&) const = default;
};

} // namespace orvane
