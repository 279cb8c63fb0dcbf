#include "service/json_coding.h"

#include <QCborMap>
#include <QCborValue>
#include <QJsonDocument>
#include <QJsonParseError>

#include <simdjson.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
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

// ---- Parsed replies ----

namespace od = simdjson::ondemand;
static_assert(kReadPadding >= qsizetype(simdjson::SIMDJSON_PADDING));

// A reply indexed for reading. The reader keeps only the positions of the
// document's structure; values are read from the bytes when asked for.
//
// The reader reads up to kReadPadding bytes past a document's end, and
// where the structure is broken it takes what it finds there for more of
// the document: those bytes are always ours and zero, never the rest of a
// larger reply.
class Document {
public:
    QByteArray body; // the reply, padded, when read where it lies
    od::parser parser;
    od::document doc;
    const char* end = nullptr; // of the bytes indexed, before their padding

    // `size` bytes copied into the document's own buffer, padding after.
    const char* hold(const char* bytes, size_t size) {
        if (room_ < size + size_t(kReadPadding)) {
            room_ = std::max(size + size_t(kReadPadding), room_ + room_ / 2);
            auto grown = std::make_unique_for_overwrite<char[]>(room_);
            std::memcpy(grown.get(), bytes, size);
            own_ = std::move(grown);
        } else {
            std::memmove(own_.get(), bytes, size);
        }
        std::memset(own_.get() + size, 0, size_t(kReadPadding));
        return own_.get();
    }

private:
    std::unique_ptr<char[]> own_;
    size_t room_ = 0;
};

