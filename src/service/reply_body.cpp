#include "service/reply_body.h"

#include "platform/worker_pool.h"
#include "service/json_coding.h"

#include <QMutex>
#include <QMutexLocker>
#include <QPromise>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>

#include <zlib.h>

namespace orvane {

namespace {
// More codings than this on one body are no honest service's.
constexpr std::size_t kMostCodings = 4;
// What may wait for the worker before the reply is read on.
constexpr qint64 kMostQueued = 256 * 1024;
// A service that neither sends the body nor closes is cut after this.
constexpr std::chrono::milliseconds kRefusedGrace{500};

qint64 onGrid(qint64 bytes) {
    return (bytes + InflatingBody::kGrid - 1) / InflatingBody::kGrid * InflatingBody::kGrid;
}

// Grows `body` to hold `needed` by doubling, never past `most`: Qt's own
// growth copies a large body on the way.
void reserveDoubling(QByteArray& body, qint64 needed, qint64 most) {
    if (needed <= body.capacity())
        return;
    body.reserve(static_cast<qsizetype>(
        std::min(most, std::max({needed, 2 * qint64(body.capacity()), kReadChunkBytes}))));
}

using Sink = std::function<bool(const char*, qsizetype)>;
} // namespace

// One content coding undone as the body arrives. The client asks for gzip
// and deflate itself: Qt's own decompression reads the socket on past the
// read buffer, so a compressed answer came whole while the loop was busy.
class InflatingBody::Stage {
public:
    enum class Result { Ok, Broken, Over, Stopped };

    explicit Stage(Coding coding) : coding_(coding) {
        ok_ = inflateInit2(&stream_, 32 + MAX_WBITS) == Z_OK; // gzip or zlib, as it comes
    }
    ~Stage() { inflateEnd(&stream_); }
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;

    // Hands what `input` inflates to `out`, making `limit` bytes in all at
    // most: the byte past it is Over, unless a fault comes first.
    Result feed(const char* input, qsizetype size, const Sink& out, qint64 limit) {
        if (size <= 0)
            return ok_ ? Result::Ok : Result::Broken;
        fed_ = true;
        // A deflate body without its zlib wrapper is read again from its start.
        if (coding_ == Coding::Deflate && !raw_ && made_ == 0) {
            if (head_.size() + size <= kHeadBytes)
                head_.append(input, size);
            else
                headLost_ = true;
        }
        return run(input, size, out, limit);
    }
    // Bytes came, and they made whole streams.
    bool complete() const { return !fed_ || (ok_ && ended_); }
    qint64 made() const { return made_; }

    qint64 given = 0; // bytes handed to this stage

private:
    static constexpr qsizetype kHeadBytes = 64 * 1024;

    Result run(const char* input, qsizetype size, const Sink& out, qint64 limit) {
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input));
        stream_.avail_in = static_cast<uInt>(size);
        char chunk[16 * 1024];
        // zlib may hold output after its input is used up (a long repeat at
        // the end): it is asked again for as long as it fills the chunk.
        bool full = false;
        while (ok_ && (stream_.avail_in > 0 || (full && !ended_))) {
            if (ended_) {
                // The next member of a gzip body; a deflate stream has no
                // second one, and bytes after it are no part of the answer.
                ok_ = coding_ == Coding::Gzip && inflateReset(&stream_) == Z_OK;
                ended_ = false;
                if (!ok_)
                    break;
            }
            // At the limit, one byte more tells whether the stream goes on.
            const qint64 room = limit - made_;
            const bool atLimit = room <= 0;
            const auto asked =
                static_cast<uInt>(atLimit ? 1 : std::min<qint64>(sizeof chunk, room));
            stream_.next_out = reinterpret_cast<Bytef*>(chunk);
            stream_.avail_out = asked;
            const int result = inflate(&stream_, Z_NO_FLUSH);
            const auto made = static_cast<qsizetype>(asked - stream_.avail_out);
            // Output means zlib took the wrapper: a later fault is the body's,
            // however the bytes were split on their way.
            if (result == Z_DATA_ERROR && coding_ == Coding::Deflate && !raw_ && made_ == 0 &&
                made == 0 && !headLost_) {
                raw_ = true;
                inflateEnd(&stream_);
                stream_ = z_stream{};
                ok_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
                const QByteArray head = std::move(head_);
                return ok_ ? run(head.constData(), head.size(), out, limit) : Result::Broken;
            }
            // No progress without input is no fault: more may come.
            ok_ = result == Z_OK || result == Z_STREAM_END ||
                  (result == Z_BUF_ERROR && stream_.avail_in == 0);
            ended_ = result == Z_STREAM_END;
            full = stream_.avail_out == 0;
            if (made > 0) {
                if (atLimit)
                    return Result::Over;
                if (made_ == 0)
                    head_ = QByteArray();
                made_ += made;
                if (!out(chunk, made))
                    return Result::Stopped;
            }
        }
        return ok_ ? Result::Ok : Result::Broken;
    }

    z_stream stream_{};
    Coding coding_;
    bool ok_ = false;
    bool ended_ = false;
    bool fed_ = false;
    qint64 made_ = 0;
    bool raw_ = false;
    bool headLost_ = false;
    QByteArray head_;
};

