#include "platform/model_container.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace orvane::platform;

namespace {

// A note may name another note; that reference is checked only at commit.
const ModelSchema kNotes{"Note",
                         {{"key", "TEXT NOT NULL"},
                          {"n", "INTEGER NOT NULL"},
                          {"parent", "TEXT REFERENCES Note(key) DEFERRABLE INITIALLY DEFERRED"}},
                         "key"};

QVariantMap note(const QString& key, QVariant n, const QString& parent = {}) {
    return {{"key", key}, {"n", n}, {"parent", parent.isEmpty() ? QVariant() : parent}};
}

// The stored notes as "key=n" and the journal mode, read through a connection of its own.
QStringList contents(const QString& path) {
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "reader");
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open());
        QSqlQuery q("SELECT key || '=' || n FROM Note ORDER BY key", db);
        while (q.next())
            out << q.value(0).toString();
        QSqlQuery mode("PRAGMA journal_mode", db);
        out << (mode.next() ? mode.value(0).toString() : QString());
    }
    QSqlDatabase::removeDatabase("reader");
    return out;
}

// Damage as it happens to files: every page after the first overwritten with
// garbage (the store still opens, writes fail), or no database at all, with
// the index of a log left beside it (SQLite itself removes a stale log).
void overwriteDataPages(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_GT(file.size(), 4096);
    file.seek(4096);
    file.write(QByteArray(file.size() - 4096, '\xA5'));
}
void replaceWithText(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray("Einkaufsliste: Milch, Brot\n").repeated(400));
    QFile index(path + "-shm");
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("Quittung");
}

QStringList filesIn(const QString& dir) {
    QStringList names = QDir(dir).entryList(QDir::Files);
    names.sort();
    return names;
}

} // namespace

TEST(ModelContainer, DamagedStoreIsKeptBesideWithoutOverwritingAndAFreshOneRecords) {
    const std::pair<void (*)(const QString&), QStringList> cases[] = {
        {&overwriteDataPages, {""}},
        {&replaceWithText, {"", "-shm"}},
    };
    for (const auto& [damage, companions] : cases) {
        QTemporaryDir dir;
        const QString path = dir.path() + "/default.store";
        QStringList kept;
        for (int round = 1; round <= 3; ++round) {
            SCOPED_TRACE(round);
            {
                auto container = ModelContainer::open(path, {kNotes});
                ASSERT_TRUE(container);
                for (int n = 0; n < 200; ++n) // enough rows for pages beyond the first
                    container->mainContext()->insert("Note", note(QString::number(n), round));
                ASSERT_TRUE(container->mainContext()->save());
            }
            damage(path);
            QFile damaged(path);
            ASSERT_TRUE(damaged.open(QIODevice::ReadOnly));
            kept << damaged.readAll();

            auto container = ModelContainer::open(path, {kNotes});
            ASSERT_TRUE(container) << "a damaged store gives way to a fresh one";
            container->mainContext()->insert("Note", note("after", round));
            EXPECT_TRUE(container->mainContext()->save());
            container.reset();
            EXPECT_EQ(contents(path), (QStringList{"after=" + QString::number(round), "wal"}));
        }
        QStringList files{"default.store"};
        for (const char* aside : {".corrupt", ".corrupt.1", ".corrupt.2"})
            for (const QString& companion : companions)
                files << "default.store" + QString(aside) + companion;
        files.sort();
        EXPECT_EQ(filesIn(dir.path()), files)
            << "nothing overwritten, no log left for the new store";
        for (int i = 0; i < kept.size(); ++i) {
            QFile aside(path + ".corrupt" + (i ? "." + QString::number(i) : QString()));
            ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
            EXPECT_TRUE(aside.readAll() == kept[i]) << "each damaged store kept as it was";
        }
    }
}

