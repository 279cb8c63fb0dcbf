#pragma once

#include "platform/http_session.h"
#include "service/catalog_records.h"
#include "service/envelopes.h"
#include "service/job_time_records.h"
#include "service/login_records.h"
#include "service/orvane_api_error.h"
#include "service/user_records.h"

#include <QByteArray>
#include <QDateTime>
#include <QMutex>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace orvane {

// Query parameters in the order they were put in.
using QueryParameters = std::vector<std::pair<QString, QString>>;

// The most a reply body may bring, by kind of request, read while it streams.
// Each lies well above what the largest account honestly brings: past it the
// reply is aborted and its connection closed, so that neither reading nor
// decoding depends on what a broken service sends.
inline constexpr qint64 kRecordReplyBytes = 256 * 1024; // one record, sign-in
inline constexpr qint64 kPageReplyBytes = 1024 * 1024;  // a page of 100 job times (~55 KB)
// A whole list of clients or of a client's jobs, its pages together: 20 000
// clients are about 5 MB, also when a service sends them in one reply.
inline constexpr qint64 kListReplyBytes = 64 * 1024 * 1024;
// A list is followed this many pages at most: 20 000 clients are 200 pages.
// Past it the list is refused as one that does not end.
inline constexpr int kMostListPages = 500;
// A job's tasks with all their job times: 5 000 tasks carrying 200 000 job
// times are about 110 MB.
inline constexpr qint64 kTasksReplyBytes = 256 * 1024 * 1024;
inline constexpr qint64 kErrorReplyBytes = 64 * 1024; // any status from 400 on

// A request ready to send on the shared session.
struct APIRequest {
    QNetworkRequest request;
    QByteArray method;
    QByteArray body;
    qint64 maxBodyBytes = kRecordReplyBytes;
    // The body is a secret of the service's own (the password): a redirect
    // to another origin is answered as the status it is, never followed.
    bool staysOnOrigin = false;
};

struct PerformResult {
    QByteArray body;
    int status = 0; // 0 when the answer was not HTTP
};

// What came back for a plain GET of an absolute URL.
struct URLResponse {
    QUrl url;
    std::optional<int> httpStatus; // none when the answer was not HTTP
    QString mimeType;
};

struct ImageDataResult {
    QByteArray data;
    URLResponse response;
};

// The one object through which the program speaks to the service. Every
// operation that waits on the service is a coroutine; failures are thrown as
// OrvaneAPIError, DecodingError or TransportError.
class OrvaneAPIClient {
public:
    OrvaneAPIClient() = default;
    ~OrvaneAPIClient();
    OrvaneAPIClient(const OrvaneAPIClient&) = delete;
    OrvaneAPIClient& operator=(const OrvaneAPIClient&) = delete;

    static platform::HttpSession& session();

    // The token belongs to the service configured at this moment: it is
    // sent only to that origin, also when the settings name another later.
    void setToken(const std::optional<QString>& token);
    std::optional<QString> currentToken() const;

    // Tasks fetched with their job times sum them with `secs` and keep no
    // records (JobTaskDTO::bookedSecs); without it the records are kept.
    void sumJobTimesWith(JobTimeBookedSecs secs) { bookedSecs_ = secs; }

    // Builds a JSON request under the service's base URL plus "/api":
    // Accept and (with a body) Content-Type JSON, the bearer token when one is
    // held and `authorized` is set. Throws OrvaneAPIError::invalidURL.
    APIRequest makeRequest(const QByteArray& method, const QString& path,
                           const QueryParameters& query = {},
                           const std::optional<QByteArray>& jsonBody = std::nullopt,
                           bool authorized = true) const;

    // Sends `request` and returns body and status, whatever the status.
    // Throws TransportError when no HTTP answer came.
    QCoro::Task<PerformResult> perform(APIRequest request);