InflatingBody::InflatingBody(const std::vector<Coding>& codings, qint64 cap, bool errorStatus)
    : cap_(cap), errorStatus_(errorStatus) {
    for (const Coding coding : codings)
        stages_.push_back(std::make_unique<Stage>(coding));
}

InflatingBody::~InflatingBody() = default;

void InflatingBody::feed(const char* data, qsizetype size) {
    if (verdict_ == Verdict::Open && !stages_.empty())
        undo(0, data, size);
}

void InflatingBody::wirePassed() {
    if (verdict_ == Verdict::Open)
        over();
}

void InflatingBody::end(bool whole) {
    if (verdict_ != Verdict::Open)
        return;
    if (cancelled_ || (whole && std::any_of(stages_.begin(), stages_.end(),
                                            [](const auto& stage) { return !stage->complete(); })))
        unreadable();
    else
        verdict_ = Verdict::Whole;
    // The reader's padding, past the end of a body that is the caller's alone.
    body_.reserve(body_.size() + wire::kReadPadding);
}

// Each stage takes its input in steps of the grid, and what it may make
// grows with each step: the same bytes meet the same limits however the
// network split them.
bool InflatingBody::undo(std::size_t index, const char* data, qsizetype size) {
    if (index == stages_.size())
        return keep(data, size);
    Stage& stage = *stages_[index];
    const bool last = index + 1 == stages_.size();
    const Sink next = [this, index](const char* out, qsizetype n) {
        return !cancelled_ && undo(index + 1, out, n);
    };
    while (size > 0) {
        if (cancelled_)
            return false;
        const auto take =
            static_cast<qsizetype>(std::min<qint64>(size, kGrid - stage.given % kGrid));
        stage.given += take;
        qint64 limit = cap_;
        if (!last)
            limit = std::min(limit, kRatio * onGrid(std::min(stage.given, stages_.front()->given)) +
                                        kSlack);
        switch (stage.feed(data, take, next, limit)) {
        case Stage::Result::Ok:
            if (stage.given > kRatio * stage.made() + kHollowSlack) {
                unreadable();
                return false;
            }
            break;
        case Stage::Result::Over:
            over();
            return false;
        case Stage::Result::Broken:
            unreadable();
            return false;
        case Stage::Result::Stopped:
            return false;
        }
        data += take;
        size -= take;
    }
    return true;
}

bool InflatingBody::keep(const char* data, qsizetype size) {
    reserveDoubling(body_, body_.size() + size + wire::kReadPadding, cap_ + wire::kReadPadding);
    body_.append(data, size);
    return true;
}

void InflatingBody::over() {
    verdict_ = errorStatus_ ? Verdict::Cut : Verdict::TooLarge;
    if (!errorStatus_)
        body_ = QByteArray();
}

// What does not inflate is no answer; under an error status the status is.
void InflatingBody::unreadable() {
    verdict_ = errorStatus_ ? Verdict::Cut : Verdict::Broken;
    body_ = QByteArray();
}

// A compressed body's way to the worker pool: its pieces are undone there in
// order, one job at a time, and the reply is read on only while little waits.
class BodyStrand : public std::enable_shared_from_this<BodyStrand> {
public:
    BodyStrand(std::unique_ptr<InflatingBody> body, std::function<void()> wake)
        : body_(std::move(body)), wake_(std::move(wake)), mailbox_(new QObject) {
        settled_.start();
    }
    // The last owner may be a worker: the mailbox goes on its own thread.
    ~BodyStrand() { mailbox_->deleteLater(); }
    BodyStrand(const BodyStrand&) = delete;
    BodyStrand& operator=(const BodyStrand&) = delete;

