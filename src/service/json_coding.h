#pragma once

#include "platform/error.h"

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QVarLengthArray>

#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace orvane {

// A reply that does not have the shape its record expects.
class DecodingError : public Error {
public:
    enum class Kind { TypeMismatch, ValueNotFound, KeyNotFound, DataCorrupted };

    DecodingError(Kind kind, QString codingPath, QString debugDescription)
        : kind_(kind), codingPath_(std::move(codingPath)),
          debugDescription_(std::move(debugDescription)) {}

    Kind kind() const { return kind_; }
    QString codingPath() const { return codingPath_; }
    QString debugDescription() const { return debugDescription_; }
    QString localizedDescription() const override;

private:
    Kind kind_;
    QString codingPath_;
    QString debugDescription_;
};

namespace wire {

// The text trimmed of whitespace and newlines; nothing when absent or blank.
std::optional<QString> trimmedNonEmpty(const std::optional<QString>& text);

// Wire key → member key: "first_name" → "firstName". Keys without "_" stay as
// they are; leading and trailing underscores are kept.
QString convertFromSnakeCase(const QString& key);
// Member name → wire key: "deviceName" → "device_name".
QString convertToSnakeCase(const QString& key);

// The shortest text that reads back to the same double, with ".0" on whole
// numbers and exponent form outside [1e-4, 1e16): 80 → "80.0", 1e16 → "1e+16".
QString doubleDescription(double value);

// Whole text as a decimal floating-point number in the C locale (optional
// sign and exponent); absent when it does not parse or is not finite.
std::optional<double> parseDouble(QStringView text);
// Whole text as a base-10 integer with an optional "+" or "-"; absent when it
// does not parse or does not fit 64 bits.
std::optional<qint64> parseInteger(QStringView text);
// Rounds halves away from zero; absent when not finite or outside 64 bits.
std::optional<qint64> roundToInt64(double value);

// The value when it is a JSON number with a whole value that fits 64 bits.
std::optional<qint64> exactInteger(const QJsonValue& value);

// The member key a wire key stands for, as convertFromSnakeCase gives it,
// from a table filled as keys are first met: every record of a list shares
// its keys, so each is converted once and not for every object.
QString memberKey(const QString& wireKey);

class KeyedContainer;

// Where a value sits in the document. Spelled out only when an error needs
// it: a list of thousands of records must not build a text per element.
class CodingPath {
public:
    CodingPath() = default;
    explicit CodingPath(QString text) : base_(std::move(text)) {}

    CodingPath child(const QString& key) const { return with({key, -1}); }
    CodingPath child(qsizetype index) const { return with({QString(), index}); }
    QString text() const;

private:
    struct Segment {
        QString key;
        qsizetype index = -1;
    };
    // Deeper paths fold their first part into the text.
    static constexpr qsizetype kHeld = 8;

    CodingPath with(Segment segment) const;

    QString base_;
    QVarLengthArray<Segment, kHeld> segments_;
};

class Document;

// A reply's bytes made ready for reading: structure indexed, nothing decoded.
struct ParsedJSON {
    std::shared_ptr<Document> document;
};

// One value as the readers see it: its kind and, for scalars, its content.
struct Atom {
    enum class Kind : quint8 { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    bool integral = false; // a number held as a whole 64-bit value
    qint64 integer = 0;
    double number = 0;
    QString string;

    bool isNumber() const { return kind == Kind::Number; }
    bool isString() const { return kind == Kind::String; }
    double toDouble() const { return integral ? static_cast<double>(integer) : number; }
    std::optional<qint64> exactInteger() const {
        return integral ? std::optional<qint64>(integer) : std::nullopt;
    }
};

// Where a live value of a parsed reply sits: a resettable object or array of
// the reply's reader, or a scalar token. Opaque here.
struct LiveHandle {
    alignas(8) unsigned char bytes[24];
};

// One JSON value being decoded, with its place in the document for errors.
// A value of a parsed reply is read where it lies: only the members asked
// for are decoded, and no tree of the document is built.
class Decoder {
public:
    Decoder(QJsonValue value, QString codingPath, bool convertKeys = true)
        : json_(std::move(value)), path_(std::move(codingPath)), convertKeys_(convertKeys) {}
    Decoder(QJsonValue value, CodingPath codingPath, bool convertKeys)
        : json_(std::move(value)), path_(std::move(codingPath)), convertKeys_(convertKeys) {}
    Decoder(const ParsedJSON& parsed, QString codingPath, bool convertKeys = true);
    Decoder(const ParsedJSON& parsed, CodingPath codingPath, bool convertKeys);

