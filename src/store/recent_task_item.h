#pragma once

#include "service/json_coding.h"

#include <QJsonObject>
#include <QString>

#include <optional>

namespace orvane {

// One entry of the quick-start list of recently used tasks.
struct RecentTaskItem {
    QString clientId;
    QString jobId;
    QString taskId;
    QString clientName;
    QString jobTitle;
    std::optional<QString> jobNumber;
    std::optional<QString> projectNumber;
    QString taskTitle;
    QString clientInitials;
    quint32 clientColorHex = 0;
    qint64 todayTrackedSecs = 0;
    qint64 totalTrackedSecs = 0;
    std::optional<QString> roundDirection;
    std::optional<qint64> roundValue;

    // "client/job/task"
    QString id() const { return clientId + u'/' + jobId + u'/' + taskId; }

    // Member names as keys; the optional ones only when present.
    QJsonObject encode() const;
    static RecentTaskItem decode(const wire::Decoder& decoder);

    bool operator==(const RecentTaskItem&) const = default;
};

} // namespace orvane