    // False, and the strand wakes the reader later, while much waits.
    bool hasRoom() {
        QMutexLocker lock(&mutex_);
        starved_ = queued_ >= kMostQueued;
        return !starved_;
    }
    void push(QByteArray bytes) { enqueue({Step::Bytes, std::move(bytes)}); }
    void pushWirePassed() { enqueue({Step::WirePassed, {}}); }
    void pushEnd(bool whole) { enqueue({whole ? Step::EndWhole : Step::End, {}}); }
    void cancel() { body_->cancel(); }
    bool decided() const {
        QMutexLocker lock(&mutex_);
        return decided_;
    }
    QFuture<void> settled() const { return settled_.future(); }
    // Once settled, the body is the reader's alone.
    InflatingBody& body() { return *body_; }

private:
    enum class Step { Bytes, WirePassed, End, EndWhole };
    struct Item {
        Step step;
        QByteArray bytes;
    };

    void enqueue(Item item) {
        {
            QMutexLocker lock(&mutex_);
            if (decided_)
                return;
            queued_ += item.bytes.size();
            queue_.push_back(std::move(item));
            if (running_)
                return;
            running_ = true;
        }
        platform::workerPool().start([self = shared_from_this()] { self->drain(); });
    }

    void drain() {
        for (;;) {
            Item item;
            {
                QMutexLocker lock(&mutex_);
                if (queue_.empty()) {
                    running_ = false;
                    return;
                }
                item = std::move(queue_.front());
                queue_.pop_front();
            }
            switch (item.step) {
            case Step::Bytes:
                body_->feed(item.bytes.constData(), item.bytes.size());
                break;
            case Step::WirePassed:
                body_->wirePassed();
                break;
            case Step::End:
            case Step::EndWhole:
                body_->end(item.step == Step::EndWhole);
                break;
            }
            const bool decided = body_->verdict() != InflatingBody::Verdict::Open;
            bool wake = decided;
            {
                QMutexLocker lock(&mutex_);
                queued_ -= item.bytes.size();
                if (decided) {
                    decided_ = true;
                    running_ = false;
                    queue_.clear();
                    queued_ = 0;
                }
                if (starved_ && queued_ < kMostQueued / 2) {
                    starved_ = false;
                    wake = true;
                }
            }
            if (decided)
                settled_.finish(); // the last touch of the body here
            if (wake)
                QMetaObject::invokeMethod(mailbox_, wake_, Qt::QueuedConnection);
            if (decided)
                return;
        }
    }

    std::unique_ptr<InflatingBody> body_;
    const std::function<void()> wake_; // runs on the reader's thread
    QObject* mailbox_;
    QPromise<void> settled_;
    mutable QMutex mutex_;
    std::deque<Item> queue_;
    qint64 queued_ = 0;
    bool running_ = false;
    bool starved_ = false;
    bool decided_ = false;
};

BodyReader::BodyReader(QNetworkReply* reply, qint64 limit, qint64 errorLimit)
    : reply_(reply), limit_(limit), errorLimit_(errorLimit) {}

BodyReader::~BodyReader() {
    if (strand_)
        strand_->cancel();
}

bool BodyReader::isError() const {
    return reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400;
}

qint64 BodyReader::cap() const {
    return isError() ? std::min(limit_, errorLimit_) : limit_;
}

void BodyReader::headers() {
    if (headersRead_)
        return;
    headersRead_ = true;
    inHeaders_ = true;
    codings();
    const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
    if (!done_ && !isError() && length.isValid()) {
        if (length.toLongLong() > limit_)
            refuse();
        else if (codings_.empty())
            reserve(length.toLongLong() + wire::kReadPadding);
    }
    inHeaders_ = false;
    if (!done_ && !codings_.empty())
        strand_ = std::make_shared<BodyStrand>(
            std::make_unique<InflatingBody>(codings_, cap(), isError()),
            [reader = weak_from_this()] {
                if (const auto self = reader.lock())
                    self->fromStrand();
            });
}

void BodyReader::pull() {
    if (!headersRead_)
        headers();
    if (abortOnBody_ && (reply_->bytesAvailable() > 0 || graceOver_)) {
        abortOnBody_ = false;
        stop();
    }
    if (strand_) {
        pullInflating(false);
        return;
    }
    const qint64 cap = this->cap();
    while (!done_ && reply_->isOpen() && reply_->bytesAvailable() > 0) {
        const qint64 n = std::min(cap + 1 - body.size(), reply_->bytesAvailable());
        reserve(body.size() + n + wire::kReadPadding);
        const qsizetype at = body.size();
        body.resize(at + n);
        const qint64 got = std::max<qint64>(0, reply_->read(body.data() + at, n));
        body.resize(at + got);
        if (got == 0)
            return;
        if (body.size() > cap) {
            over();
            return;
        }
    }
}

