#include "platform/user_defaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::platform {

namespace {
UserDefaults* g_override = nullptr;

// Three keys and the app's own values fit many times over.
constexpr qint64 kMaxFileBytes = 1024 * 1024;

// The settings file's bytes when it is a regular file (links followed) of at
// most kMaxFileBytes; nothing for a device, a FIFO, a socket, a folder or a
// file beyond the limit. Opening never waits for a writer.
std::optional<QByteArray> readRegularFile(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return QByteArray();
    QByteArray data;
    struct stat st {};
    bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxFileBytes;
    if (ours) {
        // One byte more than the limit tells a file that grew meanwhile.
        data.resize(kMaxFileBytes + 1);
        qint64 filled = 0;
        while (filled < data.size()) {
            const ssize_t n = ::read(fd, data.data() + filled, std::size_t(data.size() - filled));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            filled += n;
        }
        ours = filled <= kMaxFileBytes;
        data.resize(ours ? filled : 0);
        data.squeeze();
    }
    ::close(fd);
    if (!ours)
        return std::nullopt;
    return data;
}

// Whether a save may put a file of ours at `path`: nothing is there yet, or
// a regular file is (a link to one is written through, as QSaveFile does).
bool mayWriteAt(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT;
    return S_ISREG(st.st_mode);
}

QString defaultPath() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    // A relative XDG_CONFIG_HOME names no place (the XDG rules ignore it).
    if (QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/orvane/defaults.json");
}

std::optional<qint64> wholeNumberText(const QString& text) {
    const QByteArray bytes = text.trimmed().toLatin1();
    const char* first = bytes.constData();
    const char* last = first + bytes.size();
    if (first != last && *first == '+')
        ++first;
    qint64 value = 0;
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last || first == last)
        return std::nullopt;
    return value;
}
} // namespace

UserDefaults::UserDefaults(QString filePath) : path_(std::move(filePath)) {}

UserDefaults& UserDefaults::standard() {
    if (g_override)
        return *g_override;
    static UserDefaults instance(defaultPath());
    return instance;
}

void UserDefaults::overrideStandard(UserDefaults* defaults) {
    g_override = defaults;
}

UserDefaults::FileStamp UserDefaults::stampNow() const {
    struct stat st {};
    const QByteArray native = QFile::encodeName(path_);
    if (::stat(native.constData(), &st) != 0)
        return {};
    return FileStamp{true, static_cast<qint64>(st.st_size),
                     static_cast<qint64>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
                     static_cast<quint64>(st.st_ino)};
}

void UserDefaults::reloadIfChanged() const {
    const FileStamp now = stampNow();
    if (loaded_ && now == stamp_)
        return;
    loaded_ = true;
    stamp_ = now;
    values_ = {};
    corrupt_ = false;
    foreign_ = false;
    if (!now.exists)
        return;
    const std::optional<QByteArray> read = readRegularFile(path_);
    if (!read) {
        // Not ours to read or replace: the run's changes stay in memory.
        foreign_ = true;
        return;
    }
    const QByteArray& data = *read;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        // Unreadable: behave as empty, but keep the file for the first write.
        corrupt_ = !data.trimmed().isEmpty();
        return;
    }
    values_ = doc.object();
}

std::optional<QJsonValue> UserDefaults::object(const QString& key) const {
    reloadIfChanged();
    const auto it = values_.constFind(key);
    if (it == values_.constEnd() || it->isNull() || it->isUndefined())
        return std::nullopt;
    return *it;
}

QString UserDefaults::numberText(double value) {
    if (!std::isfinite(value))
        return value != value ? QStringLiteral("nan") : (value < 0 ? "-inf" : "inf");
    if (value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    char buf[64];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return QString::fromLatin1(buf, ec == std::errc() ? ptr - buf : 0);
}

std::optional<QString> UserDefaults::string(const QString& key) const {
    const auto value = object(key);
    if (!value)
        return std::nullopt;
    if (value->isString())
        return value->toString();
    if (value->isDouble()) {
        const qint64 whole = value->toInteger(std::numeric_limits<qint64>::min());
        if (whole != std::numeric_limits<qint64>::min())
            return QString::number(whole);
        return numberText(value->toDouble());
    }
    return std::nullopt;
}

bool UserDefaults::boolValue(const QString& key) const {
    const auto value = object(key);
    if (!value)
        return false;
    if (value->isBool())
        return value->toBool();
    if (value->isDouble())
        return value->toDouble() != 0.0;
    if (value->isString()) {
        const QString text = value->toString().trimmed().toLower();
        if (text == QLatin1String("true") || text == QLatin1String("yes"))
            return true;
        const auto whole = wholeNumberText(text);
        return whole && *whole != 0;
    }
    return false;
}

qint64 UserDefaults::integer(const QString& key) const {
    const auto value = object(key);
    if (!value)
        return 0;
    if (value->isBool())
        return value->toBool() ? 1 : 0;
    if (value->isDouble()) {
        const double d = value->toDouble();
        const qint64 whole = value->toInteger(std::numeric_limits<qint64>::min());
        if (whole != std::numeric_limits<qint64>::min())
            return whole;
        if (!std::isfinite(d))
            return 0;
        if (d >= 9.2e18)
            return std::numeric_limits<qint64>::max();
        if (d <= -9.2e18)
            return std::numeric_limits<qint64>::min();
        return static_cast<qint64>(std::trunc(d));
    }
    if (value->isString()) {
        // Leading whole number of the text, as a user-defaults store reads it.
        const QString text = value->toString().trimmed();
        qsizetype end = 0;
        if (end < text.size() && (text[end] == u'+' || text[end] == u'-'))
            ++end;
        while (end < text.size() && text[end] >= u'0' && text[end] <= u'9')
            ++end;
        return wholeNumberText(text.left(end)).value_or(0);
    }
    return 0;
}

void UserDefaults::set(const QString& key, const QJsonValue& value) {
    reloadIfChanged();
    if (value.isNull() || value.isUndefined())
        values_.remove(key);
    else
        values_.insert(key, value);
    write();
}

void UserDefaults::remove(const QString& key) {
    reloadIfChanged();
    values_.remove(key);
    write();
}

void UserDefaults::write() {
    if (foreign_ || !mayWriteAt(path_))
        return;
    // Deeply nested values indent past the read limit: what is written must
    // read back at the next start.
    QByteArray bytes = QJsonDocument(values_).toJson(QJsonDocument::Indented);
    if (bytes.size() > kMaxFileBytes)
        bytes = QJsonDocument(values_).toJson(QJsonDocument::Compact);
    if (bytes.size() > kMaxFileBytes)
        return;
    const QFileInfo info(path_);
    QDir().mkpath(info.absolutePath());
    if (corrupt_) {
        // Never overwrite a file we could not read without keeping it.
        const QString aside = path_ + QStringLiteral(".corrupt");
        QFile::remove(aside);
        if (!QFile::copy(path_, aside))
            return; // keep the unreadable file as it is rather than lose it
        QFile::setPermissions(aside, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        corrupt_ = false;
    }
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(bytes);
    if (file.commit())
        stamp_ = stampNow();
}

} // namespace orvane::platform