    // A body beyond `maxBytes` is not read: the reply is aborted while it
    // streams and the fetch fails with TransportError::tooLarge().
    QCoro::Task<ImageDataResult> fetchImageData(QUrl url, bool authorized,
                                                qint64 maxBytes = kRecordReplyBytes);
    QCoro::Task<void> logout();
    QCoro::Task<APIUser> fetchCurrentUser();
    // The clients and the jobs lists follow the reply's pages to the last
    // one; `meta` is the last page's. A page that fails fails the whole list.
    // A row is kept once, where it came first: pages read while the list
    // changes, or a page sent again, bring rows twice.
    QCoro::Task<PaginatedResponse<ClientDTO>> fetchClients(int perPage);
    QCoro::Task<PaginatedResponse<JobDTO>> fetchJobs(std::optional<QString> clientId,
                                                     std::optional<QString> projectId,
                                                     std::optional<QString> archived, int perPage);
    QCoro::Task<std::vector<JobTaskDTO>> fetchJobTasks(QString jobId, bool includeJobTimes);
    // Summed job times leave out the one with id `leftOutJobTime`.
    QCoro::Task<JobTaskDTO> fetchJobTask(QString id, bool includeJobTimes,
                                         QString leftOutJobTime = QString());
    QCoro::Task<std::vector<JobTimeCompactDTO>> fetchActiveJobTimes();
    QCoro::Task<JobTimeCompactDTO> fetchJobTime(QString id);
    QCoro::Task<InvoiceableSummaryDTO> fetchInvoiceableSummary();
    QCoro::Task<JobTimeCompactDTO> startJobTime(QString clientId, QString jobTaskId,
                                                std::optional<QDateTime> startedAt);
    QCoro::Task<JobTimeCompactDTO> stopJobTime(QString id, std::optional<QDateTime> endedAt);
    QCoro::Task<JobTimeCompactDTO> updateJobTime(QString id, bool billable, QString roundDirection,
                                                 qint64 roundValue);
    QCoro::Task<LoginSuccessDTO> login(QString email, QString password, QString deviceName,
                                       std::optional<QString> code,
                                       std::optional<QString> recoveryCode);

    static std::optional<OrvaneAPIError> accountNotReadyError(const QByteArray& body) {
        return orvane::accountNotReadyError(body);
    }
    static bool isAlreadyStoppedError(const QByteArray& body);
    static bool isTwoFactorRequired(const QByteArray& body);

    // "2026-03-01T08:15:00Z": UTC, whole seconds.
    static QString internetDateTime(const QDateTime& date);

    // The common status rule: 2xx decodes T, 403 may be account-not-ready,
    // everything else is an http error with status and body.
    template <class T> static T decodeCommon(const PerformResult& result) {
        if (result.status >= 200 && result.status <= 299)
            return wire::decodeJSON<T>(result.body);
        throwForStatus(result);
    }
    [[noreturn]] static void throwForStatus(const PerformResult& result);

    // A page holds no more than was asked for: a service that ignores
    // `per_page` still yields its first rows, in its order, and no view or
    // sum works through more than one page's worth.
    template <class T> static void keepAskedRows(PaginatedResponse<T>& page, int perPage) {
        if (perPage >= 0 && page.data.size() > static_cast<size_t>(perPage))
            page.data.resize(static_cast<size_t>(perPage));
    }

    // Cancels every request in flight (their awaiters resume at once with a
    // cancellation) and refuses new ones. For the owner's teardown.
    void shutDown();

private:
    QNetworkReply* send(const QNetworkRequest& request, const QByteArray& method,
                        const QByteArray& body);
    template <class Row>
    QCoro::Task<PaginatedResponse<Row>>
    fetchAllPages(QString path, QueryParameters query,
                  PaginatedResponse<Row> (*decode)(const QByteArray&));
    struct Received {
        std::shared_ptr<QNetworkReply> reply;
        QByteArray body; // as read while it arrived; the reply holds none of it
        // A 3xx answer given back unfollowed, or an error status whose body
        // was cut: Qt flags an error of its own (a body it did not send
        // again, the abort), yet the status is the answer.
        bool statusStands = false;
        // Compressed and not whole streams, or in a coding not asked for; never
        // set under an error status, whose status stands.
        bool bodyBroken = false;
    };
    // Sends and waits for the answer, reading at most `maxBodyBytes` of its
    // body (less for an error status); throws TransportError::tooLarge()
    // past that. Redirects are followed here, so that the token and the
    // basic-auth pair never leave their origin.
    // The held token when `url` lies on the origin it was given for.
    std::optional<QString> tokenFor(const QUrl& url) const;
    QCoro::Task<Received> sendAndWait(QNetworkRequest request, QByteArray method, QByteArray body,
                                      qint64 maxBodyBytes, bool staysOnOrigin = false);

    std::vector<QPointer<QNetworkReply>> inFlight_;
    bool closed_ = false;
    // Read by coroutines that resume after the client is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    mutable QMutex tokenLock_;
    std::optional<QString> token_;
    JobTimeBookedSecs bookedSecs_ = nullptr;
    QString tokenOrigin_;
    // Tasks read with their job times: the running one is read at every sync
    // and mostly comes back byte for byte, so a body of the same size and
    // seeded hash as before is not decoded again. The latest last.
    struct TaskRead {
        QString id;
        QString leftOut;
        JobTimeBookedSecs secs = nullptr;
        qsizetype size = 0;
        size_t hash = 0;
        JobTaskDTO task;
    };
    static constexpr size_t kKeptTaskReads = 4;
    std::vector<TaskRead> taskReads_;
};

} // namespace orvane
