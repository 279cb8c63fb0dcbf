#include "service/orvane_api_client.h"

#include "platform/worker_pool.h"
#include "service/display_texts.h"
#include "service/orvane_api_config.h"
#include "service/reply_body.h"
#include "service/transport_error.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QHash>
#include <QJsonObject>
#include <QMutexLocker>
#include <QNetworkReply>
#include <QSet>
#include <QTimer>

#include <QCoroNetworkReply>

#include <algorithm>
#include <functional>
#include <memory>

namespace orvane {

namespace {

struct DeleteLater {
    void operator()(QNetworkReply* reply) const { reply->deleteLater(); }
};

// Characters that may stand in a URL path as they are; "/" separates segments.
const QByteArray kPathAllowed = "/!$&'()*+,;=:@-._~";

bool isSuccess(int status) {
    return status >= 200 && status <= 299;
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

JobTimeCompactDTO jobTimeOf(const PerformResult& result) {
    JobTimeCompactDTO entry = OrvaneAPIClient::decodeCommon<JobTimeSingleResponse>(result).data;
    boundDisplayTexts(entry);
    return entry;
}

bool mentionsAlreadyStopped(const QString& text) {
    const QString lower = text.toLower();
    return lower.contains(u"already stopped") ||
           (lower.contains(u"bereits") && lower.contains(u"gestoppt"));
}

// Decodes on the worker pool, so that a long list costs the main thread
// nothing; a client gone meanwhile has no use for it.
template <class F>
QCoro::Task<std::invoke_result_t<F&>> offThread(std::shared_ptr<const bool> alive, F work) {
    auto result = co_await platform::offThread(std::move(work));
    if (!*alive)
        throw TransportError(QNetworkReply::OperationCanceledError, false);
    co_return result;
}

std::optional<QJsonObject> parseObject(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

} // namespace

platform::HttpSession& OrvaneAPIClient::session() {
    return sharedURLSession();
}

OrvaneAPIClient::~OrvaneAPIClient() {
    *alive_ = false;
    shutDown();
}

void OrvaneAPIClient::shutDown() {
    closed_ = true;
    const auto replies = std::move(inFlight_);
    inFlight_.clear();
    for (const QPointer<QNetworkReply>& reply : replies)
        if (reply && reply->isRunning())
            reply->abort();
}

QNetworkReply* OrvaneAPIClient::send(const QNetworkRequest& request, const QByteArray& method,
                                     const QByteArray& body) {
    if (closed_)
        throw TransportError(QNetworkReply::OperationCanceledError, false);
    std::erase_if(inFlight_,
                  [](const QPointer<QNetworkReply>& r) { return !r || r->isFinished(); });
    QNetworkReply* reply = session().send(request, method, body);
    inFlight_.emplace_back(reply);
    return reply;
}

// Qt follows a redirect with every header of the original request and with
// the credentials it holds, so the bearer token and the basic-auth pair would
// travel to whatever host the redirect names. Every request follows its
// redirects here instead: the token stays on its own origin and is dropped at
// the first hop to another one, where only a challenge of the service itself
// is answered with the pair. A hop from https to http is not followed (the
// 3xx answer is returned), as the session's own policy would do.
QCoro::Task<OrvaneAPIClient::Received>
OrvaneAPIClient::sendAndWait(QNetworkRequest request, QByteArray method, QByteArray body,
                             qint64 maxBodyBytes, bool staysOnOrigin) {
    const std::shared_ptr<const bool> alive = alive_;
    for (int hopsLeft = request.maximumRedirectsAllowed();; --hopsLeft) {
        // A reply that finished just before the client went resumes us later.
        if (!*alive)
            throw TransportError(QNetworkReply::OperationCanceledError, false);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        request.setRawHeader("Accept-Encoding", "gzip, deflate");
        std::shared_ptr<QNetworkReply> reply(send(request, method, body), DeleteLater());
        reply->setReadBufferSize(kReadChunkBytes);
        // A request with a body starts one turn of the loop later, and Qt
        // hands the size on only to a request already started: without this
        // a POST or PATCH reads its answer as fast as it comes, whole before
        // its refusal reaches the connection.
        QMetaObject::invokeMethod(
            reply.get(), [r = reply.get()] { r->setReadBufferSize(kReadChunkBytes); },
            Qt::QueuedConnection);
        const auto reader =
            std::make_shared<BodyReader>(reply.get(), maxBodyBytes, kErrorReplyBytes);
        QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, reply.get(),
                         [reader] { reader->headers(); });
        QObject::connect(reply.get(), &QNetworkReply::readyRead, reply.get(),
                         [reader] { reader->pull(); });
        co_await qCoro(reply.get()).waitForFinished();
        co_await reader->finish();
        if (!*alive)
            throw TransportError(QNetworkReply::OperationCanceledError, false);
        if (reader->tooLarge)
            throw TransportError::tooLarge();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QUrl location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        if (!isRedirect(status) || location.isEmpty())
            co_return Received{std::move(reply), std::move(reader->body), reader->cut,
                               reader->broken};
        // A chain that never arrives is the network's failure, not the
        // service's answer.
        if (hopsLeft <= 0)
            throw TransportError(QNetworkReply::TooManyRedirectsError, false);
        const QUrl from = request.url();
        const QUrl target = from.resolved(location);
        // Only to the web: never to a local file or another kind of address,
        // and never from https down to http.
        const QString scheme = target.scheme().toLower();
        if ((scheme != u"http" && scheme != u"https") ||
            (from.scheme() == u"https" && scheme != u"https") ||
            (staysOnOrigin && !OrvaneAPIConfig::sameOrigin(target, from)))
            co_return Received{std::move(reply), std::move(reader->body), true};
        if (status == 303 ? method != "HEAD"
                          : (status == 301 || status == 302) && method == "POST") {
            method = "GET";
            body.clear();
            request.setRawHeader("Content-Type", QByteArray());
        }
        if (!OrvaneAPIConfig::sameOrigin(target, from))
            request.setRawHeader("Authorization", QByteArray());
        request.setUrl(target);
    }
}

void OrvaneAPIClient::setToken(const std::optional<QString>& token) {
    const QString origin = OrvaneAPIConfig::serviceOrigin();
    taskReads_.clear(); // another account's tasks are nobody's business
    QMutexLocker lock(&tokenLock_);
    token_ = usableBearerToken(token);
    tokenOrigin_ = origin;
}

std::optional<QString> OrvaneAPIClient::tokenFor(const QUrl& url) const {
    const QString origin = OrvaneAPIConfig::originOf(url);
    QMutexLocker lock(&tokenLock_);
    if (origin.isEmpty() || origin != tokenOrigin_)
        return std::nullopt;
    return token_;
}

std::optional<QString> OrvaneAPIClient::currentToken() const {
    QMutexLocker lock(&tokenLock_);
    return token_;
}

QString OrvaneAPIClient::internetDateTime(const QDateTime& date) {
    return date.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + u'Z';
}

APIRequest OrvaneAPIClient::makeRequest(const QByteArray& method, const QString& path,
                                        const QueryParameters& query,
                                        const std::optional<QByteArray>& jsonBody,
                                        bool authorized) const {
    const QString api = OrvaneAPIConfig::baseURLString() + QStringLiteral("/api");
    const QUrl apiURL(api, QUrl::StrictMode);
    if (!apiURL.isValid())
        throw OrvaneAPIError::invalidURL();
    QByteArray encoded = apiURL.toEncoded();
    if (!encoded.endsWith('/'))
        encoded += '/';
    encoded += QUrl::toPercentEncoding(path, kPathAllowed);
    if (!query.empty()) {
        QByteArray text;
        for (const auto& [name, value] : query) {
            if (!text.isEmpty())
                text += '&';
            text += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
        }
        encoded += '?' + text;
    }
    const QUrl url = QUrl::fromEncoded(encoded, QUrl::StrictMode);
    if (!url.isValid())
        throw OrvaneAPIError::invalidURL();

    QNetworkRequest request(url);
    request.setRawHeader("Accept", "application/json");
    if (jsonBody)
        request.setRawHeader("Content-Type", "application/json");
    if (authorized)
        if (const auto token = tokenFor(url))
            request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
    return APIRequest{request, method, jsonBody.value_or(QByteArray())};
}

QCoro::Task<PerformResult> OrvaneAPIClient::perform(APIRequest request) {
    Received received = co_await sendAndWait(request.request, request.method, request.body,
                                             request.maxBodyBytes, request.staysOnOrigin);
    const QNetworkReply& reply = *received.reply;
    if (received.bodyBroken)
        throw TransportError(QNetworkReply::ProtocolFailure, false);
    if (!received.statusStands)
        if (auto failure = transportFailure(reply, platform::HttpSession::timedOut(&reply),
                                            received.body.size()))
            throw *failure;
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    co_return PerformResult{std::move(received.body), status.isValid() ? status.toInt() : 0};
}

void OrvaneAPIClient::throwForStatus(const PerformResult& result) {
    if (result.status == 403)
        if (auto error = accountNotReadyError(result.body))
            throw *error;
    throw OrvaneAPIError::http(result.status, result.body);
}

QCoro::Task<ImageDataResult> OrvaneAPIClient::fetchImageData(QUrl url, bool authorized,
                                                             qint64 maxBytes) {
    QNetworkRequest request(url);
    request.setRawHeader("Accept", "image/*,*/*");
    if (authorized && OrvaneAPIConfig::isServiceOrigin(url))
        if (const auto token = tokenFor(url))
            request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
    const QByteArray method = "GET";
    const QByteArray noBody;
    Received received = co_await sendAndWait(request, method, noBody, maxBytes);
    const std::shared_ptr<QNetworkReply>& reply = received.reply;
    ImageDataResult result;
    result.data = std::move(received.body);
    if (received.bodyBroken)
        throw TransportError(QNetworkReply::ProtocolFailure, false);
    if (!received.statusStands)
        if (auto failure = transportFailure(*reply, platform::HttpSession::timedOut(reply.get()),
                                            result.data.size()))
            throw *failure;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    result.response.url = reply->url();
    if (status.isValid())
        result.response.httpStatus = status.toInt();
    result.response.mimeType =
        reply->header(QNetworkRequest::ContentTypeHeader).toString().section(u';', 0, 0).trimmed();
    co_return result;
}

QCoro::Task<void> OrvaneAPIClient::logout() {
    const APIRequest request = makeRequest("POST", QStringLiteral("auth/logout"));
    const PerformResult result = co_await perform(request);
    if (!isSuccess(result.status))
        throw OrvaneAPIError::http(result.status, std::nullopt);
}

QCoro::Task<APIUser> OrvaneAPIClient::fetchCurrentUser() {
    const APIRequest request = makeRequest("GET", QStringLiteral("user"));
    const PerformResult result = co_await perform(request);
    if (result.status == 403) {
        if (auto error = accountNotReadyError(result.body))
            throw *error;
        throw OrvaneAPIError::emailNotVerified();
    }
    if (!isSuccess(result.status))
        throw OrvaneAPIError::http(result.status, result.body);
    APIUser user = wire::decodeJSON<APIUser>(result.body);
    boundDisplayTexts(user);
    co_return user;
}

// The first page is asked for as it always was; the next ones add their
// number, until the page the reply names as its last. What a list may bring
// is bounded in bytes and in pages, both far above the largest account: past
// either the list is refused, never shown cut short.
template <class Row>
QCoro::Task<PaginatedResponse<Row>>
OrvaneAPIClient::fetchAllPages(QString path, QueryParameters query,
                               PaginatedResponse<Row> (*decode)(const QByteArray&)) {
    PaginatedResponse<Row> all;
    QSet<QString> seen;
    qint64 bytesLeft = kListReplyBytes;
    for (int page = 1;; ++page) {
        QueryParameters asked = query;
        if (page > 1)
            asked.emplace_back(QStringLiteral("page"), QString::number(page));
        APIRequest request = makeRequest("GET", path, asked);
        request.maxBodyBytes = bytesLeft;
        PerformResult result = co_await perform(request);
        if (!isSuccess(result.status))
            throwForStatus(result);
        bytesLeft -= result.body.size();
        // The rows join the list where they are decoded: the list is the
        // worker's until it comes back.
        struct Joined {
            PaginatedResponse<Row> all;
            QSet<QString> seen;
            bool empty = false;
        };
        auto join = [decode, body = std::move(result.body), all = std::move(all),
                     seen = std::move(seen)]() mutable {
            PaginatedResponse<Row> reply = decode(body);
            body = QByteArray();
            // A row stays where it came first: a page repeated, or moved on by
            // a row added while the pages are read, brings it again.
            for (Row& row : reply.data)
                if (!seen.contains(row.id)) {
                    seen.insert(row.id);
                    boundDisplayTexts(row);
                    all.data.push_back(std::move(row));
                }
            all.meta = reply.meta;
            return Joined{std::move(all), std::move(seen), reply.data.empty()};
        };
        Joined joined = co_await offThread(alive_, std::move(join));
        all = std::move(joined.all);
        seen = std::move(joined.seen);
        const std::optional<qint64> lastPage = all.meta ? all.meta->lastPage : std::nullopt;
        if (joined.empty || !lastPage || page >= *lastPage)
            break;
        if (page >= kMostListPages)
            throw OrvaneAPIError::message(QStringLiteral(
                "Der Server kündigt mehr Seiten an, als eine Liste haben kann. Die Liste wurde "
                "abgebrochen."));
    }
    co_return all;
}

namespace {
PaginatedResponse<JobDTO> decodeJobsPage(const QByteArray& body) {
    return wire::decodeJSON<PaginatedResponse<JobDTO>>(body);
}
} // namespace

QCoro::Task<PaginatedResponse<ClientDTO>> OrvaneAPIClient::fetchClients(int perPage) {
    const QueryParameters query{{QStringLiteral("per_page"), QString::number(perPage)}};
    co_return co_await fetchAllPages<ClientDTO>(QStringLiteral("clients"), query,
                                                &ClientsAPIPayload::decodeClients);
}

QCoro::Task<PaginatedResponse<JobDTO>> OrvaneAPIClient::fetchJobs(std::optional<QString> clientId,
                                                                  std::optional<QString> projectId,
                                                                  std::optional<QString> archived,
                                                                  int perPage) {
    QueryParameters query{{QStringLiteral("per_page"), QString::number(perPage)}};
    if (clientId)
        query.emplace_back(QStringLiteral("client_id"), *clientId);
    if (projectId)
        query.emplace_back(QStringLiteral("project_id"), *projectId);
    if (archived)
        query.emplace_back(QStringLiteral("archived"), *archived);
    co_return co_await fetchAllPages<JobDTO>(QStringLiteral("jobs"), query, &decodeJobsPage);
}

namespace {
QueryParameters jobTimesQuery(bool includeJobTimes) {
    if (includeJobTimes)
        return {};
    return {{QStringLiteral("include_job_times"), QStringLiteral("0")}};
}

// Every task of the job, decoded as the reader passes it.
std::vector<JobTaskDTO> decodeTaskList(const QByteArray& body, JobTimeBookedSecs secs) {
    const SummingJobTimes summing(secs);
    return wire::decodeDataList<JobTaskDTO>(body);
}
} // namespace

QCoro::Task<std::vector<JobTaskDTO>> OrvaneAPIClient::fetchJobTasks(QString jobId,
                                                                    bool includeJobTimes) {
    APIRequest request =
        makeRequest("GET", QStringLiteral("jobs/") + jobId + QStringLiteral("/job-tasks"),
                    jobTimesQuery(includeJobTimes));
    request.maxBodyBytes = includeJobTimes ? kTasksReplyBytes : kListReplyBytes;
    PerformResult result = co_await perform(request);
    if (!isSuccess(result.status))
        throwForStatus(result);
    auto decode = [secs = includeJobTimes ? bookedSecs_ : nullptr,
                   body = std::move(result.body)]() mutable {
        auto tasks = decodeTaskList(body, secs);
        body = QByteArray();
        for (JobTaskDTO& task : tasks)
            boundDisplayTexts(task);
        return tasks;
    };
    co_return co_await offThread(alive_, std::move(decode));
}

QCoro::Task<JobTaskDTO> OrvaneAPIClient::fetchJobTask(QString id, bool includeJobTimes,
                                                      QString leftOutJobTime) {
    APIRequest request =
        makeRequest("GET", QStringLiteral("job-tasks/") + id, jobTimesQuery(includeJobTimes));
    if (includeJobTimes)
        request.maxBodyBytes = kTasksReplyBytes;
    PerformResult result = co_await perform(request);
    // Only readings whose job times were summed as they passed are kept: a
    // task's own job times can be many.
    const bool keep = includeJobTimes && bookedSecs_ && isSuccess(result.status);
    const qsizetype size = result.body.size();
    size_t hash = 0;
    if (keep) {
        auto hashBody = [body = result.body]() mutable {
            const size_t seen = qHash(QByteArrayView(body), QHashSeed::globalSeed());
            body = QByteArray();
            return seen;
        };
        hash = co_await offThread(alive_, std::move(hashBody));
    }
    const JobTimeBookedSecs secs = includeJobTimes ? bookedSecs_ : nullptr;
    const auto same = [&](const TaskRead& read) {
        return read.id == id && read.leftOut == leftOutJobTime && read.secs == secs &&
               read.size == size && read.hash == hash;
    };
    if (keep)
        if (const auto read = std::find_if(taskReads_.begin(), taskReads_.end(), same);
            read != taskReads_.end()) {
            // A copy: a task's co_return may move from what it is given.
            JobTaskDTO task = read->task;
            co_return task;
        }
    auto decode = [secs, leftOutJobTime, result = std::move(result)]() mutable {
        const SummingJobTimes summing(secs, leftOutJobTime);
        JobTaskDTO task = decodeCommon<SingleDataResponse<JobTaskDTO>>(result).data;
        result = PerformResult();
        boundDisplayTexts(task);
        return task;
    };
    JobTaskDTO task = co_await offThread(alive_, std::move(decode));
    if (keep) {
        std::erase_if(taskReads_, [&](const TaskRead& read) { return read.id == id; });
        if (taskReads_.size() == kKeptTaskReads)
            taskReads_.erase(taskReads_.begin());
        taskReads_.push_back({id, leftOutJobTime, secs, size, hash, task});
    }
    co_return task;
}

QCoro::Task<std::vector<JobTimeCompactDTO>> OrvaneAPIClient::fetchActiveJobTimes() {
    APIRequest request = makeRequest("GET", QStringLiteral("job-times/active"));
    request.maxBodyBytes = kPageReplyBytes;
    PerformResult result = co_await perform(request);
    auto decode = [result = std::move(result)]() mutable {
        auto running = decodeCommon<JobTimesActiveResponse>(result).data;
        result = PerformResult();
        for (JobTimeCompactDTO& entry : running)
            boundDisplayTexts(entry);
        return running;
    };
    co_return co_await offThread(alive_, std::move(decode));
}

QCoro::Task<JobTimeCompactDTO> OrvaneAPIClient::fetchJobTime(QString id) {
    const APIRequest request = makeRequest("GET", QStringLiteral("job-times/") + id);
    const PerformResult result = co_await perform(request);
    co_return jobTimeOf(result);
}

QCoro::Task<InvoiceableSummaryDTO> OrvaneAPIClient::fetchInvoiceableSummary() {
    const APIRequest request = makeRequest("GET", QStringLiteral("job-times/invoiceable-summary"));
    const PerformResult result = co_await perform(request);
    if (!isSuccess(result.status))
        throwForStatus(result);
    try {
        co_return wire::decodeJSON<InvoiceableSummaryDTO>(result.body);
    } catch (const DecodingError&) {
    }
    co_return wire::decodeJSON<SingleDataResponse<InvoiceableSummaryDTO>>(result.body).data;
}

QCoro::Task<JobTimeCompactDTO> OrvaneAPIClient::startJobTime(QString clientId, QString jobTaskId,
                                                             std::optional<QDateTime> startedAt) {
    std::optional<QString> started;
    if (startedAt)
        started = internetDateTime(*startedAt);
    const StartJobTimeBody body(clientId, jobTaskId, started);
    const APIRequest request =
        makeRequest("POST", QStringLiteral("job-times/start"), {}, body.encode());
    const PerformResult result = co_await perform(request);
    co_return jobTimeOf(result);
}

QCoro::Task<JobTimeCompactDTO> OrvaneAPIClient::stopJobTime(QString id,
                                                            std::optional<QDateTime> endedAt) {
    std::optional<QString> ended;
    if (endedAt)
        ended = internetDateTime(*endedAt);
    const StopJobTimeBody body(ended);
    const APIRequest request = makeRequest(
        "PATCH", QStringLiteral("job-times/") + id + QStringLiteral("/stop"), {}, body.encode());
    const PerformResult result = co_await perform(request);
    if (result.status == 422) {
        if (isAlreadyStoppedError(result.body))
            throw OrvaneAPIError::jobTimeAlreadyStopped();
        throw OrvaneAPIError::http(422, result.body);
    }
    co_return jobTimeOf(result);
}

QCoro::Task<JobTimeCompactDTO> OrvaneAPIClient::updateJobTime(QString id, bool billable,
                                                              QString roundDirection,
                                                              qint64 roundValue) {
    const UpdateJobTimeBody body(billable, roundDirection, roundValue);
    const APIRequest request =
        makeRequest("PATCH", QStringLiteral("job-times/") + id, {}, body.encode());
    const PerformResult result = co_await perform(request);
    co_return jobTimeOf(result);
}

QCoro::Task<LoginSuccessDTO> OrvaneAPIClient::login(QString email, QString password,
                                                    QString deviceName, std::optional<QString> code,
                                                    std::optional<QString> recoveryCode) {
    const LoginRequestBody body(email, password, deviceName, code, recoveryCode);
    APIRequest request =
        makeRequest("POST", QStringLiteral("auth/login"), {}, body.encode(), false);
    request.staysOnOrigin = true;
    const PerformResult result = co_await perform(request);
    if (result.status == 403) {
        if (auto error = accountNotReadyError(result.body))
            throw *error;
        throw OrvaneAPIError::emailNotVerified();
    }
    if (result.status == 422) {
        if (isTwoFactorRequired(result.body))
            throw OrvaneAPIError::twoFactorRequired();
        throw OrvaneAPIError::http(422, result.body);
    }
    if (!isSuccess(result.status))
        throw OrvaneAPIError::http(result.status, result.body);
    std::optional<LoginSuccessDTO> success;
    try {
        success = wire::decodeJSON<LoginSuccessDTO>(result.body);
    } catch (const DecodingError& error) {
        throw OrvaneAPIError::decoding(error);
    }
    boundDisplayTexts(success->user);
    co_return std::move(*success);
}

bool OrvaneAPIClient::isAlreadyStoppedError(const QByteArray& body) {
    const auto object = parseObject(body);
    if (!object)
        return false;
    const QJsonValue errors = object->value(QLatin1String("errors"));
    if (errors.isObject()) {
        const QJsonValue list = errors.toObject().value(QLatin1String("job_time"));
        if (list.isArray()) {
            const QJsonArray texts = list.toArray();
            const bool allTexts = std::all_of(texts.begin(), texts.end(),
                                              [](const QJsonValue& v) { return v.isString(); });
            if (allTexts)
                for (const QJsonValue& text : texts)
                    if (mentionsAlreadyStopped(text.toString()))
                        return true;
        }
    }
    const QJsonValue message = object->value(QLatin1String("message"));
    return message.isString() && mentionsAlreadyStopped(message.toString());
}

bool OrvaneAPIClient::isTwoFactorRequired(const QByteArray& body) {
    try {
        if (wire::decodeJSON<TwoFactorRequiredDTO>(body).twoFactorRequired.value_or(false))
            return true;
    } catch (const DecodingError&) {
    }
    const auto object = parseObject(body);
    if (!object)
        return false;
    if (object->contains(QLatin1String("two_factor_required"))) {
        const QJsonValue flag = object->value(QLatin1String("two_factor_required"));
        if (flag.isBool())
            return flag.toBool();
        if (const auto whole = wire::exactInteger(flag))
            return *whole != 0;
        if (flag.isString()) {
            const QString lower = flag.toString().toLower();
            return lower == u"1" || lower == u"true" || lower == u"yes";
        }
    }
    const QJsonValue message = object->value(QLatin1String("message"));
    if (!message.isString())
        return false;
    const QString lower = message.toString().toLower();
    return lower.contains(u"two factor") || lower.contains(u"zwei-faktor") ||
           lower.contains(u"2fa");
}

} // namespace orvane