    // The value as a Qt JSON value; built on request for a parsed reply.
    QJsonValue value() const;
    QString codingPath() const { return path_.text(); }
    bool isNil() const;

    KeyedContainer container() const; // throws unless the value is an object

    // Strict single-value readers of the platform's decoder.
    QString decodeString() const;
    bool decodeBool() const;
    qint64 decodeInt() const;
    double decodeDouble() const;

    template <class T> T decode() const;

    // Calls `each` with a decoder for every element; throws unless an array.
    template <class F> void forEachElement(F&& each) const {
        eachElement(
            [](void* f, const Decoder& element) {
                (*static_cast<std::remove_reference_t<F>*>(f))(element);
            },
            &each);
    }

    [[noreturn]] void typeMismatch(const char* expected) const;

private:
    friend class KeyedContainer;
    enum class Source : quint8 { Json, Scalar, Live };
    Decoder(std::shared_ptr<Document> document, Atom atom, const LiveHandle& live,
            CodingPath codingPath, bool convertKeys);

    Atom atom() const;
    void eachElement(void (*each)(void*, const Decoder&), void* context) const;

    QJsonValue json_;
    std::shared_ptr<Document> document_;
    Atom atom_;       // a parsed reply's scalar, or the kind of its container
    LiveHandle live_; // a parsed reply's object or array
    Source source_ = Source::Json;
    CodingPath path_;
    bool convertKeys_;
};

// A JSON object whose keys are matched after the snake-case conversion. It
// refers to the parsed values; nothing of them is copied.
class KeyedContainer {
public:
    KeyedContainer(const QJsonObject& object, QString codingPath, bool convertKeys = true);
    KeyedContainer(const QJsonObject& object, CodingPath codingPath, bool convertKeys);

    bool contains(const QString& key) const { return find(key).has_value(); }
    // Absent key or JSON null.
    bool isNil(const QString& key) const;
    QStringList allKeys() const;
    QString codingPath() const { return path_.text(); }

    // The value under `key`; throws keyNotFound when absent.
    Decoder decoder(const QString& key) const;

    template <class T> T decode(const QString& key) const;
    // Absent or null gives nothing; any other value must decode as T.
    template <class T> std::optional<T> decodeIfPresent(const QString& key) const;

    // Lenient readers.
    QString decodeID(const QString& key) const;
    std::optional<QString> decodeLenientString(const QString& key) const;
    // A reference to another record: as decodeLenientString, but a whole
    // number reads as its decimal text ("12", not "12.0"), the form every
    // identifier is held in.
    std::optional<QString> decodeLenientReference(const QString& key) const;
    std::optional<qint64> decodeLenientInt(const QString& key) const;
    std::optional<bool> decodeLenientBool(const QString& key) const;
    std::optional<bool> decodeLenientBool(const QStringList& keys) const;
    std::optional<QString> decodeFirstNonEmptyString(const QStringList& keys) const;

    [[noreturn]] void dataCorrupted(const QString& key, const QString& description) const;

    struct Layout;

private:
    friend class Decoder;
    // Up to this many keys a scan beats hashing; larger objects get an index.
    static constexpr qsizetype kScanLimit = 24;

    struct Field {
        std::string_view key;   // as sent, escapes and all
        std::string_view token; // a scalar's text; the first byte of any value
        LiveHandle opened;      // an object or array, opened where it lies
    };

    KeyedContainer(std::shared_ptr<Document> document, const LiveHandle& object,
                   CodingPath codingPath, bool convertKeys);

    std::optional<Atom> find(QStringView key) const;
    // The whole text of the object under `key` in a parsed reply; empty for
    // any other value.
    std::string_view objectBytes(const QString& key) const;
    Decoder childAt(qsizetype position, const QString& key) const;
    QJsonObject toObject() const;
    QString pathFor(const QString& key) const;