namespace {

// Qt's reader allows this many nested arrays and objects; deeper is not JSON.
constexpr int kMostNesting = 1024;

[[noreturn]] void notJSON() {
    throw DecodingError(DecodingError::Kind::DataCorrupted, QString(),
                        QStringLiteral("The given data was not valid JSON."));
}

template <class T> T ok(simdjson::simdjson_result<T>&& result) {
    T value;
    if (std::move(result).get(value))
        notJSON();
    return value;
}

template <class H> LiveHandle toHandle(const H& handle) {
    static_assert(sizeof(H) <= sizeof(LiveHandle::bytes) && std::is_trivially_copyable_v<H>);
    LiveHandle live{};
    std::memcpy(live.bytes, &handle, sizeof handle);
    return live;
}

template <class H> H fromHandle(const LiveHandle& live) {
    H handle;
    std::memcpy(static_cast<void*>(&handle), live.bytes, sizeof handle);
    return handle;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmed(std::string_view token) {
    while (!token.empty() && isSpace(token.back()))
        token.remove_suffix(1);
    return token;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isHex(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The content of a text token, blanks after it trimmed. The index ends a
// text at its closing quote: whatever follows it starts a token of its own.
std::string_view textContent(std::string_view token) {
    return token.substr(1, token.size() - 2);
}

// The content of a key, from its first byte to the value that follows: the
// index left nothing but blanks and ':' between the two.
std::string_view keyContent(const char* key, const char* value) {
    const char* at = value - 1;
    while (*at != ':')
        --at;
    do
        --at;
    while (*at != '"');
    return {key, size_t(at - key)};
}

// Whether a text's content, indexed, reads as Qt reads it: "\u" with four
// hex digits, and no escaped byte past ASCII (Qt takes that byte alone, and
// what follows it is then no UTF-8). Other escaped characters stand for
// themselves, as there.
bool readableText(std::string_view content) {
    const char* end = content.data() + content.size();
    const char* at = content.data();
    while ((at = static_cast<const char*>(std::memchr(at, '\\', size_t(end - at))))) {
        const char escaped = at[1]; // a backslash never ends a text's content
        if (escaped == 'u') {
            if (end - at < 6 || !isHex(at[2]) || !isHex(at[3]) || !isHex(at[4]) || !isHex(at[5]))
                return false;
            at += 6;
        } else if (static_cast<unsigned char>(escaped) >= 0x80) {
            return false;
        } else {
            at += 2;
        }
    }
    return true;
}

// As QString::fromUtf8, but leading U+FEFF characters stay: Qt's reader
// reads a text with escapes character by character and keeps them all.
QString fromUtf8(const char* at, qsizetype size) {
    qsizetype marks = 0;
    while (size - 3 * marks >= 3 && std::memcmp(at + 3 * marks, "\xEF\xBB\xBF", 3) == 0)
        ++marks;
    if (marks == 0)
        return QString::fromUtf8(at, size);
    return QString(marks, QChar(0xFEFF)) + QString::fromUtf8(at + 3 * marks, size - 3 * marks);
}

QString unescaped(std::string_view content) {
    const char* at = content.data();
    const char* end = at + content.size();
    const char* escape = at;
    while (escape < end && *escape != '\\')
        ++escape;
    if (escape == end)
        return QString::fromUtf8(at, qsizetype(content.size())); // a leading U+FEFF goes, as in Qt
    QString text;
    text.reserve(qsizetype(content.size()));
    while (escape) {
        text += fromUtf8(at, escape - at);
        switch (const char c = escape[1]) {
        case 'b':
            text.append(QChar(0x08));
            break;
        case 'f':
            text.append(QChar(0x0c));
            break;
        case 'n':
            text.append(QChar(0x0a));
            break;
        case 'r':
            text.append(QChar(0x0d));
            break;
        case 't':
            text.append(QChar(0x09));
            break;
        case 'u': {
            char16_t unit = 0;
            for (int i = 2; i < 6; ++i) {
                const char h = escape[i];
                unit = char16_t(unit * 16 + (isDigit(h) ? h - '0' : (h | 0x20) - 'a' + 10));
            }
            text.append(QChar(unit)); // a lone surrogate stays, as in Qt
            escape += 4;
            break;
        }
        default:
            text.append(QChar(static_cast<uchar>(c)));
            break;
        }
        at = escape + 2;
        escape = static_cast<const char*>(std::memchr(at, '\\', size_t(end - at)));
    }
    text += fromUtf8(at, end - at);
    return text;
}

// A number as Qt reads it: whole-number text that fits 64 bits, or a double
// within range; a double with a whole value that fits 64 bits becomes that
// integer (so -0.0 reads as 0). Nothing when Qt would refuse the document.
std::optional<Atom> numberAtom(std::string_view text) {
    const size_t n = text.size();
    size_t i = 0;
    if (i < n && text[i] == '-')
        ++i;
    if (i < n && text[i] == '0')
        ++i;
    else
        while (i < n && isDigit(text[i]))
            ++i;
    bool whole = true;
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && isDigit(text[i]))
            ++i;
    }
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        whole = false;
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            ++i;
        while (i < n && isDigit(text[i]))
            ++i;
    }
    if (i != n || n == 0)
        return std::nullopt;
    Atom atom;
    atom.kind = Atom::Kind::Number;
    const char* first = text.data();
    const char* last = first + n;
    if (whole) {
        const auto [ptr, ec] = std::from_chars(first, last, atom.integer, 10);
        if (ec == std::errc() && ptr == last) {
            atom.integral = true;
            return atom;
        }
    }
    const auto [ptr, ec] = std::from_chars(first, last, atom.number, std::chars_format::general);
    if (ec != std::errc() || ptr != last)
        return std::nullopt;
    if (std::trunc(atom.number) == atom.number && atom.number >= -9223372036854775808.0 &&
        atom.number < 9223372036854775808.0) {
        atom.integral = true;
        atom.integer = static_cast<qint64>(atom.number);
    }
    return atom;
}

// The value of a scalar token, or the kind of a container's first token.
// Tokens were checked when the document was parsed.
Atom atomOf(std::string_view token) {
    Atom atom;
    switch (token.empty() ? '\0' : token.front()) {
    case '{':
        atom.kind = Atom::Kind::Object;
        break;
    case '[':
        atom.kind = Atom::Kind::Array;
        break;
    case '"': {
        atom.kind = Atom::Kind::String;
        atom.string = unescaped(textContent(trimmed(token)));
        break;
    }
    case 't':
        atom.kind = Atom::Kind::Bool;
        atom.boolean = true;
        break;
    case 'f':
        atom.kind = Atom::Kind::Bool;
        break;
    case 'n':
        break;
    default:
        if (auto number = numberAtom(trimmed(token)))
            return *number;
        notJSON();
    }
    return atom;
}

Atom atomOf(const QJsonValue& value) {
    Atom atom;
    switch (value.type()) {
    case QJsonValue::Bool:
        atom.kind = Atom::Kind::Bool;
        atom.boolean = value.toBool();
        break;
    case QJsonValue::Double:
        atom.kind = Atom::Kind::Number;
        atom.number = value.toDouble();
        if (const auto whole = exactInteger(value)) {
            atom.integral = true;
            atom.integer = *whole;
        }
        break;
    case QJsonValue::String:
        atom.kind = Atom::Kind::String;
        atom.string = value.toString();
        break;
    case QJsonValue::Array:
        atom.kind = Atom::Kind::Array;
        break;
    case QJsonValue::Object:
        atom.kind = Atom::Kind::Object;
        break;
    default:
        break;
    }
    return atom;
}

void checkText(std::string_view token) {
    if (token.size() < 2 || token.back() != '"' || !readableText(textContent(token)))
        notJSON();
}

// Reads the whole document once as Qt's reader would, without keeping
// anything: what Qt refuses is refused here before any record is decoded.
// Nesting is bounded above, so the recursion is too.
void check(od::value value, int depth) {
    const std::string_view token = value.raw_json_token();
    switch (token.empty() ? '\0' : token.front()) {
    case '{': {
        if (depth >= kMostNesting)
            notJSON();
        od::object object = ok(value.get_object());
        for (auto member : object) {
            od::field field = ok(std::move(member));
            od::value& value = field.value();
            if (!readableText(keyContent(field.key().raw(), value.raw_json_token().data())))
                notJSON();
            check(value, depth + 1);
        }
        break;
    }
    case '[': {
        if (depth >= kMostNesting)
            notJSON();
        od::array array = ok(value.get_array());
        for (auto element : array)
            check(ok(std::move(element)), depth + 1);
        break;
    }
    case '"':
        checkText(trimmed(token));
        // Taken, not left for the reader to skip: a skipped text followed by
        // ':' passes for a key, and the reader then walks past the value's
        // end, past the document's even.
        (void)ok(value.get_raw_json_string());
        break;
    case 't':
    case 'f':
    case 'n': {
        const std::string_view word = trimmed(token);
        if (word != "true" && word != "false" && word != "null")
            notJSON();
        break;
    }
    default:
        if (!numberAtom(trimmed(token)))
            notJSON();
    }
}

// A decoder for a value the reader stands on: containers are opened at once,
// so that they can be re-entered from wherever the reader is later.
Decoder liveDecoder(const std::shared_ptr<Document>& document, od::value value,
                    const CodingPath& path, bool convertKeys,
                    Decoder (*make)(const std::shared_ptr<Document>&, Atom, const LiveHandle&,
                                    const CodingPath&, bool)) {
    Atom atom = atomOf(value.raw_json_token());
    LiveHandle live{};
    if (atom.kind == Atom::Kind::Object)
        live = toHandle(ok(value.get_object()));
    else if (atom.kind == Atom::Kind::Array)
        live = toHandle(ok(value.get_array()));
    return make(document, std::move(atom), live, path, convertKeys);
}

} // namespace

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// The bytes with what Qt reads inside a text but the indexer refuses written
// as an escape of the same character: a raw control character (NUL too), and
// a backslash before a control character or before a byte past ASCII, which
// Qt takes as the character of that number. Nothing else changes, but for
// one mark: Qt drops a U+FEFF that opens a text without escapes, which the
// escapes written here would keep.
std::string asQtReadsTexts(const char* bytes, size_t size) {
    std::string out;
    out.reserve(size + 64);
    const auto escape = [&out](unsigned char c) {
        out += "\\u00";
        out += kHexDigits[c >> 4];
        out += kHexDigits[c & 0xF];
    };
    bool inText = false;
    size_t textStart = 0;
    bool sentEscapes = false;
    bool wroteEscapes = false;
    for (size_t i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (!inText) {
            inText = c == '"';
            textStart = out.size() + 1;
            sentEscapes = wroteEscapes = false;
        } else if (c == '"') {
            inText = false;
            if (wroteEscapes && !sentEscapes && out.compare(textStart, 3, "\xEF\xBB\xBF") == 0)
                out.erase(textStart, 3);
        } else if (c == '\\' && i + 1 < size) {
            sentEscapes = true;
            const auto escaped = static_cast<unsigned char>(bytes[++i]);
            if (escaped < 0x20 || escaped >= 0x80) {
                escape(escaped);
            } else {
                out += char(c);
                out += char(escaped);
            }
            continue;
        } else if (c < 0x20) {
            wroteEscapes = true;
            escape(c);
            continue;
        }
        out += char(c);
    }
    return out;
}

