#include "service/json_coding.h"

#include <QCborMap>
#include <QCborValue>
#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace orvane {

QString DecodingError::localizedDescription() const {
    return QStringLiteral(
        "Die Daten konnten nicht gelesen werden, da sie nicht das korrekte Format haben.");
}

namespace wire {

std::optional<QString> trimmedNonEmpty(const std::optional<QString>& text) {
    if (!text)
        return std::nullopt;
    QString trimmed = text->trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

QString convertFromSnakeCase(const QString& key) {
    if (key.isEmpty() || !key.contains(u'_'))
        return key;
    qsizetype first = 0;
    while (first < key.size() && key[first] == u'_')
        ++first;
    if (first == key.size())
        return key; // only underscores
    qsizetype last = key.size() - 1;
    while (last > first && key[last] == u'_')
        --last;
    const QStringView core = QStringView(key).mid(first, last - first + 1);
    const auto pieces = core.split(u'_', Qt::SkipEmptyParts);
    if (pieces.size() <= 1)
        return key;
    QString joined = pieces.front().toString().toLower();
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const QStringView piece = pieces[i];
        joined += piece.left(1).toString().toUpper();
        joined += piece.mid(1).toString().toLower();
    }
    return key.left(first) + joined + key.mid(last + 1);
}

QString convertToSnakeCase(const QString& key) {
    if (key.isEmpty())
        return key;
    // Words end before an upper-case letter; a run of capitals followed by a
    // lower-case letter is a word of its own ("URLString" → "url_string").
    std::vector<std::pair<qsizetype, qsizetype>> words; // [start, end)
    qsizetype wordStart = 0;
    qsizetype searchFrom = 1;
    const qsizetype end = key.size();
    const auto findFrom = [&](qsizetype from, bool upper) -> qsizetype {
        for (qsizetype i = from; i < end; ++i)
            if (upper ? key[i].isUpper() : key[i].isLower())
                return i;
        return -1;
    };
    while (true) {
        const qsizetype upper = findFrom(searchFrom, true);
        if (upper < 0)
            break;
        words.emplace_back(wordStart, upper);
        const qsizetype lower = findFrom(upper, false);
        if (lower < 0) {
            wordStart = upper;
            break;
        }
        if (lower == upper + 1) {
            wordStart = upper;
        } else {
            words.emplace_back(upper, lower - 1);
            wordStart = lower - 1;
        }
        searchFrom = lower + 1;
    }
    words.emplace_back(wordStart, end);
    QStringList parts;
    for (const auto& [s, e] : words)
        parts << key.mid(s, e - s).toLower();
    return parts.join(u'_');
}

QString doubleDescription(double value) {
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    if (value == 0)
        return std::signbit(value) ? QStringLiteral("-0.0") : QStringLiteral("0.0");
    char buf[64];
    const auto [ptr, ec] =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
    if (ec != std::errc())
        return {};
    const std::string sci(buf, ptr);
    const auto e = sci.find('e');
    std::string digits = sci.substr(0, e);
    digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
    const int exponent = std::atoi(sci.c_str() + e + 1);
    std::string out = value < 0 ? "-" : "";
    if (exponent >= -4 && exponent <= 15) {
        if (exponent >= 0) {
            const auto intLen = static_cast<size_t>(exponent) + 1;
            // Appended piece by piece: g++ 12 sees a false overlap (-Wrestrict)
            // in `"." + std::string` once it inlines the operator.
            if (digits.size() <= intLen) {
                out.append(digits).append(intLen - digits.size(), '0').append(".0");
            } else {
                out.append(digits, 0, intLen).append(1, '.').append(digits, intLen);
            }
        } else {
            out.append("0.").append(static_cast<size_t>(-exponent - 1), '0').append(digits);
        }
    } else {
        out.append(digits, 0, 1);
        if (digits.size() > 1)
            out.append(1, '.').append(digits, 1);
        char exp[16];
        std::snprintf(exp, sizeof exp, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        out += exp;
    }
    return QString::fromLatin1(out.data(), static_cast<qsizetype>(out.size()));
}

namespace {
// ASCII bytes of `text`, or nothing when it holds anything else.
std::optional<QByteArray> asciiBytes(QStringView text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() > 0x7f)
            return std::nullopt;
        bytes.append(static_cast<char>(c.unicode()));
    }
    return bytes;
}
} // namespace