    QJsonObject object_; // shares the parsed document: nothing of it is copied
    std::shared_ptr<Document> document_;
    LiveHandle live_;
    QVarLengthArray<Field, 24> fields_; // a parsed reply's members, in its order
    std::shared_ptr<const Layout> layout_;
    CodingPath path_;
    bool convertKeys_;
};

template <class T> struct IsVector : std::false_type {};
template <class T> struct IsVector<std::vector<T>> : std::true_type {};
template <class T> struct IsStringMap : std::false_type {};
template <class T> struct IsStringMap<std::map<QString, T>> : std::true_type {};

template <class T> T Decoder::decode() const {
    if constexpr (std::is_same_v<T, QString>) {
        return decodeString();
    } else if constexpr (std::is_same_v<T, bool>) {
        return decodeBool();
    } else if constexpr (std::is_same_v<T, qint64>) {
        return decodeInt();
    } else if constexpr (std::is_same_v<T, double>) {
        return decodeDouble();
    } else if constexpr (IsVector<T>::value) {
        T result;
        forEachElement([&result](const Decoder& element) {
            result.push_back(element.template decode<typename T::value_type>());
        });
        return result;
    } else if constexpr (IsStringMap<T>::value) {
        const KeyedContainer c = container();
        T result;
        for (const QString& key : c.allKeys())
            result.insert_or_assign(key, c.decoder(key).template decode<typename T::mapped_type>());
        return result;
    } else {
        return T::decode(*this);
    }
}

template <class T> T KeyedContainer::decode(const QString& key) const {
    const Decoder d = decoder(key);
    if (d.isNil())
        throw DecodingError(DecodingError::Kind::ValueNotFound, d.codingPath(),
                            QStringLiteral("Expected a value but found null instead."));
    return d.template decode<T>();
}

// The last record of a type decoded on this thread, by its bytes. A service
// repeats some records verbatim down a list (every job time of a task names
// the same task, job and client), so each run of them is decoded once. A
// record opts in (kRepeatsVerbatim) only when its decoding depends on nothing
// but its bytes.
template <class T> struct LastDecoded {
    static constexpr size_t kMostBytes = 4096;
    std::string bytes;
    bool convertKeys = true;
    std::optional<T> value;

    const std::optional<T>* find(std::string_view sent, bool convert) const {
        return value && convertKeys == convert && bytes == sent ? &value : nullptr;
    }
    void keep(std::string_view sent, bool convert, const T& decoded) {
        if (sent.size() > kMostBytes) {
            value.reset();
            return;
        }
        bytes.assign(sent);
        convertKeys = convert;
        value = decoded;
    }
};

template <class T> std::optional<T> KeyedContainer::decodeIfPresent(const QString& key) const {
    if (isNil(key))
        return std::nullopt;
    if constexpr (requires { T::kRepeatsVerbatim; }) {
        if (const std::string_view sent = objectBytes(key); !sent.empty()) {
            thread_local LastDecoded<T> last;
            if (const auto* same = last.find(sent, convertKeys_))
                return *same;
            T value = decoder(key).template decode<T>();
            last.keep(sent, convertKeys_, value);
            return value;
        }
    }
    return decoder(key).template decode<T>();
}

// Every object key in `value`, nested ones included, in snake_case.
QJsonValue convertKeysToSnakeCase(const QJsonValue& value);

// Indexes a reply's bytes as JSON for reading; an unreadable document is a
// DecodingError like any other. The reader pads the bytes itself and holds
// them (shared) while a decoder of them lives: a body whose buffer is not
// shared and has kReadPadding bytes free after its end is read where it
// lies (the padding written into that room), any other is copied once.
ParsedJSON parseJSON(const QByteArray& data);
inline constexpr qsizetype kReadPadding = 64;

template <class T> T decodeJSON(const QByteArray& data) {
    return Decoder(parseJSON(data), QString()).template decode<T>();
}

// For a root object whose "data" list is read element by element: calls
// `each` with each element, copied and indexed on its own while its bytes
// are at hand, and checks the rest of the document apart, so that a reply of
// 100 MB is neither copied nor ever has an index of its whole. False when
// the body is not of that plain form (some elements may have been called by
// then).
bool eachDataElement(const QByteArray& body, void (*each)(void*, const Decoder&), void* context);

// The "data" list of a reply, as decodeJSON<SingleDataResponse<std::vector<T>>>
// reads it, element by element where the body allows.
template <class T> std::vector<T> decodeDataList(const QByteArray& body) {
    std::vector<T> list;
    try {
        const auto append = [](void* to, const Decoder& element) {
            static_cast<std::vector<T>*>(to)->push_back(element.template decode<T>());
        };
        if (eachDataElement(body, append, &list))
            return list;
    } catch (const DecodingError&) {
        // The whole document names the same fault as the reader in one piece
        // would: which comes first, in what place.
    }
    return Decoder(parseJSON(body), QString())
        .container()
        .template decode<std::vector<T>>(QStringLiteral("data"));
}

// A JSON object written in member order, keys converted to snake_case.
class BodyWriter {
public:
    BodyWriter& add(const QString& member, const QJsonValue& value);
    template <class T> BodyWriter& addIfPresent(const QString& member, const std::optional<T>& v) {
        if (v)
            add(member, QJsonValue(*v));
        return *this;
    }
    QByteArray toJson() const;
    QJsonObject toObject() const;

private:
    std::vector<std::pair<QString, QJsonValue>> entries_;
};

} // namespace wire
} // namespace orvane