// Indexes the `size` bytes at `bytes`, which the document holds with its
// padding after them, and checks them as Qt would, `depth` levels down in a
// larger document.
void index(Document& document, const char* bytes, size_t size, int depth, bool rewritten = false) {
    // Room for Qt's nesting and the reader's own levels above it. A parser
    // read again keeps what it has when that is enough.
    constexpr size_t kReaderDepth = kMostNesting + 2;
    od::parser& parser = document.parser;
    simdjson::error_code error = simdjson::SUCCESS;
    if (parser.max_depth() != kReaderDepth || parser.capacity() < size)
        error = parser.allocate(std::max(size, parser.capacity() + parser.capacity() / 2),
                                kReaderDepth);
    document.end = bytes + size;
    if (!error)
        error = parser.iterate(bytes, size, size + size_t(kReadPadding)).get(document.doc);
    if ((error == simdjson::UNESCAPED_CHARS || error == simdjson::UTF8_ERROR) && !rewritten) {
        // Rare: such a body is copied once, as Qt would read it.
        const std::string copy = asQtReadsTexts(bytes, size);
        if (copy.size() == size)
            notJSON(); // nothing Qt reads otherwise
        index(document, document.hold(copy.data(), copy.size()), copy.size(), depth, true);
        return;
    }
    if (error)
        notJSON();
    const od::json_type type = ok(document.doc.type());
    if (type != od::json_type::object && type != od::json_type::array)
        notJSON();
    check(ok(document.doc.get_value()), depth);
    if (document.doc.current_location().error() != simdjson::OUT_OF_BOUNDS)
        notJSON(); // more after the document
    document.doc.rewind();
}

