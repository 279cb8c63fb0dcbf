#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <vector>

namespace orvane::platform {

// One kind of persisted record: a table whose columns are created on first
// open; a row with an existing value in `uniqueColumn` replaces that row.
struct ModelSchema {
    QString table;
    // Column name and SQL type, in order ("TEXT NOT NULL", "INTEGER NOT NULL", …).
    std::vector<std::pair<QString, QString>> columns;
    QString uniqueColumn;
};

class ModelContainer;

// Collects inserted records and writes them on save, all or nothing.
class ModelContext : public QObject {
    Q_OBJECT
public:
    void insert(const QString& table, const QVariantMap& row);
    // Writes what was inserted since the last save in one transaction. A
    // failed save rolls back and drops those records, so the file stays as
    // it was and later saves work.
    bool save();
    bool hasChanges() const { return !pending_.empty(); }

private:
    friend class ModelContainer;
    explicit ModelContext(ModelContainer* container);

    ModelContainer* container_;
    std::vector<std::pair<QString, QVariantMap>> pending_;
};

// The local store of records: an SQLite file in write-ahead-log mode.
class ModelContainer {
public:
    // Opens (or creates) the store; nothing when the file cannot be used.
    static std::unique_ptr<ModelContainer> open(const QString& path,
                                                std::vector<ModelSchema> schemas);
    // $XDG_DATA_HOME/orvane/default.store
    static QString defaultPath();

    ~ModelContainer();
    ModelContainer(const ModelContainer&) = delete;
    ModelContainer& operator=(const ModelContainer&) = delete;

    ModelContext* mainContext() { return context_.get(); }
    QString connectionName() const { return connection_; }
    const ModelSchema* schema(const QString& table) const;

private:
    ModelContainer(QString connection, std::vector<ModelSchema> schemas);

    QString connection_;
    std::vector<ModelSchema> schemas_;
    std::unique_ptr<ModelContext> context_;
};

} // namespace orvane::platform