std::optional<double> parseDouble(QStringView text) {
    const auto bytes = asciiBytes(text);
    if (!bytes || bytes->isEmpty())
        return std::nullopt;
    const char* first = bytes->constData();
    const char* last = first + bytes->size();
    if (*first == '+') {
        ++first;
        if (first == last || *first == '-' || *first == '+')
            return std::nullopt;
    }
    // Only plain decimal forms: no "inf", "nan" or hexadecimal text.
    for (const char* p = first; p != last; ++p) {
        const char c = *p;
        if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+'))
            return std::nullopt;
    }
    double value = 0;
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec != std::errc() || ptr != last || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<qint64> parseInteger(QStringView text) {
    const auto bytes = asciiBytes(text);
    if (!bytes || bytes->isEmpty())
        return std::nullopt;
    const char* first = bytes->constData();
    const char* last = first + bytes->size();
    if (*first == '+') {
        ++first;
        if (first == last || *first == '-')
            return std::nullopt;
    }
    qint64 value = 0;
    const auto [ptr, ec] = std::from_chars(first, last, value, 10);
    if (ec != std::errc() || ptr != last)
        return std::nullopt;
    return value;
}

std::optional<qint64> roundToInt64(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::round(value); // halves away from zero
    // 2^63 is exactly representable; anything at or above it does not fit.
    if (rounded >= 9223372036854775808.0 || rounded < -9223372036854775808.0)
        return std::nullopt;
    return static_cast<qint64>(rounded);
}

std::optional<qint64> exactInteger(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const qint64 i = value.toInteger(0);
    if (i == 0 && value.toDouble() != 0.0)
        return std::nullopt;
    return i;
}

QString memberKey(const QString& wireKey) {
    if (!wireKey.contains(u'_'))
        return wireKey;
    // Bounded: a hostile reply may bring any number of distinct keys; those
    // past the limit are converted each time, as before.
    constexpr qsizetype kTableLimit = 1024;
    thread_local QHash<QString, QString> table;
    if (const auto it = table.constFind(wireKey); it != table.cend())
        return *it;
    QString member = convertFromSnakeCase(wireKey);
    // Only keys of a sane length are kept, so the table stays small whatever
    // a reply names its members.
    constexpr qsizetype kKeptKeyLength = 64;
    if (table.size() < kTableLimit && wireKey.size() <= kKeptKeyLength)
        table.insert(wireKey, member);
    return member;
}

CodingPath CodingPath::with(Segment segment) const {
    CodingPath path;
    if (segments_.size() < kHeld) {
        path = *this;
    } else {
        path.base_ = text();
    }
    path.segments_.append(std::move(segment));
    return path;
}

QString CodingPath::text() const {
    QString text = base_;
    for (const Segment& segment : segments_) {
        if (segment.index >= 0) {
            char digits[24];
            const auto end = std::to_chars(digits, digits + sizeof digits, segment.index).ptr;
            text.append(u'[').append(QLatin1StringView(digits, end - digits)).append(u']');
        } else if (text.isEmpty()) {
            text = segment.key;
        } else {
            text.append(u'.').append(segment.key);
        }
    }
    return text;
}

// ---- Decoder ----

void Decoder::typeMismatch(const char* expected) const {
    throw DecodingError(DecodingError::Kind::TypeMismatch, path_.text(),
                        QStringLiteral("Expected to decode %1 but found another type instead.")
                            .arg(QLatin1String(expected)));
}

KeyedContainer Decoder::container() const {
    if (!value_.isObject())
        typeMismatch("an object");
    return KeyedContainer(value_.toObject(), path_, convertKeys_);
}

QString Decoder::decodeString() const {
    if (!value_.isString())
        typeMismatch("a string");
    return value_.toString();
}

bool Decoder::decodeBool() const {
    if (!value_.isBool())
        typeMismatch("a bool");
    return value_.toBool();
}

qint64 Decoder::decodeInt() const {
    if (!value_.isDouble())
        typeMismatch("an integer");
    const auto i = exactInteger(value_);
    if (!i)
        throw DecodingError(DecodingError::Kind::DataCorrupted, path_.text(),
                            QStringLiteral("Parsed JSON number does not fit in Int."));
    return *i;
}

double Decoder::decodeDouble() const {
    if (!value_.isDouble())
        typeMismatch("a number");
    return value_.toDouble();
}

// ---- KeyedContainer ----

// The keys of one shape of object: as sent, in the object's order, and as
// member keys. The records of a list share a handful of shapes, so each is
// worked out once and then only recognised.
struct KeyedContainer::Layout {
    QStringList wireKeys;
    QList<QCborValue> cborKeys; // the same, to compare with parsed keys
    QStringList memberKeys;
    QHash<QString, qsizetype> index; // member key → first position; large shapes only
    bool convertKeys = true;

    qsizetype positionOf(QStringView member) const {
        if (!index.isEmpty()) {
            // Raw data: the lookup allocates nothing.
            const auto it = index.constFind(QString::fromRawData(member.data(), member.size()));
            return it == index.cend() ? -1 : *it;
        }
        for (qsizetype i = 0; i < memberKeys.size(); ++i)
            if (memberKeys[i].size() == member.size() && memberKeys[i] == member)
                return i; // two wire keys met after conversion: the first stays
        return -1;
    }

    // Whether `object` has exactly these keys. Compared where they were
    // parsed (a map view shares the object's storage): no key text is made.
    bool fits(const QJsonObject& object) const {
        if (object.size() != wireKeys.size())
            return false;
        const QCborMap map = QCborMap::fromJsonObject(object);
        qsizetype i = 0;
        for (auto it = map.constBegin(); it != map.constEnd(); ++it, ++i)
            if (it.key() != cborKeys[i])
                return false;
        return true;
    }
};

namespace {

using Layout = std::shared_ptr<const KeyedContainer::Layout>;

// Bounded, as everything a reply decides: a few shapes, each of few and
// short keys, are kept; anything else is worked out for its object alone.
constexpr qsizetype kKeptShapes = 16;
constexpr qsizetype kKeptShapeKeys = 64;
constexpr qsizetype kKeptShapeChars = 2048;

Layout makeLayout(const QJsonObject& object, bool convertKeys, qsizetype scanLimit) {
    auto layout = std::make_shared<KeyedContainer::Layout>();
    layout->convertKeys = convertKeys;
    layout->wireKeys.reserve(object.size());
    layout->cborKeys.reserve(object.size());
    layout->memberKeys.reserve(object.size());
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        QString key = it.key();
        layout->memberKeys.append(convertKeys ? memberKey(key) : key);
        layout->cborKeys.append(QCborValue(key));
        layout->wireKeys.append(std::move(key));
    }
    if (layout->memberKeys.size() > scanLimit) {
        layout->index.reserve(layout->memberKeys.size());
        for (qsizetype i = 0; i < layout->memberKeys.size(); ++i)
            if (!layout->index.contains(layout->memberKeys[i]))
                layout->index.insert(layout->memberKeys[i], i);
    }
    return layout;
}

Layout layoutFor(const QJsonObject& object, bool convertKeys, qsizetype scanLimit) {
    thread_local std::vector<Layout> kept; // the oldest first
    for (auto it = kept.rbegin(); it != kept.rend(); ++it)
        if ((*it)->convertKeys == convertKeys && (*it)->fits(object))
            return *it;
    Layout layout = makeLayout(object, convertKeys, scanLimit);
    qsizetype chars = 0;
    for (const QString& key : layout->wireKeys)
        chars += key.size();
    if (object.size() <= kKeptShapeKeys && chars <= kKeptShapeChars) {
        if (qsizetype(kept.size()) == kKeptShapes)
            kept.erase(kept.begin());
        kept.push_back(layout);
    }
    return layout;
}

} // namespace