#if defined(__SSE2__)
// Which of the 16 bytes at `at` are a quote or a backslash.
int quotesAndEscapes(const char* at) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')),
                                          _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'))));
}

// Which of the 16 bytes at `at` may be a quote or a bracket: '{', '}', '[',
// ']' and the few bytes that fold onto them ('Y', 'y', '_', DEL).
int quotesAndBrackets(const char* at) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i folded =
        _mm_and_si128(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), _mm_set1_epi8(char(0xF9)));
    return _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(folded, _mm_set1_epi8(0x79)),
                                          _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"'))));
}
#endif

// Where a text whose content starts at `from` ends (past its closing quote),
// or nothing when `end` comes first.
const char* afterText(const char* from, const char* end) {
    const char* at = from;
#if defined(__SSE2__)
    while (end - at >= 16) {
        if (const int found = quotesAndEscapes(at)) {
            at += __builtin_ctz(unsigned(found));
            if (*at == '"')
                return at + 1;
            at += 2;
        } else {
            at += 16;
        }
    }
#endif
    for (; at < end; ++at) {
        if (*at == '"')
            return at + 1;
        if (*at == '\\')
            ++at;
    }
    return nullptr;
}

// Where the value starting at `at` ends, counting brackets and skipping
// texts; nothing when the bytes end first. Only finds the bounds: the value
// itself is checked when it is indexed.
const char* afterValue(const char* at, const char* end) {
    int depth = 0;
    while (at < end) {
#if defined(__SSE2__)
        // Inside, only texts and brackets count: skipped 16 bytes at a time.
        while (depth > 0 && end - at >= 16) {
            if (const int found = quotesAndBrackets(at)) {
                at += __builtin_ctz(unsigned(found));
                break;
            }
            at += 16;
        }
        if (at == end)
            break;
#endif
        const char c = *at;
        if (c == '"') {
            at = afterText(at + 1, end);
            if (!at || depth == 0)
                return at;
            continue;
        }
        if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            if (depth == 0)
                return at;
            if (--depth == 0)
                return at + 1;
        } else if (depth == 0 && (c == ',' || isSpace(c))) {
            return at;
        }
        ++at;
    }
    return depth == 0 ? at : nullptr;
}

const char* skipSpace(const char* at, const char* end) {
    while (at < end && isSpace(*at))
        ++at;
    return at;
}

} // namespace

