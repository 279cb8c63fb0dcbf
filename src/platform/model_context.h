#pragma once

#include <QObject>

namespace orvane::platform {

// The persistence context through which stopped sessions are recorded.
class ModelContext : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
};

} // namespace orvane::platform