TEST(ModelContainer, FailedSaveWritesNothingAndLaterSavesStillWork) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/nested/default.store";
    auto container = ModelContainer::open(path, {kNotes});
    ASSERT_TRUE(container);
    QSqlQuery(QSqlDatabase::database(container->connectionName())).exec("PRAGMA foreign_keys=ON");
    ModelContext* context = container->mainContext();

    const std::vector<std::pair<QString, QVariantMap>> failing[] = {
        {{"Note", note("a", 1)}, {"Note", note("b", QVariant())}}, // breaks NOT NULL
        {{"Unknown", note("c", 3)}},
        {{"Note", note("d", 4, "missing")}}, // fails only at commit
    };
    for (const auto& rows : failing) {
        for (const auto& [table, row] : rows)
            context->insert(table, row);
        EXPECT_FALSE(context->save());
        EXPECT_FALSE(context->hasChanges());
    }
    EXPECT_EQ(contents(path), QStringList{"wal"}); // all or nothing
    EXPECT_FALSE(QFile::exists(path + ".corrupt")) << "a refused row is no damage";

    context->insert("Note", note("a", 1));
    EXPECT_TRUE(context->save());
    context->insert("Note", note("a", 2)); // the same key replaces
    context->insert("Note", note("b", 5, "a"));
    EXPECT_TRUE(context->save());

    container.reset();
    ASSERT_TRUE(ModelContainer::open(path, {kNotes}));
    EXPECT_EQ(contents(path), (QStringList{"a=2", "b=5", "wal"}));
}

// Client names, job and task titles and times are nobody else's business.
TEST(ModelContainer, StoreAndItsLogAreTheOwnersAloneNewOrFoundOpen) {
    const mode_t umaskBefore = ::umask(022);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/orvane", path = folder + "/default.store";
    const QStringList files{path, path + "-wal", path + "-shm"};
    const auto modes = [&] {
        QList<unsigned> out;
        for (const QString& name : QStringList{folder} + files) {
            struct stat st {};
            out << (::stat(QFile::encodeName(name).constData(), &st) == 0 ? st.st_mode & 07777 : 0);
        }
        return out;
    };
    for (const bool found : {false, true}) {
        SCOPED_TRACE(found);
        if (found) // as earlier versions left them
            for (const QString& name : QStringList{folder} + files)
                ::chmod(QFile::encodeName(name).constData(), name == folder ? 0755 : 0644);
        auto container = ModelContainer::open(path, {kNotes});
        ASSERT_TRUE(container);
        container->mainContext()->insert("Note", note("a", int(found)));
        ASSERT_TRUE(container->mainContext()->save());
        EXPECT_EQ(modes(), (QList<unsigned>{0700, 0600, 0600, 0600}));
    }
    ::umask(umaskBefore);
}

// Where the records live is the same whatever folder Orvane was started from.
TEST(ModelContainer, DefaultPlaceIgnoresARelativeDataHome) {
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    const bool wasSet = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    QStandardPaths::setTestModeEnabled(false);
    qputenv("HOME", "/home/probe");
    const std::pair<const char*, QString> cases[] = {
        {nullptr, "/home/probe/.local/share/orvane/default.store"},
        {"data", "/home/probe/.local/share/orvane/default.store"},
        {"./here/data", "/home/probe/.local/share/orvane/default.store"},
        {"/srv/data", "/srv/data/orvane/default.store"},
    };
    for (const auto& [dataHome, expected] : cases) {
        SCOPED_TRACE(dataHome ? dataHome : "(unset)");
        if (dataHome)
            qputenv("XDG_DATA_HOME", dataHome);
        else
            qunsetenv("XDG_DATA_HOME");
        EXPECT_EQ(ModelContainer::defaultPath().toStdString(), expected.toStdString());
    }
    QStandardPaths::setTestModeEnabled(true);
    qputenv("HOME", savedHome);
    if (wasSet)
        qputenv("XDG_DATA_HOME", savedData);
    else
        qunsetenv("XDG_DATA_HOME");
}