KeyedContainer::KeyedContainer(const QJsonObject& object, QString codingPath, bool convertKeys)
    : KeyedContainer(object, CodingPath(std::move(codingPath)), convertKeys) {}

KeyedContainer::KeyedContainer(const QJsonObject& object, CodingPath codingPath, bool convertKeys)
    : object_(object), layout_(layoutFor(object, convertKeys, kScanLimit)),
      path_(std::move(codingPath)), convertKeys_(convertKeys) {}

std::optional<QJsonValue> KeyedContainer::find(QStringView key) const {
    const qsizetype at = layout_->positionOf(key);
    if (at < 0)
        return std::nullopt;
    return QJsonValue((object_.constBegin() + at).value());
}

bool KeyedContainer::isNil(const QString& key) const {
    const auto v = find(key);
    return !v || v->isNull() || v->isUndefined();
}

QStringList KeyedContainer::allKeys() const {
    QStringList keys;
    keys.reserve(layout_->memberKeys.size());
    for (qsizetype i = 0; i < layout_->memberKeys.size(); ++i) {
        const QString& key = layout_->memberKeys[i];
        // Only the first of keys that meet after conversion counts.
        if (layout_->positionOf(key) == i)
            keys << key;
    }
    return keys;
}

QString KeyedContainer::pathFor(const QString& key) const {
    return path_.child(key).text();
}

Decoder KeyedContainer::decoder(const QString& key) const {
    const auto v = find(key);
    if (!v)
        throw DecodingError(DecodingError::Kind::KeyNotFound, pathFor(key),
                            QStringLiteral("No value associated with key \"%1\".").arg(key));
    return Decoder(*v, path_.child(key), convertKeys_);
}