// The bytes within the bound go to the worker before the one that passes
// it: a fault among them is the answer.
void BodyReader::pullInflating(bool atEnd) {
    const qint64 cap = this->cap();
    while (!done_ && reply_->isOpen() && reply_->bytesAvailable() > 0) {
        if (!atEnd && !strand_->hasRoom())
            return;
        QByteArray piece(
            static_cast<qsizetype>(std::min(kReadChunkBytes, reply_->bytesAvailable())),
            Qt::Uninitialized);
        const qint64 got = std::max<qint64>(0, reply_->read(piece.data(), piece.size()));
        if (got == 0)
            return;
        piece.truncate(static_cast<qsizetype>(got));
        const qint64 within = std::clamp<qint64>(cap - wireBytes_, 0, got);
        wireBytes_ += got;
        if (within > 0)
            strand_->push(within == got ? std::move(piece)
                                        : piece.left(static_cast<qsizetype>(within)));
        if (wireBytes_ > cap) {
            strand_->pushWirePassed();
            stop();
            return;
        }
    }
}

void BodyReader::fromStrand() {
    if (strand_->decided()) {
        if (!done_)
            stop();
        return;
    }
    pull();
}

QCoro::Task<void> BodyReader::finish() {
    if (!strand_) {
        pull();
        if (!done_ && reply_->error() == QNetworkReply::NoError)
            reserve(body.size() + wire::kReadPadding);
        co_return;
    }
    pullInflating(true);
    strand_->pushEnd(!done_ && reply_->error() == QNetworkReply::NoError);
    {
        const platform::detail::WorkCount counted;
        const QFuture<void> settled = strand_->settled();
        co_await settled;
    }
    InflatingBody& inflated = strand_->body();
    switch (inflated.verdict()) {
    case InflatingBody::Verdict::Whole:
        body = inflated.takeBody();
        break;
    case InflatingBody::Verdict::Cut:
        body = inflated.takeBody();
        cut = true;
        break;
    case InflatingBody::Verdict::TooLarge:
        tooLarge = true;
        break;
    case InflatingBody::Verdict::Open:
    case InflatingBody::Verdict::Broken:
        broken = true;
        break;
    }
}

// "gzip, deflate" was gzipped first: the codings are undone from the last.
void BodyReader::codings() {
    const QByteArray header = reply_->rawHeader("Content-Encoding");
    for (QByteArray name : header.split(',')) {
        name = name.trimmed().toLower();
        if (name.isEmpty() || name == "identity")
            continue;
        const bool gzip = name == "gzip" || name == "x-gzip";
        if ((!gzip && name != "deflate") || codings_.size() >= kMostCodings) {
            codings_.clear();
            unreadable();
            return;
        }
        codings_.insert(codings_.begin(),
                        gzip ? InflatingBody::Coding::Gzip : InflatingBody::Coding::Deflate);
    }
}

// Never past the cap, the byte that tells it passed, and the reader's padding.
void BodyReader::reserve(qint64 needed) {
    reserveDoubling(body, needed, cap() + 1 + wire::kReadPadding);
}

void BodyReader::over() {
    if (isError()) {
        body.truncate(static_cast<qsizetype>(std::min<qint64>(body.size(), cap())));
        cut = true;
        stop();
    } else {
        refuse();
    }
}

void BodyReader::refuse() {
    tooLarge = true;
    body = QByteArray();
    stop();
}

// What does not inflate is no answer; under an error status the status is.
void BodyReader::unreadable() {
    body = QByteArray();
    if (isError())
        cut = true;
    else
        broken = true;
    stop();
}

// Aborting closes the connection, so the service stops sending. A reply is
// ended once, and not when Qt has ended it already.
void BodyReader::stop() {
    done_ = true;
    if (inHeaders_) {
        // Refused from its headers, the reply is aborted once its body
        // comes: a service that closes at once ends it itself, and Qt
        // reports an end it meets after an abort as a second one.
        abortOnBody_ = true;
        QTimer::singleShot(kRefusedGrace, reply_, [reader = weak_from_this()] {
            if (const auto self = reader.lock()) {
                self->graceOver_ = true;
                self->pull();
            }
        });
    } else if (reply_->isRunning() && reply_->error() == QNetworkReply::NoError) {
        reply_->abort();
    }
}

} // namespace orvane
