#include "store/stopped_session_record.h"

namespace orvane {

namespace {
QString instantText(const QDateTime& date) {
    return date.toUTC().toString(Qt::ISODateWithMs);
}
} // namespace

QString StoppedSessionRecord::table() {
    return QStringLiteral("StoppedSessionRecord");
}

platform::ModelSchema StoppedSessionRecord::schema() {
    const QString text = QStringLiteral("TEXT NOT NULL");
    const QString integer = QStringLiteral("INTEGER NOT NULL");
    return {table(),
            {{QStringLiteral("localId"), text},
             {QStringLiteral("jobTimeServerId"), text},
             {QStringLiteral("clientName"), text},
             {QStringLiteral("jobTitle"), text},
             {QStringLiteral("taskTitle"), text},
             {QStringLiteral("startedAt"), text},
             {QStringLiteral("endedAt"), text},
             {QStringLiteral("elapsedSecs"), integer},
             {QStringLiteral("pauseCount"), integer},
             {QStringLiteral("pauseSecs"), integer}},
            QStringLiteral("localId")};
}

QVariantMap StoppedSessionRecord::row() const {
    return {{QStringLiteral("localId"), localId.toString(QUuid::WithoutBraces)},
            {QStringLiteral("jobTimeServerId"), jobTimeServerId},
            {QStringLiteral("clientName"), clientName},
            {QStringLiteral("jobTitle"), jobTitle},
            {QStringLiteral("taskTitle"), taskTitle},
            {QStringLiteral("startedAt"), instantText(startedAt)},
            {QStringLiteral("endedAt"), instantText(endedAt)},
            {QStringLiteral("elapsedSecs"), elapsedSecs},
            {QStringLiteral("pauseCount"), pauseCount},
            {QStringLiteral("pauseSecs"), pauseSecs}};
}

} // namespace orvane
