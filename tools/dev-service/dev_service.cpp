#include "dev_service.h"

#include "dev_service_state.h"

#include <httplib.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QJsonArray>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <variant>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvane::dev {

using detail::JobTime;
using detail::State;
using detail::User;

namespace {

struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
};

Reply json(int status, const QJsonObject& body) {
    return {status, QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString()};
}

Reply data(int status, const QJsonValue& value) {
    return json(status, {{"data", value}});
}

Reply message(int status, const QString& text) {
    return json(status, {{"message", text}});
}

// A refused field, shaped like the service's validation answers.
Reply invalid(const char* field, const QString& text) {
    return json(422, {{"message", text}, {"errors", QJsonObject{{field, QJsonArray{text}}}}});
}

// Why host:port cannot be bound, in the system's words (httplib keeps errno
// to itself).
QString bindFailure(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found))
        return QString::fromLocal8Bit(::gai_strerror(rc));
    int error = 0;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        const int sock = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (sock < 0) {
            error = errno;
            continue;
        }
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        error = ::bind(sock, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        ::close(sock);
        if (error == 0)
            break;
    }
    ::freeaddrinfo(found);
    return error ? QString::fromLocal8Bit(std::strerror(error))
                 : QStringLiteral("the address is taken or not this machine's");
}

QJsonArray arrayOf(const std::vector<QJsonObject>& list) {
    QJsonArray out;
    for (const QJsonObject& o : list)
        out.append(o);
    return out;
}

std::optional<QString> param(const httplib::Request& req, const char* name) {
    if (!req.has_param(name))
        return std::nullopt;
    return QString::fromStdString(req.get_param_value(name));
}

QString capture(const httplib::Request& req) {
    return QString::fromStdString(req.matches[1].str());
}