ParsedJSON parseJSON(const QByteArray& data) {
    auto document = std::make_shared<Document>();
    const char* bytes = data.constData();
    size_t size = size_t(data.size());
    if (size >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0) { // a byte order mark, as Qt
        bytes += 3;
        size -= 3;
    }
    // Read where it lies only when the room after the end is this buffer's
    // own: not shared, and measured after the end (capacity() also counts
    // room a removed front left before the data).
    if (data.isDetached() &&
        const_cast<QByteArray&>(data).data_ptr().freeSpaceAtEnd() >= kReadPadding) {
        std::memset(const_cast<char*>(data.constData()) + data.size(), 0, size_t(kReadPadding));
        document->body = data;
        index(*document, bytes, size, 0);
    } else {
        index(*document, document->hold(bytes, size), size, 0);
    }
    return {std::move(document)};
}

namespace {

// Calls `each` with every element of the list whose '[' is at `open`, each
// indexed and checked on its own as soon as its bounds are known, so that
// no index of the whole reply is ever held and each element is read while
// its bytes are at hand. Where the list's ']' is; nothing when the bytes do
// not hold a list of that plain form.
const char* eachListElement(const char* open, const char* end, void (*each)(void*, const Decoder&),
                            void* context) {
    const char* at = skipSpace(open + 1, end);
    if (at < end && *at == ']')
        return at;
    std::shared_ptr<Document> document;
    for (qsizetype i = 0;; ++i) {
        const char* last = afterValue(at, end);
        if (!last || last == at)
            return nullptr;
        // One document for all elements, unless a reader kept the last.
        if (!document || document.use_count() > 1)
            document = std::make_shared<Document>();
        const size_t size = size_t(last - at);
        index(*document, document->hold(at, size), size, 2);
        each(context, Decoder(ParsedJSON{document},
                              CodingPath().child(QStringLiteral("data")).child(i), true));
        at = skipSpace(last, end);
        if (at == end || (*at != ',' && *at != ']'))
            return nullptr;
        if (*at == ']')
            return at;
        at = skipSpace(at + 1, end);
    }
}

} // namespace

bool eachDataElement(const QByteArray& body, void (*each)(void*, const Decoder&), void* context) {
    const char* const begin = body.constData();
    const char* const end = begin + body.size();
    // The root: an object whose one member named "data" (as sent, no escape,
    // no other member of that name) is a list.
    const char* at = skipSpace(begin, end);
    if (at == end || *at != '{')
        return false;
    const char* open = nullptr;
    const char* close = nullptr;
    at = skipSpace(at + 1, end);
    while (at < end && *at == '"') {
        const char* key = at + 1;
        const char* afterKey = afterText(key, end);
        if (!afterKey)
            return false;
        const std::string_view name(key, size_t(afterKey - 1 - key));
        if (name.find('\\') != std::string_view::npos)
            return false;
        at = skipSpace(afterKey, end);
        if (at == end || *at != ':')
            return false;
        at = skipSpace(at + 1, end);
        if (name == "data") {
            if (open || at == end || *at != '[')
                return false;
            open = at;
            close = eachListElement(open, end, each, context);
            at = close ? close + 1 : nullptr;
        } else {
            at = afterValue(at, end);
        }
        if (!at)
            return false;
        at = skipSpace(at, end);
        if (at < end && *at == ',')
            at = skipSpace(at + 1, end);
    }
    if (!open)
        return false;
    // Everything but the list's elements: checked as a document of its own.
    QByteArray envelope;
    envelope.reserve((open + 1 - begin) + (end - close) + kReadPadding);
    envelope.append(begin, open + 1 - begin).append(close, end - close);
    (void)parseJSON(envelope);
    return true;
}

// ---- Decoder ----

Decoder::Decoder(const ParsedJSON& parsed, QString codingPath, bool convertKeys)
    : Decoder(parsed, CodingPath(std::move(codingPath)), convertKeys) {}

Decoder::Decoder(const ParsedJSON& parsed, CodingPath codingPath, bool convertKeys)
    : document_(parsed.document), source_(Source::Live), path_(std::move(codingPath)),
      convertKeys_(convertKeys) {
    if (!document_)
        notJSON();
    document_->doc.rewind();
    *this =
        liveDecoder(document_, ok(document_->doc.get_value()), path_, convertKeys_,
                    [](const std::shared_ptr<Document>& d, Atom a, const LiveHandle& l,
                       const CodingPath& p, bool c) { return Decoder(d, std::move(a), l, p, c); });
}

