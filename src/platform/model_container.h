#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <vector>

class QSqlError;

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
    // it was and later saves work. When the file turns out damaged, the
    // records go into the fresh store that replaces it.
    bool save();
    bool hasChanges() const { return !pending_.empty(); }

private:
    friend class ModelContainer;
    explicit ModelContext(ModelContainer* container);

    ModelContainer* container_;
    std::vector<std::pair<QString, QVariantMap>> pending_;
};

// The local store of records: an SQLite file in write-ahead-log mode. A file
// that SQLite finds damaged or not a database, at open or on a write, is kept
// beside as "<name>.corrupt" (".corrupt.1", … when taken) and a fresh store
// takes its place.
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
    friend class ModelContext;
    enum class Outcome { Done, Damaged, Failed };

    ModelContainer(QString path, std::vector<ModelSchema> schemas);

    static Outcome outcomeOf(const QSqlError& error);
    Outcome connect();
    void disconnect();
    // Moves the damaged file aside and connects to a fresh one.
    bool startAfresh();
    bool moveAside() const;
    Outcome write(const std::vector<std::pair<QString, QVariantMap>>& rows);

    QString path_;
    QString connection_;
    std::vector<ModelSchema> schemas_;
    std::unique_ptr<ModelContext> context_;
};

} // namespace orvane::platform
