#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>
#include <sys/types.h>

namespace orvane::platform {

// The user's preferences and settings: a typed JSON document on disk.
// Values keep their JSON type; the readers follow the conversions callers
// expect of a user-defaults store (a number read as text, a word read as a
// flag). Every read first checks whether the file changed on disk, so edits
// made by hand are seen at once. Only a regular file of at most 1 MiB is
// read; anything else at the path reads as empty and is left as it is, the
// run's changes then living in memory only.
class UserDefaults {
public:
    explicit UserDefaults(QString filePath);

    // $XDG_CONFIG_HOME/orvane/defaults.json, or the instance a test installed.
    static UserDefaults& standard();
    // Installs `defaults` as the standard instance (nullptr restores the file one).
    static void overrideStandard(UserDefaults* defaults);

    QString filePath() const { return path_; }

    // The stored value; absent for a missing key or JSON null.
    std::optional<QJsonValue> object(const QString& key) const;
    // A text as stored, a number as its text; absent for anything else.
    std::optional<QString> string(const QString& key) const;
    bool boolValue(const QString& key) const;
    qint64 integer(const QString& key) const;

    void set(const QString& key, const QJsonValue& value);
    void setString(const QString& key, const QString& value) { set(key, QJsonValue(value)); }
    void setBool(const QString& key, bool value) { set(key, QJsonValue(value)); }
    void setInteger(const QString& key, qint64 value) { set(key, QJsonValue(value)); }
    void remove(const QString& key);

    // The text a stored number reads as: whole numbers without a fraction
    // ("3"), others in their shortest exact form ("2.5").
    static QString numberText(double value);

private:
    struct FileStamp {
        bool exists = false;
        qint64 size = 0;
        qint64 mtimeNs = 0;
        quint64 inode = 0;
        bool operator==(const FileStamp&) const = default;
    };

    FileStamp stampNow() const;
    void reloadIfChanged() const;
    void write();

    QString path_;
    mutable QJsonObject values_;
    mutable FileStamp stamp_;
    mutable bool loaded_ = false;
    mutable bool corrupt_ = false;
    // The path holds something other than a settings file within bounds.
    mutable bool foreign_ = false;
};

} // namespace orvane::platform