// An empty body reads as an empty object; anything but an object is refused.
std::optional<QJsonObject> objectBody(const std::string& body) {
    const QByteArray bytes = QByteArray::fromStdString(body);
    if (bytes.trimmed().isEmpty())
        return QJsonObject();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

Reply notAnObject() {
    return message(400, QStringLiteral("Der Inhalt der Anfrage ist kein JSON-Objekt."));
}

constexpr std::size_t kBodyLimit = 1 << 20;

struct Body {
    std::string bytes;
    bool tooLarge = false;
    bool complete = true;
};

// A request body as HTTP/1.1 delimits it: by its length, chunk by chunk, or
// empty when the request names neither (httplib would wait for the client to
// close). Bytes past the limit are read and dropped, whatever the framing, so
// the client hears the 413 instead of a reset and memory stays flat.
Body readBody(const httplib::Request& req, const httplib::Response& res,
              const httplib::ContentReader& reader) {
    Body body;
    if (!req.has_header("Content-Length") && !req.has_header("Transfer-Encoding"))
        return body;
    std::size_t seen = 0;
    const auto count = [&](const char* data, size_t length, bool keep) {
        seen += length;
        body.tooLarge = seen > kBodyLimit;
        if (keep && !body.tooLarge)
            body.bytes.append(data, length);
        return true;
    };
    if (req.is_multipart_form_data()) {
        // Form fields are no JSON object; they only count against the limit.
        body.complete = reader([](const httplib::MultipartFormData&) { return true; },
                               [&](const char* data, size_t n) { return count(data, n, false); });
    } else {
        body.complete = reader([&](const char* data, size_t n) { return count(data, n, true); });
    }
    // A declared length over the limit is skipped by httplib itself.
    body.tooLarge = body.tooLarge || res.status == 413;
    if (body.tooLarge)
        body.bytes.clear();
    return body;
}

std::optional<QDateTime> instant(const QJsonValue& value) {
    if (!value.isString())
        return std::nullopt;
    const QDateTime t = QDateTime::fromString(value.toString().trimmed(), Qt::ISODateWithMs);
    if (!t.isValid())
        return std::nullopt;
    return QDateTime::fromSecsSinceEpoch(t.toSecsSinceEpoch(), Qt::UTC);
}

std::optional<qint64> wholeNumber(const std::optional<QString>& text) {
    if (!text)
        return std::nullopt;
    bool ok = false;
    const qint64 value = text->trimmed().toLongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

// A small round portrait, drawn pixel by pixel so that no font or paint
// engine is needed on the server's threads.
QByteArray portraitPng(const QString& userId) {
    constexpr int size = 96;
    const uint seed = qHash(userId);
    const QColor inner = QColor::fromHsv(static_cast<int>(seed % 360), 150, 235);
    const QColor outer = QColor::fromHsv(static_cast<int>((seed / 360 + 200) % 360), 170, 150);
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const double r = size / 2.0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double t = std::hypot(x + 0.5 - r, y + 0.5 - r) / r;
            if (t > 1.0)
                continue;
            image.setPixelColor(
                x, y,
                QColor::fromRgbF(static_cast<float>(inner.redF() * (1 - t) + outer.redF() * t),
                                 static_cast<float>(inner.greenF() * (1 - t) + outer.greenF() * t),
                                 static_cast<float>(inner.blueF() * (1 - t) + outer.blueF() * t)));
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace

class DevService::Impl {
public:
    enum class Access { Open, SignedIn, Work };
    using Route = Reply (Impl::*)(const httplib::Request&, const User*);
    using BodyRoute = Reply (Impl::*)(const httplib::Request&, const std::string& body,
                                      const User*);

    Impl(const QJsonDocument& seed, DevServiceOptions options)
        : seed_(seed), options_(std::move(options)),
          state_(std::make_unique<State>(seed_, options_.now)) {}

    ~Impl() { stop(); }

    int start(const QString& host, int port) {
        stop();
        server_ = std::make_unique<httplib::Server>();
        routes(*server_);
        const std::string h = host.toStdString();
        const int bound =
            port == 0 ? server_->bind_to_any_port(h) : (server_->bind_to_port(h, port) ? port : -1);
        if (bound <= 0) {
            server_.reset();
            throw std::runtime_error(QStringLiteral("cannot listen on %1:%2: %3")
                                         .arg(host)
                                         .arg(port)
                                         .arg(bindFailure(h, port))
                                         .toStdString());
        }
        host_ = host;
        port_ = bound;
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!server_->is_running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return bound;
    }

    void stop() {
        if (!server_)
            return;
        server_->stop();
        if (thread_.joinable())
            thread_.join();
        server_.reset();
    }

    void reset() {
        std::lock_guard lock(mutex_);
        state_ = std::make_unique<State>(seed_, options_.now);
    }

    bool setRequirements(const QString& email, const QJsonObject& requirements) {
        std::lock_guard lock(mutex_);
        User* user = state_->mutableUserByEmail(email);
        if (user)
            user->requirements = requirements;
        return user != nullptr;
    }

    QString host_;
    int port_ = 0;
    std::atomic<std::size_t> requests_{0};
    std::atomic<std::size_t> answered_{0};

private:
    void routes(httplib::Server& s) {
        s.set_payload_max_length(kBodyLimit);
        // httplib's default adds SO_REUSEPORT, which lets a second stand-in bind
        // the same port and take part of the first one's traffic.
        s.set_socket_options([](socket_t sock) {
            const int yes = 1;
            ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        // A worker serves one connection at a time, idle or stalled ones too:
        // the app alone keeps several alive.
        s.new_task_queue = [] { return new httplib::ThreadPool(64); };
        s.Post("/api/auth/login", wrap(&Impl::login, Access::Open));
        s.Post("/api/auth/logout", wrap(&Impl::logout, Access::SignedIn));
        s.Get("/api/user", wrap(&Impl::user, Access::SignedIn));
        s.Get("/api/clients", wrap(&Impl::clients, Access::Work));
        s.Get("/api/jobs", wrap(&Impl::jobs, Access::Work));
        s.Get(R"(/api/jobs/([^/]+)/job-tasks)", wrap(&Impl::tasksOfJob, Access::Work));
        s.Get(R"(/api/job-tasks/([^/]+))", wrap(&Impl::task, Access::Work));
        s.Get("/api/job-times", wrap(&Impl::jobTimes, Access::Work));
        s.Get("/api/job-times/active", wrap(&Impl::active, Access::Work));
        s.Get("/api/job-times/invoiceable-summary", wrap(&Impl::summary, Access::Work));
        s.Get(R"(/api/job-times/([^/]+))", wrap(&Impl::jobTime, Access::Work));
        s.Post("/api/job-times/start", wrap(&Impl::startJobTime, Access::Work));
        s.Patch(R"(/api/job-times/([^/]+)/stop)", wrap(&Impl::stopJobTime, Access::Work));
        s.Patch(R"(/api/job-times/([^/]+))", wrap(&Impl::updateJobTime, Access::Work));
        s.Get(R"(/storage/profile-photos/([^/]+)\.png)", wrap(&Impl::photo, Access::Open));

        s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            ++requests_;
            if (gateLetsThrough(req))
                return httplib::Server::HandlerResponse::Unhandled;
            res.status = 401;
            res.set_header("WWW-Authenticate", "Basic realm=\"orvane\"");
            res.set_content(R"({"message":"Unauthenticated."})", "application/json");
            return httplib::Server::HandlerResponse::Handled;
        });
        s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
            if (res.body.empty() && res.status != 204)
                res.set_content(res.status == 404 ? R"({"message":"Not Found."})"
                                                  : R"({"message":"Die Anfrage ging schief."})",
                                "application/json");
        });
        s.set_exception_handler(
            [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
                res.status = 500;
                res.set_content(R"({"message":"Server Error"})", "application/json");
            });
        s.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
            ++answered_;
            if (!options_.quiet)
                std::fprintf(stderr, "%s %s %d\n", req.method.c_str(), req.path.c_str(),
                             res.status);
        });
    }

    static void send(httplib::Response& res, const Reply& reply) {
        res.status = reply.status;
        if (reply.status != 204)
            res.set_content(reply.body, reply.contentType.c_str());
    }

    httplib::Server::Handler wrap(Route route, Access access) {
        return [this, route, access](const httplib::Request& req, httplib::Response& res) {
            send(res, dispatch(req, access,
                               [&](const User* user) { return (this->*route)(req, user); }));
        };
    }

    // Routes with a body read it themselves: see readBody.
    httplib::Server::HandlerWithContentReader wrap(BodyRoute route, Access access) {
        return [this, route, access](const httplib::Request& req, httplib::Response& res,
                                     const httplib::ContentReader& reader) {
            const Body body = readBody(req, res, reader);
            if (body.tooLarge)
                return send(res, message(413, QStringLiteral("Der Inhalt der Anfrage ist zu "
                                                             "groß (höchstens 1 MiB).")));
            if (!body.complete)
                return send(res, message(400, QStringLiteral("Der Inhalt der Anfrage kam "
                                                             "nicht vollständig an.")));
            send(res, dispatch(req, access, [&](const User* user) {
                     return (this->*route)(req, body.bytes, user);
                 }));
        };
    }

    template <class Call> Reply dispatch(const httplib::Request& req, Access access, Call call) {
        std::lock_guard lock(mutex_);
        const User* user = nullptr;
        if (access != Access::Open) {
            user = bearerUser(req);
            if (!user)
                return message(401, QStringLiteral("Unauthenticated."));
            if (access == Access::Work && !state_->isReady(*user))
                return json(403, state_->notReadyBody(*user));
        }
        return call(user);
    }

    static std::optional<QString> bearer(const httplib::Request& req) {
        const QString header = QString::fromStdString(req.get_header_value("Authorization"));
        if (!header.startsWith("Bearer ", Qt::CaseInsensitive))
            return std::nullopt;
        return header.mid(7).trimmed();
    }

    const User* bearerUser(const httplib::Request& req) const {
        const auto token = bearer(req);
        return token ? state_->userForToken(*token) : nullptr;
    }

    bool gateLetsThrough(const httplib::Request& req) {
        if (!options_.basicAuth)
            return true;
        const QString pair = options_.basicAuth->first + u':' + options_.basicAuth->second;
        const std::string expected = "Basic " + pair.toUtf8().toBase64().toStdString();
        if (req.get_header_value("Authorization") == expected)
            return true;
        std::lock_guard lock(mutex_);
        return bearerUser(req) != nullptr;
    }

    QString origin(const httplib::Request& req) const {
        const std::string host = req.get_header_value("Host");
        return QStringLiteral("http://") + (host.empty()
                                                ? QStringLiteral("%1:%2").arg(host_).arg(port_)
                                                : QString::fromStdString(host));
    }

    // Page and size from the query: (page, per page), or the refusal.
    static std::variant<std::pair<qint64, qint64>, Reply> paging(const httplib::Request& req) {
        const auto page = param(req, "page");
        const auto perPage = param(req, "per_page");
        const qint64 p = page ? wholeNumber(page).value_or(0) : 1;
        const qint64 n = perPage ? wholeNumber(perPage).value_or(0) : 15;
        if (p < 1)
            return invalid("page", QStringLiteral("Die Seite muss eine ganze Zahl ab 1 sein."));
        if (n < 1 || n > 500)
            return invalid("per_page",
                           QStringLiteral("Die Seitengröße muss zwischen 1 und 500 liegen."));
        return std::pair(p, n);
    }

    static Reply page(const httplib::Request& req, const std::vector<QJsonObject>& all) {
        const auto paged = paging(req);
        if (const Reply* refusal = std::get_if<Reply>(&paged))
            return *refusal;
        const auto [p, n] = std::get<std::pair<qint64, qint64>>(paged);
        const qint64 total = static_cast<qint64>(all.size());
        QJsonArray items;
        // Pages past the end are empty; the bound also keeps huge page numbers harmless.
        const qint64 first = p - 1 > total / n ? total : (p - 1) * n;
        for (qint64 i = first; i < std::min(total, first + n); ++i)
            items.append(all[static_cast<size_t>(i)]);
        const QJsonObject meta{{"current_page", p},
                               {"last_page", std::max<qint64>(1, (total + n - 1) / n)},
                               {"per_page", n},
                               {"total", total}};
        return json(200, {{"data", items}, {"meta", meta}});
    }

    static bool withJobTimes(const httplib::Request& req) {
        const auto flag = param(req, "include_job_times");
        return !flag || (*flag != u"0" && *flag != u"false");
    }

    // ---- Sign-in ----

    Reply login(const httplib::Request& req, const std::string& content, const User*) {
        const auto body = objectBody(content);
        if (!body)
            return notAnObject();
        const QString email = body->value("email").toString().trimmed();
        const QString password = body->value("password").toString();
        if (email.isEmpty() || password.isEmpty())
            return invalid("email", QStringLiteral("Bitte E-Mail und Passwort angeben."));
        if (!body->value("device_name").isString())
            return invalid("device_name", QStringLiteral("Bitte einen Gerätenamen angeben."));
        const User* user = state_->userByEmail(email);
        if (!user || user->password != password)
            return invalid("email", QStringLiteral("Diese Zugangsdaten sind uns nicht bekannt."));
        if (user->twoFactor) {
            const QString code = body->value("code").toString().trimmed();
            if (code.isEmpty())
                return json(422,
                            {{"two_factor_required", true},
                             {"message", QStringLiteral("Bitte gib den Zwei-Faktor-Code ein.")}});
            if (code != QLatin1String(kDemoCode))
                return json(422,
                            {{"two_factor_required", false},
                             {"message", QStringLiteral("Der Bestätigungscode ist ungültig.")},
                             {"errors",
                              QJsonObject{{"code", QJsonArray{QStringLiteral(
                                                       "Der Bestätigungscode ist ungültig.")}}}}});
        }
        return json(200, {{"token", state_->issueToken(user->id)},
                          {"token_type", QStringLiteral("Bearer")},
                          {"user", state_->userRecord(*user, origin(req))}});
    }

    Reply logout(const httplib::Request& req, const std::string&, const User*) {
        state_->revokeToken(bearer(req).value_or(QString()));
        return {204, {}};
    }

    Reply user(const httplib::Request& req, const User* user) {
        return json(200, state_->userRecord(*user, origin(req)));
    }

    Reply photo(const httplib::Request& req, const User*) {
        const User* owner = state_->userById(capture(req));
        if (!owner || !owner->photo)
            return message(404, QStringLiteral("Not Found."));
        return {200, portraitPng(owner->id).toStdString(), "image/png"};
    }

    // ---- Catalogue ----

    Reply clients(const httplib::Request& req, const User*) { return page(req, state_->clients()); }

    Reply jobs(const httplib::Request& req, const User*) {
        std::optional<bool> archived;
        if (const auto flag = param(req, "archived"); flag && !flag->isEmpty()) {
            if (*flag == u"0" || *flag == u"false")
                archived = false;
            else if (*flag == u"1" || *flag == u"true")
                archived = true;
            else
                return invalid("archived", QStringLiteral("archived muss 0 oder 1 sein."));
        }
        const auto nonEmpty = [](std::optional<QString> v) {
            return v && !v->isEmpty() ? v : std::nullopt;
        };
        return page(req, state_->jobs(nonEmpty(param(req, "client_id")),
                                      nonEmpty(param(req, "project_id")), archived));
    }

    Reply tasksOfJob(const httplib::Request& req, const User* user) {
        const QString jobId = capture(req);
        if (!state_->hasJob(jobId))
            return message(404, QStringLiteral("Diesen Auftrag gibt es nicht."));
        return data(200, arrayOf(state_->tasksOfJob(jobId, *user, withJobTimes(req))));
    }

    Reply task(const httplib::Request& req, const User* user) {
        const QString taskId = capture(req);
        if (!state_->hasTask(taskId))
            return message(404, QStringLiteral("Diese Aufgabe gibt es nicht."));
        return data(200, state_->task(taskId, *user, withJobTimes(req)));
    }

    // ---- Job times ----

    Reply jobTimes(const httplib::Request& req, const User* user) {
        const auto taskId = param(req, "jobtask_id");
        std::optional<QDate> bounds[2];
        const char* names[2] = {"from", "to"};
        for (int i = 0; i < 2; ++i) {
            if (const auto text = param(req, names[i])) {
                bounds[i] = QDate::fromString(*text, QStringLiteral("yyyy-MM-dd"));
                if (!bounds[i]->isValid())
                    return invalid(names[i], QStringLiteral("Das Datum „%1“ ist nicht im Format "
                                                            "JJJJ-MM-TT.")
                                                 .arg(*text));
            }
        }
        std::vector<QJsonObject> list;
        for (const JobTime* e : state_->jobTimesOf(*user, [&](const JobTime& e) {
                 const QDate day = state_->berlinDay(e.start);
                 return (!taskId || e.taskId == *taskId) && (!bounds[0] || day >= *bounds[0]) &&
                        (!bounds[1] || day <= *bounds[1]);
             }))
            list.push_back(state_->jobTimeRecord(*e));
        return page(req, list);
    }

    Reply active(const httplib::Request&, const User* user) {
        QJsonArray list;
        for (const JobTime* e : state_->jobTimesOf(*user, [](const JobTime& e) { return !e.end; }))
            list.append(state_->jobTimeRecord(*e));
        return data(200, list);
    }

    Reply summary(const httplib::Request&, const User* user) {
        return json(200, state_->invoiceableSummary(*user));
    }

    Reply jobTime(const httplib::Request& req, const User* user) {
        const JobTime* entry = state_->jobTime(capture(req), *user);
        if (!entry)
            return message(404, QStringLiteral("Diese Zeiterfassung gibt es nicht."));
        return data(200, state_->jobTimeRecord(*entry));
    }

    Reply startJobTime(const httplib::Request&, const std::string& content, const User* user) {
        const auto body = objectBody(content);
        if (!body)
            return notAnObject();
        const QString taskId = detail::idText(body->value("jobtask_id"));
        const QString clientId = detail::idText(body->value("client_id"));
        if (taskId.isEmpty() || !state_->hasTask(taskId))
            return invalid("jobtask_id", QStringLiteral("Bitte eine bestehende Aufgabe wählen."));
        if (clientId.isEmpty() || clientId != state_->clientOfTask(taskId))
            return invalid("client_id",
                           QStringLiteral("Die Aufgabe gehört nicht zu diesem Kunden."));
        QDateTime start = state_->now();
        if (const QJsonValue given = body->value("started_at");
            !given.isUndefined() && !given.isNull()) {
            const auto parsed = instant(given);
            if (!parsed)
                return invalid("started_at", QStringLiteral("Der Beginn ist kein Zeitpunkt."));
            start = *parsed;
        }
        return data(201,
                    state_->jobTimeRecord(state_->startJobTime(*user, clientId, taskId, start)));
    }

    Reply stopJobTime(const httplib::Request& req, const std::string& content, const User* user) {
        JobTime* entry = state_->jobTime(capture(req), *user);
        if (!entry)
            return message(404, QStringLiteral("Diese Zeiterfassung gibt es nicht."));
        const auto body = objectBody(content);
        if (!body)
            return notAnObject();
        if (entry->end)
            return json(
                422,
                {{"message", QStringLiteral("Diese Zeiterfassung wurde bereits gestoppt.")},
                 {"errors", QJsonObject{{"job_time", QJsonArray{QStringLiteral(
                                                         "The job time has already stopped.")}}}}});
        QDateTime end = QDateTime::fromSecsSinceEpoch(state_->now().toSecsSinceEpoch(), Qt::UTC);
        if (const QJsonValue given = body->value("ended_at");
            !given.isUndefined() && !given.isNull()) {
            const auto parsed = instant(given);
            if (!parsed)
                return invalid("ended_at", QStringLiteral("Das Ende ist kein Zeitpunkt."));
            end = *parsed;
        }
        if (end < entry->start)
            return invalid("ended_at", QStringLiteral("Das Ende liegt vor dem Beginn."));
        entry->end = end;
        return data(200, state_->jobTimeRecord(*entry));
    }

    Reply updateJobTime(const httplib::Request& req, const std::string& content, const User* user) {
        JobTime* entry = state_->jobTime(capture(req), *user);
        if (!entry)
            return message(404, QStringLiteral("Diese Zeiterfassung gibt es nicht."));
        const auto body = objectBody(content);
        if (!body)
            return notAnObject();
        const QJsonValue billable = body->value("billable");
        const QJsonValue direction = body->value("round_direction");
        const QJsonValue step = body->value("round_value");
        if (!billable.isUndefined() && !billable.isBool())
            return invalid("billable", QStringLiteral("billable muss true oder false sein."));
        const QString dir = direction.toString();
        if (!direction.isUndefined() && dir != u"up" && dir != u"down" && dir != u"closest")
            return invalid("round_direction",
                           QStringLiteral("Die Rundung ist „up“, „down“ oder „closest“."));
        if (!step.isUndefined() &&
            (!step.isDouble() || step.toDouble() != std::floor(step.toDouble()) ||
             step.toDouble() < 0 || step.toDouble() > 1440))
            return invalid("round_value",
                           QStringLiteral("Der Rundungsschritt ist eine ganze Minutenzahl."));
        if (billable.isBool())
            entry->billable = billable.toBool();
        if (direction.isString())
            entry->roundDirection = direction.toString();
        if (step.isDouble())
            entry->roundValue = step.toInteger();
        return data(200, state_->jobTimeRecord(*entry));
    }

    const QJsonDocument seed_;
    const DevServiceOptions options_;
    mutable std::mutex mutex_;
    std::unique_ptr<State> state_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
};

