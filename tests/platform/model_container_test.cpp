#include "platform/model_container.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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

} // namespace

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

    context->insert("Note", note("a", 1));
    EXPECT_TRUE(context->save());
    context->insert("Note", note("a", 2)); // the same key replaces
    context->insert("Note", note("b", 5, "a"));
    EXPECT_TRUE(context->save());

    container.reset();
    ASSERT_TRUE(ModelContainer::open(path, {kNotes}));
    EXPECT_EQ(contents(path), (QStringList{"a=2", "b=5", "wal"}));
}
