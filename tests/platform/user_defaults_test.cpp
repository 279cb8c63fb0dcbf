#include "platform/user_defaults.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform = orvane::platform;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

unsigned fileMode(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

std::string describe(const QJsonValue& value) {
    if (value.isUndefined())
        return "(missing)";
    return QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).toStdString();
}

std::optional<std::string> text(const std::optional<QString>& value) {
    if (!value)
        return std::nullopt;
    return value->toStdString();
}

class UserDefaults : public ::testing::Test {
protected:
    QString path() const { return dir.path() + QStringLiteral("/defaults.json"); }

    // A fresh instance over a file holding `value` under "key" (nothing for
    // an undefined value), written the way a user editing it by hand would.
    platform::UserDefaults holding(const QJsonValue& value) {
        QJsonObject object;
        if (!value.isUndefined())
            object.insert(QStringLiteral("key"), value);
        writeAll(path(), QJsonDocument(object).toJson());
        return platform::UserDefaults(path());
    }

    QTemporaryDir dir;
};

const QJsonValue kMissing = QJsonValue(QJsonValue::Undefined);
const QJsonValue kArray = QJsonArray{1, 2};
const QJsonValue kObject = QJsonObject{{"a", 1}};

} // namespace

TEST_F(UserDefaults, TypedValuesRoundTripThroughASecondInstanceOnTheSameFile) {
    platform::UserDefaults writer(path());
    writer.setString("name", "Ada");
    writer.setBool("flag", true);
    writer.setInteger("count", 9'000'000'000);
    writer.set("rate", 12.5);
    writer.set("list", kArray);
    writer.set("nested", kObject);
    writer.setString("gone", "soon");
    writer.remove("gone");

    const platform::UserDefaults reader(path());
    EXPECT_EQ(text(reader.string("name")), "Ada");
    EXPECT_TRUE(reader.object("flag")->isBool());
    EXPECT_TRUE(reader.boolValue("flag"));
    EXPECT_EQ(reader.integer("count"), 9'000'000'000);
    EXPECT_EQ(reader.object("rate"), QJsonValue(12.5));
    EXPECT_EQ(reader.object("list"), kArray);
    EXPECT_EQ(reader.object("nested"), kObject);
    EXPECT_EQ(reader.object("gone"), std::nullopt);
    EXPECT_EQ(reader.object("never-set"), std::nullopt);
}

TEST_F(UserDefaults, StoredNullReadsAsAbsent) {
    const platform::UserDefaults defaults = holding(QJsonValue::Null);
    EXPECT_EQ(defaults.object("key"), std::nullopt);
    EXPECT_EQ(defaults.string("key"), std::nullopt);
}

TEST_F(UserDefaults, StringReadsTextsAsStoredAndNumbersAsTheirText) {
    const struct {
        QJsonValue stored;
        std::optional<std::string> expected;
    } cases[] = {
        {"https://example.test", "https://example.test"},
        {"  padded  ", "  padded  "},
        {"", ""},
        {3, "3"},
        {2.5, "2.5"},
        {-7, "-7"},
        {0.1, "0.1"},
        {true, std::nullopt},
        {kArray, std::nullopt},
        {kObject, std::nullopt},
        {QJsonValue::Null, std::nullopt},
        {kMissing, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.stored));
        EXPECT_EQ(text(holding(c.stored).string("key")), c.expected);
    }
}

TEST_F(UserDefaults, BoolReadsFlagsNumbersAndYesOrTrueWords) {
    const struct {
        QJsonValue stored;
        bool expected;
    } cases[] = {
        {true, true},      {false, false},  {1, true},        {0, false},
        {-2.5, true},      {0.0, false},    {"YES", true},    {"yes", true},
        {"True", true},    {"TRUE", true},  {"2", true},      {"-1", true},
        {"0", false},      {"no", false},   {"false", false}, {"maybe", false},
        {"", false},       {kArray, false}, {kObject, false}, {QJsonValue::Null, false},
        {kMissing, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.stored));
        EXPECT_EQ(holding(c.stored).boolValue("key"), c.expected);
    }
}

TEST_F(UserDefaults, IntegerReadsNumbersFlagsAndLeadingDigitsOfTexts) {
    const struct {
        QJsonValue stored;
        qint64 expected;
    } cases[] = {
        {42, 42},      {-3, -3},
        {2.9, 2},      {-2.9, -2},
        {true, 1},     {false, 0},
        {"17", 17},    {"-5", -5},
        {"12abc", 12}, {"abc", 0},
        {"", 0},       {kArray, 0},
        {kObject, 0},  {QJsonValue::Null, 0},
        {kMissing, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.stored));
        EXPECT_EQ(holding(c.stored).integer("key"), c.expected);
    }
}