DevService::DevService(const QJsonDocument& seed, DevServiceOptions options)
    : impl_(std::make_unique<Impl>(seed, std::move(options))) {}

DevService::~DevService() = default;

QJsonDocument DevService::demoData() {
    return readData(QStringLiteral(":/orvane-dev-service/demo-data.json"));
}

QJsonDocument DevService::readData(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(
            QStringLiteral("cannot read %1: %2").arg(path, file.errorString()).toStdString());
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError)
        throw std::runtime_error(QStringLiteral("%1 is not JSON: %2 (offset %3)")
                                     .arg(path, error.errorString())
                                     .arg(error.offset)
                                     .toStdString());
    return doc;
}

int DevService::start(const QString& host, int port) {
    return impl_->start(host, port);
}

void DevService::stop() {
    impl_->stop();
}

int DevService::port() const {
    return impl_->port_;
}

QString DevService::baseURL() const {
    return QStringLiteral("http://%1:%2").arg(impl_->host_).arg(impl_->port_);
}

void DevService::resetToSeed() {
    impl_->reset();
}

std::size_t DevService::requestCount() const {
    return impl_->requests_;
}

std::size_t DevService::answeredCount() const {
    return impl_->answered_;
}

bool DevService::setAccountRequirements(const QString& email, const QJsonObject& requirements) {
    return impl_->setRequirements(email, requirements);
}

} // namespace orvane::dev
