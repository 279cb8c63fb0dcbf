#pragma once

#include "service/json_coding.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <QUrl>

#include <map>
#include <optional>
#include <vector>

namespace orvane {

// Whether the account may record time (profile complete, AVV signed and current).
struct AccountRequirements {
    std::optional<bool> profileComplete;
    std::optional<bool> dpaSigned;
    std::optional<bool> dpaOutdated;
    std::optional<bool> ready;
    std::optional<std::map<QString, QString>> missingProfileFields;

    bool isReady() const;
    bool needsAction() const { return !isReady(); }

    static AccountRequirements decode(const wire::Decoder& decoder);
    bool operator==(const AccountRequirements&) const = default;
};

// The user's target hours per weekday.
struct WorkSchedule {
    // Keys are canonical weekday names ("Monday" … "Sunday").
    std::map<QString, qint64> hoursPerDay;
    std::optional<std::map<QString, std::vector<qint64>>> slots;

    std::map<QString, qint64> normalizedHours() const;
    // Target of `date`'s weekday in `zone`, in seconds.
    qint64 targetHours(const QDateTime& date, const QTimeZone& zone) const;
    // Target of `day`'s weekday, in seconds.
    qint64 targetHoursOn(const QDate& day) const;

    // The canonical weekday name `key` stands for, if any (trimmed, any case).
    static std::optional<QString> canonicalWeekday(const QString& key);

    static WorkSchedule decode(const wire::Decoder& decoder);
    bool operator==(const WorkSchedule&) const = default;
};

struct APIUser {
    QString id;
    QString email;
    std::optional<QString> firstName;
    std::optional<QString> lastName;
    std::optional<QString> name;
    std::optional<QString> profilePhotoUrl;
    std::optional<AccountRequirements> accountRequirements;
    std::optional<WorkSchedule> workSchedule;
    std::optional<QString> defaultHourlyRate;

    // One or two upper-case characters for the avatar circle; "?" at worst.
    QString initials() const;
    // The photo's absolute URL; relative paths resolve against `baseURLString`.
    std::optional<QUrl> profilePhotoURL(const QString& baseURLString) const;
    // As above, against the configured service address.
    std::optional<QUrl> profilePhotoURL() const;

    static APIUser decode(const wire::Decoder& decoder);
    bool operator==(const APIUser&) const = default;
};

// The first `count` user-perceived characters of `text`.
QString leadingGraphemes(const QString& text, qsizetype count);

} // namespace orvane
