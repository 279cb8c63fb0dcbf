#include "platform/model_container.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUuid>

namespace orvane::platform {

namespace {
QString quoted(const QString& identifier) {
    QString escaped = identifier;
    escaped.replace(u'"', QStringLiteral("\"\""));
    return u'"' + escaped + u'"';
}
} // namespace

QString ModelContainer::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/orvane/default.store");
}

std::unique_ptr<ModelContainer> ModelContainer::open(const QString& path,
                                                     std::vector<ModelSchema> schemas) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString connection =
        QStringLiteral("orvane-store-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        ok = db.open();
        if (ok) {
            QSqlQuery q(db);
            // A store that is not SQLite fails here, before anything is written.
            ok = q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) && q.next();
            for (const ModelSchema& schema : schemas) {
                if (!ok)
                    break;
                QStringList columns;
                for (const auto& [name, type] : schema.columns)
                    columns << quoted(name) + u' ' + type +
                                   (name == schema.uniqueColumn ? QStringLiteral(" UNIQUE")
                                                                : QString());
                ok = q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (%2)")
                                .arg(quoted(schema.table), columns.join(QStringLiteral(", "))));
            }
        }
        if (!ok)
            db.close();
    }
    if (!ok) {
        QSqlDatabase::removeDatabase(connection);
        return nullptr;
    }
    return std::unique_ptr<ModelContainer>(new ModelContainer(connection, std::move(schemas)));
}

ModelContainer::ModelContainer(QString connection, std::vector<ModelSchema> schemas)
    : connection_(std::move(connection)), schemas_(std::move(schemas)),
      context_(new ModelContext(this)) {}

ModelContainer::~ModelContainer() {
    context_.reset();
    QSqlDatabase::database(connection_, false).close();
    QSqlDatabase::removeDatabase(connection_);
}

const ModelSchema* ModelContainer::schema(const QString& table) const {
    for (const ModelSchema& s : schemas_)
        if (s.table == table)
            return &s;
    return nullptr;
}

ModelContext::ModelContext(ModelContainer* container) : container_(container) {}

void ModelContext::insert(const QString& table, const QVariantMap& row) {
    pending_.emplace_back(table, row);
}

bool ModelContext::save() {
    if (pending_.empty())
        return true;
    const auto pending = std::move(pending_);
    pending_.clear();
    QSqlDatabase db = QSqlDatabase::database(container_->connectionName(), false);
    if (!db.isOpen() || !db.transaction())
        return false;
    for (const auto& [table, row] : pending) {
        const ModelSchema* schema = container_->schema(table);
        if (!schema) {
            db.rollback();
            return false;
        }
        QStringList names, marks;
        for (const auto& [name, type] : schema->columns) {
            names << quoted(name);
            marks << QStringLiteral("?");
        }
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT OR REPLACE INTO %1 (%2) VALUES (%3)")
                      .arg(quoted(table), names.join(u','), marks.join(u',')));
        for (const auto& [name, type] : schema->columns)
            q.addBindValue(row.value(name));
        if (!q.exec()) {
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        // A commit that fails (a deferred constraint, a full disk) leaves the
        // transaction open, and every later save would fail with it.
        db.rollback();
        return false;
    }
    return true;
}

} // namespace orvane::platform