Decoder::Decoder(std::shared_ptr<Document> document, Atom atom, const LiveHandle& live,
                 CodingPath codingPath, bool convertKeys)
    : document_(std::move(document)), atom_(std::move(atom)), live_(live),
      source_(atom_.kind == Atom::Kind::Object || atom_.kind == Atom::Kind::Array ? Source::Live
                                                                                  : Source::Scalar),
      path_(std::move(codingPath)), convertKeys_(convertKeys) {}

Atom Decoder::atom() const {
    return source_ == Source::Json ? atomOf(json_) : atom_;
}

bool Decoder::isNil() const {
    if (source_ == Source::Json)
        return json_.isNull() || json_.isUndefined();
    return atom_.kind == Atom::Kind::Null;
}

QJsonValue Decoder::value() const {
    if (source_ == Source::Json)
        return json_;
    switch (atom_.kind) {
    case Atom::Kind::Null:
        return QJsonValue(QJsonValue::Null);
    case Atom::Kind::Bool:
        return atom_.boolean;
    case Atom::Kind::Number:
        return atom_.integral ? QJsonValue(atom_.integer) : QJsonValue(atom_.number);
    case Atom::Kind::String:
        return atom_.string;
    case Atom::Kind::Array: {
        QJsonArray array;
        forEachElement([&array](const Decoder& element) { array.append(element.value()); });
        return array;
    }
    case Atom::Kind::Object: {
        return container().toObject();
    }
    }
    return {};
}

void Decoder::eachElement(void (*each)(void*, const Decoder&), void* context) const {
    if (source_ == Source::Json) {
        if (!json_.isArray())
            typeMismatch("an array");
        const QJsonArray array = json_.toArray();
        for (qsizetype i = 0; i < array.size(); ++i)
            each(context, Decoder(array.at(i), path_.child(i), convertKeys_));
        return;
    }
    if (atom_.kind != Atom::Kind::Array)
        typeMismatch("an array");
    od::array array = fromHandle<od::array>(live_);
    (void)ok(array.reset());
    qsizetype i = 0;
    for (auto element : array) {
        each(context, liveDecoder(document_, ok(std::move(element)), path_.child(i++), convertKeys_,
                                  [](const std::shared_ptr<Document>& d, Atom a,
                                     const LiveHandle& l, const CodingPath& p,
                                     bool c) { return Decoder(d, std::move(a), l, p, c); }));
    }
}

void Decoder::typeMismatch(const char* expected) const {
    throw DecodingError(DecodingError::Kind::TypeMismatch, path_.text(),
                        QStringLiteral("Expected to decode %1 but found another type instead.")
                            .arg(QLatin1String(expected)));
}

KeyedContainer Decoder::container() const {
    if (source_ == Source::Json) {
        if (!json_.isObject())
            typeMismatch("an object");
        return KeyedContainer(json_.toObject(), path_, convertKeys_);
    }
    if (atom_.kind != Atom::Kind::Object)
        typeMismatch("an object");
    return KeyedContainer(document_, live_, path_, convertKeys_);
}

QString Decoder::decodeString() const {
    Atom a = atom();
    if (!a.isString())
        typeMismatch("a string");
    return std::move(a.string);
}

bool Decoder::decodeBool() const {
    const Atom a = atom();
    if (a.kind != Atom::Kind::Bool)
        typeMismatch("a bool");
    return a.boolean;
}

qint64 Decoder::decodeInt() const {
    const Atom a = atom();
    if (!a.isNumber())
        typeMismatch("an integer");
    const auto i = a.exactInteger();
    if (!i)
        throw DecodingError(DecodingError::Kind::DataCorrupted, path_.text(),
                            QStringLiteral("Parsed JSON number does not fit in Int."));
    return *i;
}

double Decoder::decodeDouble() const {
    const Atom a = atom();
    if (!a.isNumber())
        typeMismatch("a number");
    return a.toDouble();
}

// ---- KeyedContainer ----

