#pragma once

#include "platform/model_container.h"

#include <QDateTime>
#include <QString>
#include <QUuid>
#include <QVariantMap>

namespace orvane {

// The local record of a stopped session; one per job time.
struct StoppedSessionRecord {
    QUuid localId;
    QString jobTimeServerId;
    QString clientName;
    QString jobTitle;
    QString taskTitle;
    QDateTime startedAt;
    QDateTime endedAt;
    qint64 elapsedSecs = 0;
    qint64 pauseCount = 0;
    qint64 pauseSecs = 0;

    static QString table();
    static platform::ModelSchema schema();
    QVariantMap row() const;
};

} // namespace orvane
