#include "platform/model_container.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::platform {

namespace {
QString quoted(const QString& identifier) {
    QString escaped = identifier;
    escaped.replace(u'"', QStringLiteral("\"\""));
    return u'"' + escaped + u'"';
}

// SQLite's SQLITE_CORRUPT and SQLITE_NOTADB; the low byte is the primary
// code when extended codes are on.
constexpr int kCorrupt = 11;
constexpr int kNotADatabase = 26;

const QString kCompanions[] = {QStringLiteral("-wal"), QStringLiteral("-shm")};

// The records name clients, jobs and tasks: the folder is the user's alone.
void makeOwnFolder(const QString& folder) {
    const QByteArray native = QFile::encodeName(folder);
    QDir().mkpath(folder);
    struct stat st {};
    // Another user's folder (a shared one) is not ours to close.
    if (::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & 07777) != 0700)
        ::chmod(native.constData(), 0700);
}

// SQLite creates the store with the process's umask (0644 at most) and gives
// its log and index the store's mode; created 0600 first, all three stay so.
void makeOwnFiles(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    // A FIFO in its place must not hold the start up.
    const int fd =
        ::open(native.constData(),
               O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
            ::fchmod(fd, st.st_mode & 0700);
        ::close(fd);
    }
    for (const QString& companion : kCompanions) {
        const QByteArray name = QFile::encodeName(path + companion);
        struct stat st {};
        if (::lstat(name.constData(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
            ::chmod(name.constData(), st.st_mode & 0700);
    }
}
} // namespace

ModelContainer::Outcome ModelContainer::outcomeOf(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && (code == kCorrupt || code == kNotADatabase) ? Outcome::Damaged : Outcome::Failed;
}

QString ModelContainer::defaultPath() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    // A relative XDG_DATA_HOME names no place (the XDG rules ignore it): the
    // records would follow the folder each start was made from.
    if (QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/orvane/default.store");
}

std::unique_ptr<ModelContainer> ModelContainer::open(const QString& path,
                                                     std::vector<ModelSchema> schemas) {
    makeOwnFolder(QFileInfo(path).absolutePath());
    std::unique_ptr<ModelContainer> container(new ModelContainer(path, std::move(schemas)));
    const Outcome outcome = container->connect();
    if (outcome == Outcome::Done || (outcome == Outcome::Damaged && container->startAfresh()))
        return container;
    return nullptr;
}

ModelContainer::ModelContainer(QString path, std::vector<ModelSchema> schemas)
    : path_(std::move(path)), schemas_(std::move(schemas)), context_(new ModelContext(this)) {}

ModelContainer::~ModelContainer() {
    context_.reset();
    disconnect();
}

ModelContainer::Outcome ModelContainer::connect() {
    connection_ =
        QStringLiteral("orvane-store-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    makeOwnFiles(path_);
    Outcome outcome = Outcome::Done;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
        db.setDatabaseName(path_);
        if (!db.open()) {
            outcome = outcomeOf(db.lastError());
        } else {
            QSqlQuery q(db);
            // A store that is not SQLite fails here, before anything is written.
            if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next())
                outcome = outcomeOf(q.lastError());
            for (const ModelSchema& schema : schemas_) {
                if (outcome != Outcome::Done)
                    break;
                QStringList columns;
                for (const auto& [name, type] : schema.columns)
                    columns << quoted(name) + u' ' + type +
                                   (name == schema.uniqueColumn ? QStringLiteral(" UNIQUE")
                                                                : QString());
                if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (%2)")
                                .arg(quoted(schema.table), columns.join(QStringLiteral(", ")))))
                    outcome = outcomeOf(q.lastError());
            }
        }
    }
    if (outcome != Outcome::Done)
        disconnect();
    return outcome;
}

void ModelContainer::disconnect() {
    if (connection_.isEmpty())
        return;
    QSqlDatabase::database(connection_, false).close();
    QSqlDatabase::removeDatabase(connection_);
    connection_.clear();
}

bool ModelContainer::startAfresh() {
    disconnect();
    if (!moveAside())
        return false;
    return connect() == Outcome::Done;
}

bool ModelContainer::moveAside() const {
    // The write-ahead log and its index belong to the damaged file: left
    // behind, SQLite would replay them into the fresh one.
    const auto taken = [](const QString& name) {
        return QFileInfo::exists(name) || QFileInfo::exists(name + kCompanions[0]) ||
               QFileInfo::exists(name + kCompanions[1]);
    };
    QString aside = path_ + QStringLiteral(".corrupt");
    for (int n = 1; taken(aside); ++n)
        aside = path_ + QStringLiteral(".corrupt.") + QString::number(n);
    if (!QFile::rename(path_, aside))
        return false;
    for (const QString& companion : kCompanions)
        if (QFileInfo::exists(path_ + companion) &&
            !QFile::rename(path_ + companion, aside + companion) &&
            !QFile::remove(path_ + companion))
            return false;
    return true;
}

const ModelSchema* ModelContainer::schema(const QString& table) const {
    for (const ModelSchema& s : schemas_)
        if (s.table == table)
            return &s;
    return nullptr;
}

ModelContainer::Outcome
ModelContainer::write(const std::vector<std::pair<QString, QVariantMap>>& rows) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.isOpen())
        return Outcome::Failed;
    QSqlQuery q(db);
    // Statements of our own rather than QSqlDatabase::commit(), which drops
    // SQLite's error code.
    if (!q.exec(QStringLiteral("BEGIN")))
        return outcomeOf(q.lastError());
    Outcome outcome = Outcome::Done;
    for (const auto& [table, row] : rows) {
        const ModelSchema* schema = this->schema(table);
        if (!schema) {
            outcome = Outcome::Failed;
            break;
        }
        QStringList names, marks;
        for (const auto& [name, type] : schema->columns) {
            names << quoted(name);
            marks << QStringLiteral("?");
        }
        q.prepare(QStringLiteral("INSERT OR REPLACE INTO %1 (%2) VALUES (%3)")
                      .arg(quoted(table), names.join(u','), marks.join(u',')));
        for (const auto& [name, type] : schema->columns)
            q.addBindValue(row.value(name));
        if (!q.exec()) {
            outcome = outcomeOf(q.lastError());
            break;
        }
    }
    if (outcome == Outcome::Done && q.exec(QStringLiteral("COMMIT")))
        return Outcome::Done;
    if (outcome == Outcome::Done)
        outcome = outcomeOf(q.lastError());
    // A commit that fails (a deferred constraint, a full disk) leaves the
    // transaction open, and every later save would fail with it.
    q.exec(QStringLiteral("ROLLBACK"));
    return outcome;
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
    const ModelContainer::Outcome outcome = container_->write(pending);
    if (outcome != ModelContainer::Outcome::Damaged)
        return outcome == ModelContainer::Outcome::Done;
    // A damaged file would refuse every later save as well.
    return container_->startAfresh() && container_->write(pending) == ModelContainer::Outcome::Done;
}

} // namespace orvane::platform