// The keys of one shape of object in Qt's order (sorted; of two equal keys
// the later one stands), and as member keys. The records of a list share a
// handful of shapes, so each is worked out once and then only recognised.
struct KeyedContainer::Layout {
    QStringList wireKeys;
    QList<QCborValue> cborKeys;     // the same, to compare with Qt's parsed keys
    std::vector<std::string> sent;  // a parsed reply's keys as sent, in its order
    std::vector<qsizetype> fieldOf; // a parsed reply's member for each position
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
        if (!sent.empty() || object.size() != wireKeys.size())
            return false;
        const QCborMap map = QCborMap::fromJsonObject(object);
        qsizetype i = 0;
        for (auto it = map.constBegin(); it != map.constEnd(); ++it, ++i)
            if (it.key() != cborKeys[i])
                return false;
        return true;
    }

    template <class Fields> bool fits(const Fields& fields) const {
        if (sent.size() != size_t(fields.size()) || sent.empty())
            return false;
        for (qsizetype i = 0; i < fields.size(); ++i)
            if (sent[size_t(i)] != fields[i].key)
                return false;
        return true;
    }

    void addMembers(qsizetype scanLimit) {
        memberKeys.reserve(wireKeys.size());
        for (const QString& key : wireKeys)
            memberKeys.append(convertKeys ? memberKey(key) : key);
        if (memberKeys.size() > scanLimit) {
            index.reserve(memberKeys.size());
            for (qsizetype i = 0; i < memberKeys.size(); ++i)
                if (!index.contains(memberKeys[i]))
                    index.insert(memberKeys[i], i);
        }
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
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        QString key = it.key();
        layout->cborKeys.append(QCborValue(key));
        layout->wireKeys.append(std::move(key));
    }
    layout->addMembers(scanLimit);
    return layout;
}

