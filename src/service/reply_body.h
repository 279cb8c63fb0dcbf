#pragma once

#include <QByteArray>
#include <QNetworkReply>

#include <QCoroTask>

#include <atomic>
#include <memory>
#include <vector>

namespace orvane {

// Qt buffers this much of a body at most until it is taken: the sender waits
// on the socket meanwhile, so a body never piles up beyond its limit.
inline constexpr qint64 kReadChunkBytes = 64 * 1024;

// A compressed body undone stage by stage as its bytes come, bounded while it
// grows: thread-agnostic, fed in order from one thread at a time.
//
// Every stage's output counts against the cap, and a stage before the last
// makes at most a small multiple of what it was given and of the wire: inside
// another coding honest data barely shrinks, while empty gzip members or
// empty blocks make nothing for the next stage, so stacked codings would
// multiply what a few bytes cost to inflate. The body's bytes are judged in
// their order, whatever pieces they came in: a fault decides when it comes
// before the byte that passes a bound, else the bound does.
class InflatingBody {
public:
    enum class Coding { Gzip, Deflate };
    enum class Verdict {
        Open,
        Whole,
        TooLarge,
        Cut,    // under an error status: the status stands with what came
        Broken, // not whole streams, or corrupt
    };

    // `codings` in the order they are undone.
    InflatingBody(const std::vector<Coding>& codings, qint64 cap, bool errorStatus);
    ~InflatingBody();
    InflatingBody(const InflatingBody&) = delete;
    InflatingBody& operator=(const InflatingBody&) = delete;

    // The next bytes off the wire.
    void feed(const char* data, qsizetype size);
    // The byte after those fed passes the bound.
    void wirePassed();
    // The body ended; `whole` when the network reported no failure, so that
    // unfinished streams are a fault.
    void end(bool whole);
    // From any thread: the work stops soon, and what was not decided is broken.
    void cancel() { cancelled_ = true; }

    Verdict verdict() const { return verdict_; }
    // The decoded body, with the reader's padding free after its end.
    QByteArray takeBody() { return std::move(body_); }

    // A stage before the last makes at most this multiple of what it was
    // given and of the wire, counted in steps of the grid, plus the slack.
    static constexpr qint64 kRatio = 2;
    static constexpr qint64 kGrid = 16 * 1024;
    static constexpr qint64 kSlack = 64 * 1024;
    // No encoder writes a stream that takes more than this multiple of what
    // it makes, past this much: empty blocks and empty members are not an
    // answer, and they would cost zlib most for each byte.
    static constexpr qint64 kHollowSlack = 1024 * 1024;

private:
    class Stage;
    bool undo(std::size_t stage, const char* data, qsizetype size);
    bool keep(const char* data, qsizetype size);
    void over();
    void unreadable();

    std::vector<std::unique_ptr<Stage>> stages_;
    qint64 cap_;
    bool errorStatus_;
    Verdict verdict_ = Verdict::Open;
    QByteArray body_;
    std::atomic<bool> cancelled_ = false;
};

class BodyStrand;

// Takes a reply's body as it streams, on the reply's thread, and aborts the
// reply once it would pass its limit: announced beyond it, or grown beyond
// it, on the wire or decoded. An error status stands whatever its body: past
// the error bound the rest is not read, and the status comes back with what
// came before; a compressed error body that does not inflate is left out.
// A compressed body is undone on the worker pool, a bounded piece behind the
// wire, so that no coding holds the reply's thread.
class BodyReader : public std::enable_shared_from_this<BodyReader> {
public:
    BodyReader(QNetworkReply* reply, qint64 limit, qint64 errorLimit);
    ~BodyReader();
    BodyReader(const BodyReader&) = delete;
    BodyReader& operator=(const BodyReader&) = delete;

    QByteArray body;
    bool tooLarge = false;
    bool cut = false;
    // Compressed and not whole streams, or in a coding not asked for: corrupt,
    // or ended early without a failure of the network's.
    bool broken = false;

    void headers();
    void pull();
    // After the reply finished: whole streams, or a body that cannot stand.
    // The reader must live until it returns.
    QCoro::Task<void> finish();

private:
    void pullInflating(bool atEnd);
    void fromStrand();
    bool isError() const;
    qint64 cap() const;
    void codings();
    void reserve(qint64 needed);
    void over();
    void refuse();
    void unreadable();
    void stop();

    QNetworkReply* reply_;
    qint64 limit_;
    qint64 errorLimit_;
    qint64 wireBytes_ = 0;
    bool headersRead_ = false;
    bool inHeaders_ = false;
    bool done_ = false;
    bool abortOnBody_ = false;
    bool graceOver_ = false;
    std::vector<InflatingBody::Coding> codings_; // in the order they are undone
    std::shared_ptr<BodyStrand> strand_;
};

} // namespace orvane
