#include "store/recent_task_item.h"

namespace orvane {

QJsonObject RecentTaskItem::encode() const {
    QJsonObject o;
    o.insert(QLatin1String("clientId"), clientId);
    o.insert(QLatin1String("jobId"), jobId);
    o.insert(QLatin1String("taskId"), taskId);
    o.insert(QLatin1String("clientName"), clientName);
    o.insert(QLatin1String("jobTitle"), jobTitle);
    if (jobNumber)
        o.insert(QLatin1String("jobNumber"), *jobNumber);
    if (projectNumber)
        o.insert(QLatin1String("projectNumber"), *projectNumber);
    o.insert(QLatin1String("taskTitle"), taskTitle);
    o.insert(QLatin1String("clientInitials"), clientInitials);
    o.insert(QLatin1String("clientColorHex"), static_cast<qint64>(clientColorHex));
    o.insert(QLatin1String("todayTrackedSecs"), todayTrackedSecs);
    o.insert(QLatin1String("totalTrackedSecs"), totalTrackedSecs);
    if (roundDirection)
        o.insert(QLatin1String("roundDirection"), *roundDirection);
    if (roundValue)
        o.insert(QLatin1String("roundValue"), *roundValue);
    return o;
}

RecentTaskItem RecentTaskItem::decode(const wire::Decoder& decoder) {
    const wire::KeyedContainer c = decoder.container();
    RecentTaskItem r;
    r.clientId = c.decode<QString>(QStringLiteral("clientId"));
    r.jobId = c.decode<QString>(QStringLiteral("jobId"));
    r.taskId = c.decode<QString>(QStringLiteral("taskId"));
    r.clientName = c.decode<QString>(QStringLiteral("clientName"));
    r.jobTitle = c.decode<QString>(QStringLiteral("jobTitle"));
    r.jobNumber = c.decodeIfPresent<QString>(QStringLiteral("jobNumber"));
    r.projectNumber = c.decodeIfPresent<QString>(QStringLiteral("projectNumber"));
    r.taskTitle = c.decode<QString>(QStringLiteral("taskTitle"));
    r.clientInitials = c.decode<QString>(QStringLiteral("clientInitials"));
    const qint64 color = c.decode<qint64>(QStringLiteral("clientColorHex"));
    if (color < 0 || color > 0xFFFFFFFFLL)
        c.dataCorrupted(QStringLiteral("clientColorHex"),
                        QStringLiteral("Number does not fit in UInt32."));
    r.clientColorHex = static_cast<quint32>(color);
    r.todayTrackedSecs = c.decode<qint64>(QStringLiteral("todayTrackedSecs"));
    r.totalTrackedSecs = c.decode<qint64>(QStringLiteral("totalTrackedSecs"));
    r.roundDirection = c.decodeIfPresent<QString>(QStringLiteral("roundDirection"));
    r.roundValue = c.decodeIfPresent<qint64>(QStringLiteral("roundValue"));
    return r;
}

} // namespace orvane