template <class Fields>
Layout makeLayout(const Fields& fields, bool convertKeys, qsizetype scanLimit) {
    auto layout = std::make_shared<KeyedContainer::Layout>();
    layout->convertKeys = convertKeys;
    std::vector<QString> keys;
    keys.reserve(size_t(fields.size()));
    layout->sent.reserve(size_t(fields.size()));
    for (const auto& field : fields) {
        keys.push_back(unescaped(field.key));
        layout->sent.emplace_back(field.key);
    }
    // Qt's object: keys sorted, and of two equal keys the later value stands.
    std::vector<qsizetype> order(keys.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = qsizetype(i);
    std::stable_sort(order.begin(), order.end(), [&keys](qsizetype a, qsizetype b) {
        return keys[size_t(a)] < keys[size_t(b)];
    });
    for (size_t i = 0; i < order.size(); ++i) {
        const QString& key = keys[size_t(order[i])];
        if (i + 1 < order.size() && keys[size_t(order[i + 1])] == key)
            continue;
        layout->wireKeys.append(key);
        layout->fieldOf.push_back(order[i]);
    }
    layout->addMembers(scanLimit);
    return layout;
}

template <class Source>
Layout layoutFor(const Source& source, bool convertKeys, qsizetype scanLimit) {
    thread_local std::vector<Layout> kept; // the oldest first
    for (auto it = kept.rbegin(); it != kept.rend(); ++it)
        if ((*it)->convertKeys == convertKeys && (*it)->fits(source))
            return *it;
    Layout layout = makeLayout(source, convertKeys, scanLimit);
    qsizetype chars = 0;
    for (const QString& key : layout->wireKeys)
        chars += key.size();
    if (layout->wireKeys.size() <= kKeptShapeKeys && chars <= kKeptShapeChars) {
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
    : object_(object), live_{}, layout_(layoutFor(object, convertKeys, kScanLimit)),
      path_(std::move(codingPath)), convertKeys_(convertKeys) {}

KeyedContainer::KeyedContainer(std::shared_ptr<Document> document, const LiveHandle& object,
                               CodingPath codingPath, bool convertKeys)
    : document_(std::move(document)), live_(object), path_(std::move(codingPath)),
      convertKeys_(convertKeys) {
    // One pass over the members: where each key and scalar lies, and each
    // object or array opened so that it can be re-entered without a walk.
    // Nothing is decoded until a record asks for it.
    od::object members = fromHandle<od::object>(live_);
    (void)ok(members.reset());
    for (auto member : members) {
        od::field field = ok(std::move(member));
        const char* key = field.key().raw();
        od::value& value = field.value();
        const std::string_view token = value.raw_json_token();
        // Filled where it lies: a field built apart and copied in stalls on
        // its own stores, and objects have many fields.
        Field& added = fields_.emplace_back();
        added.key = keyContent(key, token.data());
        added.token = token;
        if (token.front() == '{')
            added.opened = toHandle(ok(value.get_object()));
        else if (token.front() == '[')
            added.opened = toHandle(ok(value.get_array()));
    }
    layout_ = layoutFor(fields_, convertKeys_, kScanLimit);
}

Decoder KeyedContainer::childAt(qsizetype position, const QString& key) const {
    const CodingPath path = path_.child(key);
    if (!document_)
        return Decoder((object_.constBegin() + position).value(), path, convertKeys_);
    const qsizetype fieldIndex = layout_->fieldOf[size_t(position)];
    Atom atom = atomOf(fields_[fieldIndex].token);
    if (atom.kind != Atom::Kind::Object && atom.kind != Atom::Kind::Array)
        return Decoder(document_, std::move(atom), LiveHandle{}, path, convertKeys_);
    return Decoder(document_, std::move(atom), fields_[fieldIndex].opened, path, convertKeys_);
}

QJsonObject KeyedContainer::toObject() const {
    QJsonObject object;
    for (qsizetype at = 0; at < layout_->wireKeys.size(); ++at)
        object.insert(layout_->wireKeys[at], childAt(at, QString()).value());
    return object;
}

std::optional<Atom> KeyedContainer::find(QStringView key) const {
    const qsizetype at = layout_->positionOf(key);
    if (at < 0)
        return std::nullopt;
    if (!document_)
        return atomOf((object_.constBegin() + at).value());
    return atomOf(fields_[layout_->fieldOf[size_t(at)]].token);
}

std::string_view KeyedContainer::objectBytes(const QString& key) const {
    if (!document_)
        return {};
    const qsizetype at = layout_->positionOf(key);
    if (at < 0)
        return {};
    const std::string_view token = fields_[layout_->fieldOf[size_t(at)]].token;
    if (token.empty() || token.front() != '{')
        return {};
    const char* end = afterValue(token.data(), document_->end);
    return end ? std::string_view(token.data(), size_t(end - token.data())) : std::string_view();
}

bool KeyedContainer::isNil(const QString& key) const {
    const auto v = find(key);
    return !v || v->kind == Atom::Kind::Null;
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
    const qsizetype at = layout_->positionOf(key);
    if (at < 0)
        throw DecodingError(DecodingError::Kind::KeyNotFound, pathFor(key),
                            QStringLiteral("No value associated with key \"%1\".").arg(key));
    return childAt(at, key);
}

void KeyedContainer::dataCorrupted(const QString& key, const QString& description) const {
    throw DecodingError(DecodingError::Kind::DataCorrupted, pathFor(key), description);
}

QString KeyedContainer::decodeID(const QString& key) const {
    if (const auto v = find(key)) {
        if (v->isString()) {
            const QString trimmed = v->string.trimmed();
            if (!trimmed.isEmpty())
                return trimmed;
        }
        if (const auto i = v->exactInteger())
            return QString::number(*i);
    }
    dataCorrupted(key, QStringLiteral("Expected id"));
}

namespace {
std::optional<QString> lenientText(const std::optional<Atom>& v) {
    if (!v)
        return std::nullopt;
    if (v->isString()) {
        const QString trimmed = v->string.trimmed();
        if (trimmed.isEmpty())
            return std::nullopt;
        return trimmed;
    }
    if (v->isNumber())
        return doubleDescription(v->toDouble());
    return std::nullopt;
}
} // namespace

std::optional<QString> KeyedContainer::decodeLenientString(const QString& key) const {
    return lenientText(find(key));
}

std::optional<QString> KeyedContainer::decodeLenientReference(const QString& key) const {
    const auto v = find(key);
    if (v)
        if (const auto whole = v->exactInteger())
            return QString::number(*whole);
    return lenientText(v);
}

std::optional<qint64> KeyedContainer::decodeLenientInt(const QString& key) const {
    const auto v = find(key);
    if (!v)
        return std::nullopt;
    if (v->isNumber()) {
        if (const auto i = v->exactInteger())
            return i;
        return roundToInt64(v->toDouble());
    }
    if (v->isString()) {
        const QString trimmed = v->string.trimmed();
        if (trimmed.isEmpty())
            return std::nullopt;
        return parseInteger(trimmed);
    }
    return std::nullopt;
}

namespace {
std::optional<bool> lenientBool(const std::optional<Atom>& v) {
    if (!v)
        return std::nullopt;
    if (v->kind == Atom::Kind::Bool)
        return v->boolean;
    if (const auto i = v->exactInteger())
        return *i != 0;
    if (v->isString()) {
        const QString text = v->string.trimmed().toLower();
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
        const QString trimmed = v->string.trimmed();
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