void KeyedContainer::dataCorrupted(const QString& key, const QString& description) const {
    throw DecodingError(DecodingError::Kind::DataCorrupted, pathFor(key), description);
}

QString KeyedContainer::decodeID(const QString& key) const {
    if (const auto v = find(key)) {
        if (v->isString()) {
            const QString trimmed = v->toString().trimmed();
            if (!trimmed.isEmpty())
                return trimmed;
        }
        if (const auto i = exactInteger(*v))
            return QString::number(*i);
    }
    dataCorrupted(key, QStringLiteral("Expected id"));
}

std::optional<QString> KeyedContainer::decodeLenientString(const QString& key) const {
    const auto v = find(key);
    if (!v)
        return std::nullopt;
    if (v->isString()) {
        const QString trimmed = v->toString().trimmed();
        if (trimmed.isEmpty())
            return std::nullopt;
        return trimmed;
    }
    if (v->isDouble())
        return doubleDescription(v->toDouble());
    return std::nullopt;
}

std::optional<QString> KeyedContainer::decodeLenientReference(const QString& key) const {
    if (const auto v = find(key))
        if (const auto whole = exactInteger(*v))
            return QString::number(*whole);
    return decodeLenientString(key);
}

std::optional<qint64> KeyedContainer::decodeLenientInt(const QString& key) const {
    const auto v = find(key);
    if (!v)
        return std::nullopt;
    if (v->isDouble()) {
        if (const auto i = exactInteger(*v))
            return i;
        return roundToInt64(v->toDouble());
    }
    if (v->isString()) {
        const QString trimmed = v->toString().trimmed();
        if (trimmed.isEmpty())
            return std::nullopt;
        return parseInteger(trimmed);
    }
    return std::nullopt;
}

namespace {
std::optional<bool> lenientBool(const std::optional<QJsonValue>& v) {
    if (!v)
        return std::nullopt;
    if (v->isBool())
        return v->toBool();
    if (const auto i = exactInteger(*v))
        return *i != 0;
    if (v->isString()) {
        const QString text = v->toString().trimmed().toLower();
        if (text == u"1" || text == u"true" || text == u"yes")
            return true;
        if (text == u"0" || text == u"false" || text == u"no")
            return false;
    }
    return std::nullopt;
}
} // namespace

std::optional<bool> KeyedContainer::decodeLenientBool(const QString& key) const {
    return lenientBool(find(key));
}

std::optional<bool> KeyedContainer::decodeLenientBool(const QStringList& keys) const {
    for (const QString& key : keys)
        if (const auto b = lenientBool(find(key)))
            return b;
    return std::nullopt;
}

std::optional<QString> KeyedContainer::decodeFirstNonEmptyString(const QStringList& keys) const {
    for (const QString& key : keys) {
        const auto v = find(key);
        if (!v || !v->isString())
            continue;
        const QString trimmed = v->toString().trimmed();
        if (!trimmed.isEmpty())
            return trimmed;
    }
    return std::nullopt;
}

QJsonValue convertKeysToSnakeCase(const QJsonValue& value) {
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        QJsonObject out;
        for (auto it = object.begin(); it != object.end(); ++it)
            out.insert(convertToSnakeCase(it.key()), convertKeysToSnakeCase(it.value()));
        return out;
    }
    if (value.isArray()) {
        QJsonArray out;
        for (const QJsonValue& element : value.toArray())
            out.append(convertKeysToSnakeCase(element));
        return out;
    }
    return value;
}

QJsonValue parseJSON(const QByteArray& data) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError(DecodingError::Kind::DataCorrupted, QString(),
                            QStringLiteral("The given data was not valid JSON."));
    if (doc.isArray())
        return doc.array();
    if (doc.isObject())
        return doc.object();
    throw DecodingError(DecodingError::Kind::DataCorrupted, QString(),
                        QStringLiteral("The given data was not valid JSON."));
}

// ---- BodyWriter ----

BodyWriter& BodyWriter::add(const QString& member, const QJsonValue& value) {
    entries_.emplace_back(convertToSnakeCase(member), value);
    return *this;
}

namespace {
// One value as compact JSON text, written by Qt's own writer.
QByteArray jsonFragment(const QJsonValue& value) {
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}
} // namespace

QByteArray BodyWriter::toJson() const {
    QByteArray out = "{";
    for (const auto& [key, value] : entries_) {
        if (out.size() > 1)
            out += ',';
        out += jsonFragment(key) + ':' + jsonFragment(value);
    }
    out += '}';
    return out;
}

QJsonObject BodyWriter::toObject() const {
    QJsonObject object;
    for (const auto& [key, value] : entries_)
        object.insert(key, value);
    return object;
}

} // namespace wire
} // namespace orvane