TEST_F(UserDefaults, EditOfTheFileOnDiskIsSeenByTheNextRead) {
    platform::UserDefaults defaults(path());
    defaults.setString("orvane_api_base_url", "https://one.example");
    ASSERT_EQ(text(defaults.string("orvane_api_base_url")), "https://one.example");

    writeAll(path(), R"({"orvane_api_base_url": "https://second.example.test"})");
    EXPECT_EQ(text(defaults.string("orvane_api_base_url")), "https://second.example.test");

    // An editor that saves by replacing the file.
    const QString replacement = dir.path() + QStringLiteral("/replacement.json");
    writeAll(replacement, R"({"other": 1})");
    ASSERT_TRUE(QFile::remove(path()));
    ASSERT_TRUE(QFile::rename(replacement, path()));
    EXPECT_EQ(defaults.string("orvane_api_base_url"), std::nullopt);
    EXPECT_EQ(defaults.integer("other"), 1);

    ASSERT_TRUE(QFile::remove(path()));
    EXPECT_EQ(defaults.object("other"), std::nullopt);
}

TEST_F(UserDefaults, UnreadableFileReadsEmptyAndIsKeptBesideBeforeTheFirstWrite) {
    const QByteArray broken = R"({"orvane_api_base_url": "https://half.example)";
    writeAll(path(), broken);
    const QString kept = path() + QStringLiteral(".corrupt");

    platform::UserDefaults defaults(path());
    EXPECT_EQ(defaults.object("orvane_api_base_url"), std::nullopt);
    EXPECT_FALSE(defaults.boolValue("orvane_api_base_url"));
    EXPECT_EQ(readAll(path()), broken) << "reading must not touch the file";
    EXPECT_FALSE(QFile::exists(kept));

    defaults.setBool("launched", true);
    EXPECT_EQ(readAll(kept), broken);
    QJsonParseError error{};
    const QJsonDocument rewritten = QJsonDocument::fromJson(readAll(path()), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError);
    EXPECT_EQ(rewritten.object(), (QJsonObject{{"launched", true}}));
    EXPECT_TRUE(platform::UserDefaults(path()).boolValue("launched"));
}

TEST_F(UserDefaults, UnreadableFileIsNotOverwrittenWhenItCannotBeKeptBeside) {
    const QByteArray broken = "{ hand-edited, not quite JSON";
    writeAll(path(), broken);
    // Something that is no file already sits where the copy would go.
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("defaults.json.corrupt/occupied")));

    platform::UserDefaults defaults(path());
    defaults.setBool("launched", true);
    EXPECT_EQ(readAll(path()), broken);
}

TEST_F(UserDefaults, JsonThatIsNotAnObjectCountsAsUnreadable) {
    writeAll(path(), "[1, 2, 3]");
    platform::UserDefaults defaults(path());
    EXPECT_EQ(defaults.object("0"), std::nullopt);
    defaults.setInteger("count", 1);
    EXPECT_EQ(readAll(path() + QStringLiteral(".corrupt")), "[1, 2, 3]");
    EXPECT_EQ(platform::UserDefaults(path()).integer("count"), 1);
}

TEST_F(UserDefaults, FileIsReadableOnlyByItsOwnerAfterAWrite) {
    writeAll(path(), "{}");
    ASSERT_TRUE(QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ReadOther));
    ASSERT_EQ(fileMode(path()), 0644u);

    platform::UserDefaults(path()).setString("orvane_http_basic_password", "secret");
    EXPECT_EQ(fileMode(path()), 0600u);

    const QString fresh = dir.path() + QStringLiteral("/fresh.json");
    platform::UserDefaults(fresh).setBool("flag", true);
    EXPECT_EQ(fileMode(fresh), 0600u);
}

TEST_F(UserDefaults, MissingDirectoryIsCreatedOnTheFirstWrite) {
    const QString nested = dir.path() + QStringLiteral("/config/orvane/defaults.json");
    platform::UserDefaults defaults(nested);
    EXPECT_EQ(defaults.object("flag"), std::nullopt);
    EXPECT_FALSE(QDir(dir.path() + QStringLiteral("/config")).exists());

    defaults.setBool("flag", true);
    ASSERT_TRUE(QFile::exists(nested));
    EXPECT_TRUE(platform::UserDefaults(nested).boolValue("flag"));
}

// ---- Files that are no settings file of ours ----

TEST_F(UserDefaults, AnythingButARegularFileWithinItsLimitReadsEmptyAtOnceAndIsLeftAsItIs) {
    const auto encoded = [](const QString& p) { return QFile::encodeName(p).toStdString(); };
    const auto fifo = [&](const QString& p) { ASSERT_EQ(::mkfifo(encoded(p).c_str(), 0600), 0); };
    const auto link = [&](const char* to, const QString& p) {
        ASSERT_EQ(::symlink(to, encoded(p).c_str()), 0);
    };
    const std::pair<const char*, std::function<void(const QString&)>> cases[] = {
        {"link to a fifo",
         [&](const QString& p) {
             fifo(p + ".pipe");
             link("defaults.json.pipe", p);
         }},
        {"link to a device", [&](const QString& p) { link("/dev/zero", p); }},
        {"over 1 MiB",
         [](const QString& p) {
             writeAll(p, R"({"key": true, "pad": ")" + QByteArray(1 << 20, 'x') + R"("})");
         }},
    };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        QTemporaryDir own;
        const QString file = own.path() + "/defaults.json";
        make(file);
        const QStringList entries = QDir(own.path()).entryList(QDir::AllEntries | QDir::System);
        struct stat before {};
        ASSERT_EQ(::lstat(encoded(file).c_str(), &before), 0);
        platform::UserDefaults defaults(file);
        EXPECT_FALSE(defaults.boolValue("key"));
        // No save over a device link: a regression would overwrite the device.
        if (std::string(name) != "link to a device") {
            defaults.setBool("launched", true);
            EXPECT_TRUE(defaults.boolValue("launched")) << "kept for the run";
        }
        struct stat after {};
        ASSERT_EQ(::lstat(encoded(file).c_str(), &after), 0);
        EXPECT_EQ(std::tie(after.st_ino, after.st_mode, after.st_size),
                  std::tie(before.st_ino, before.st_mode, before.st_size));
        EXPECT_EQ(QDir(own.path()).entryList(QDir::AllEntries | QDir::System), entries)
            << "nothing kept beside, nothing left over";
    }
}
