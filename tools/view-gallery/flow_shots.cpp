#include "gallery.h"

#include "platform/in_memory_keychain.h"
#include "platform/user_defaults.h"
#include "store/app_store.h"
#include "views/flow/flow_step_page.h"
#include "views/flow/session_flow_view.h"
#include "views/kit/chrome.h"
#include "views/popover/popover_root_view.h"
#include "views/popover/popover_views.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <functional>
#include <map>

namespace orvane::gallery {

namespace {

// What the pictures' service answers, by path; a path without an answer
// never gets one, so its list stays loading.
struct Answer {
    int status = 200;
    QByteArray body;
};
using Script = std::map<QByteArray, Answer>;

// A tiny HTTP responder on 127.0.0.1, so that the pictures show the picker
// after its real loads.
class ShotService : public QTcpServer {
public:
    ShotService() {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
        });
    }
    Script script;

private:
    void answer(QTcpSocket* socket) {
        QByteArray& buffer = pending_[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QByteArray target = buffer.split(' ').value(1);
        pending_.erase(socket);
        const QByteArray path = target.split('?').value(0);
        const auto found = script.find(path);
        if (found == script.end())
            return;
        const Answer& a = found->second;
        socket->write("HTTP/1.1 " + QByteArray::number(a.status) +
                      " X\r\nContent-Type: application/json\r\nConnection: close\r\n"
                      "Content-Length: " +
                      QByteArray::number(a.body.size()) + "\r\n\r\n" + a.body);
        socket->disconnectFromHost();
    }
    std::map<QTcpSocket*, QByteArray> pending_;
};

// Defaults, keychain and service of their own, so that the gallery never
// reads or writes the user's.
struct ShotWorld {
    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.path() + QStringLiteral("/defaults.json")};
    platform::InMemoryKeychain keychain;
    ShotService service;
    ChromeSetting* dark = nullptr;
    ChromeSetting* light = nullptr;

    ShotWorld() {
        platform::UserDefaults::overrideStandard(&defaults);
        platform::Keychain::overrideShared(&keychain);
        defaults.setString(QStringLiteral("orvane_api_base_url"),
                           QStringLiteral("http://127.0.0.1:%1").arg(service.serverPort()));
        dark = new ChromeSetting(qApp);
        light = new ChromeSetting(qApp);
        light->setLight(true);
    }
};

ShotWorld& world() {
    static ShotWorld* w = new ShotWorld;
    return *w;
}

QByteArray clientsJSON(int count) {
    const char* names[] = {
        "Acme GmbH",   "Bäckerei Sonnenschein", "Codewerk AG",    "Druckhaus Nord",
        "Elbe Reisen", "Fischer & Söhne",       "Grünwerk e. V.", "Hafenbar"};
    QByteArray rows;
    for (int i = 0; i < count; ++i) {
        if (i)
            rows += ',';
        rows += "{\"id\":\"c" + QByteArray::number(i + 1) + "\",\"customer_name\":\"" +
                QByteArray(names[i % 8]) + (i >= 8 ? " " + QByteArray::number(i) : "") +
                "\",\"client_number\":\"K-" + QByteArray::number(1001 + i) + "\"}";
    }
    return "{\"data\":[" + rows + "]}";
}

const QByteArray kJobs = R"({"data":[
 {"id":"41","title":"Website-Relaunch","job_number":"A-2024-017"},
 {"id":"42","title":"Logo und Geschäftsausstattung","project":{"id":1,"project_number":"P-88"}},
 {"id":"43","title":"Frühjahrskampagne"},
 {"id":"44"}]})";

const QByteArray kTasks = R"({"data":[
 {"id":"t1","title":"Konzept","scheduled_time":"1,5"},
 {"id":"t2","title":"Gestaltung","job_times":[
   {"id":"a","end_time":"2026-03-02T10:00:00Z","rounded_duration":{"hh_mm":"1:15"}},
   {"id":"b","end_time":"2026-03-02T12:00:00Z","rounded_duration":{"hh_mm":"0:50"}}]},
 {"id":"t3","title":"Abstimmung mit dem Kunden"},
 {"id":"t4","title":"Umsetzung","scheduled_time":"0.25"}]})";

const QByteArray kHostileClients = R"({"data":[
 {"id":"h1","customer_name":"Eine Kundin mit einem wirklich außerordentlich langen Namen, der in keine Zeile passt","client_number":"K-000000000000000000000000000000001"},
 {"id":"h2","customer_name":""},
 {"id":"h3"},
 {"id":"h4","company_name":"   ","client_number":"   "}]})";

// Names as long as real clients, jobs and tasks have them.
const QByteArray kLongClients = R"({"data":[
 {"id":"l1","customer_name":"Nordlicht Design und Kommunikation für nachhaltige Markenentwicklung im Norden","client_number":"K-2041"},
 {"id":"l2","company_name":"Bäckerei Sonnenschein"}]})";
const QByteArray kLongJobs = R"({"data":[
 {"id":"41","title":"Markenauftritt 2027 mit Geschäftsausstattung, Leitsystem und Website","job_number":"A-2027-001"},
 {"id":"42","title":"Shop-Relaunch"}]})";
const QByteArray kLongTasks = R"({"data":[
 {"id":"t1","title":"Entwürfe für die Geschäftsausstattung","scheduled_time":"12,5"},
 {"id":"t2","title":"Abstimmung der Entwürfe mit der Geschäftsführung und dem Marketing-Team"}]})";

void spinUntil(const std::function<bool()>& done) {
    for (QDeadlineTimer deadline(3000); !done() && !deadline.hasExpired();)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The steps a picture walks through once the picker is on screen.
using Walk = std::function<void(SessionFlowView&, ShotService&)>;

void toJobs(SessionFlowView& v, ShotService&) {
    spinUntil([&] { return !v.state().loadingClients(); });
    v.handleReturn();
    spinUntil([&] { return v.state().step() == 1 && !v.stage()->isSliding(); });
}

void toTasks(SessionFlowView& v, ShotService& s) {
    toJobs(v, s);
    v.handleReturn();
    spinUntil([&] { return v.state().step() == 2 && !v.stage()->isSliding(); });
}

void settleScroll(SessionFlowView& v) {
    QApplication::processEvents();
    spinUntil([&] { return !v.page(v.state().step())->list()->isScrollAnimating(); });
}

// The picker in the popover's panel as every start shows it: the store knows
// the clients (as many as the stand-in has) before the panel opens.
class PopoverFlowShot : public QWidget {
public:
    explicit PopoverFlowShot(bool light) {
        ShotWorld& w = world();
        w.service.script = {{"/api/clients", {200, clientsJSON(18)}}};
        platform::UserDefaults::standard().setBool(QLatin1String(ChromeSetting::kKey), light);
        store_ = std::make_unique<AppStore>();
        store_->setCurrentUser(
            APIUser{.id = QStringLiteral("7"), .email = QStringLiteral("a@b.de")});
        store_->setIsLoggedIn(true);
        store_->loadClients();
        spinUntil([&] { return store_->clients().size() == 18; });
        root_ = new PopoverRootView(*store_, nullptr, defaultPopoverViews(), this);
        root_->openSessionFlow();
        setFixedSize(PopoverRootView::kSize);
    }
    ~PopoverFlowShot() override { delete root_; }
    SessionFlowView* flow() const { return qobject_cast<SessionFlowView*>(root_->overlayPanel()); }

private:
    std::unique_ptr<AppStore> store_;
    PopoverRootView* root_ = nullptr;
};

struct FlowShot {
    const char* name;
    Script script;
    Walk walk;
};

} // namespace

void addFlowShots(Gallery& gallery) {
    const Answer noClients{500, R"({"message":"Serverfehler"})"};
    const QByteArray none = R"({"data":[]})";
    const std::vector<FlowShot> shots = {
        {"flow-clients-loading", {}, {}},
        {"flow-clients",
         {{"/api/clients", {200, clientsJSON(6)}}},
         [](SessionFlowView& v, ShotService&) {
             spinUntil([&] { return !v.state().loadingClients(); });
             v.moveHighlightDown();
             settleScroll(v);
         }},
        {"flow-clients-search",
         {{"/api/clients", {200, clientsJSON(6)}}},
         [](SessionFlowView& v, ShotService&) {
             spinUntil([&] { return !v.state().loadingClients(); });
             v.searchField()->setText(QStringLiteral("er"));
         }},
        {"flow-clients-many",
         {{"/api/clients", {200, clientsJSON(300)}}},
         [](SessionFlowView& v, ShotService&) {
             spinUntil([&] { return !v.state().loadingClients(); });
             for (int i = 0; i < 40; ++i)
                 v.moveHighlightUp();
             settleScroll(v);
         }},
        {"flow-clients-hostile",
         {{"/api/clients", {200, kHostileClients}}},
         [](SessionFlowView& v, ShotService&) {
             spinUntil([&] { return !v.state().loadingClients(); });
             v.moveHighlightDown();
         }},
        {"flow-clients-failed",
         {{"/api/clients", noClients}},
         [](SessionFlowView& v, ShotService&) {
             spinUntil([&] { return !v.state().loadingClients(); });
         }},
        {"flow-clients-empty",
         {{"/api/clients", {200, none}}},
         [](SessionFlowView& v, ShotService&) {
             spinUntil([&] { return !v.state().loadingClients(); });
         }},
        {"flow-jobs",
         {{"/api/clients", {200, clientsJSON(6)}}, {"/api/jobs", {200, kJobs}}},
         [](SessionFlowView& v, ShotService& s) {
             toJobs(v, s);
             v.moveHighlightDown();
             settleScroll(v);
         }},
        {"flow-jobs-empty",
         {{"/api/clients", {200, clientsJSON(6)}}, {"/api/jobs", {200, none}}},
         toJobs},
        {"flow-jobs-failed",
         {{"/api/clients", {200, clientsJSON(6)}}, {"/api/jobs", noClients}},
         toJobs},
        {"flow-jobs-loading",
         {{"/api/clients", {200, clientsJSON(6)}}, {"/api/jobs", {200, none}}},
         [](SessionFlowView& v, ShotService& s) {
             toJobs(v, s);
             s.script.erase("/api/jobs");
             v.reloadJobs();
         }},
        {"flow-tasks",
         {{"/api/clients", {200, clientsJSON(6)}},
          {"/api/jobs", {200, kJobs}},
          {"/api/jobs/41/job-tasks", {200, kTasks}}},
         [](SessionFlowView& v, ShotService& s) {
             toTasks(v, s);
             v.moveHighlightDown();
             settleScroll(v);
         }},
        {"flow-jobs-long-names",
         {{"/api/clients", {200, kLongClients}}, {"/api/jobs", {200, kLongJobs}}},
         toJobs},
        {"flow-tasks-long-names",
         {{"/api/clients", {200, kLongClients}},
          {"/api/jobs", {200, kLongJobs}},
          {"/api/jobs/41/job-tasks", {200, kLongTasks}}},
         toTasks},
        {"flow-tasks-empty",
         {{"/api/clients", {200, clientsJSON(6)}},
          {"/api/jobs", {200, kJobs}},
          {"/api/jobs/41/job-tasks", {200, none}}},
         toTasks},
        {"flow-tasks-failed",
         {{"/api/clients", {200, clientsJSON(6)}},
          {"/api/jobs", {200, kJobs}},
          {"/api/jobs/41/job-tasks", {404, "{}"}}},
         toTasks},
        {"flow-tasks-loading",
         {{"/api/clients", {200, clientsJSON(6)}},
          {"/api/jobs", {200, kJobs}},
          {"/api/jobs/41/job-tasks", {200, none}}},
         [](SessionFlowView& v, ShotService& s) {
             toTasks(v, s);
             s.script.erase("/api/jobs/41/job-tasks");
             v.reloadTasks();
         }},
    };
    for (const FlowShot& shot : shots)
        for (const bool light : {false, true})
            gallery.add({.name = QString::fromLatin1(shot.name) + (light ? "-light" : ""),
                         .make =
                             [script = shot.script, light] {
                                 ShotWorld& w = world();
                                 w.service.script = script;
                                 // Gone with the picture, while the application still runs.
                                 auto* store = new AppStore;
                                 auto* view = new SessionFlowView(
                                     *store, light ? *w.light : *w.dark, [](auto) {});
                                 QObject::connect(view, &QObject::destroyed, store,
                                                  [store] { delete store; });
                                 return view;
                             },
                         .backdrop = light ? Backdrop::Light : Backdrop::Dark,
                         .width = 380,
                         .settle =
                             [walk = shot.walk](QWidget* widget) {
                                 auto* view = static_cast<SessionFlowView*>(widget);
                                 // The search field takes the focus 0.2 s in.
                                 spinUntil([&] { return view->searchField()->hasFocus(); });
                                 if (walk)
                                     walk(*view, world().service);
                                 QApplication::processEvents();
                             }});
    // At the top as it opens, and at the bottom with the scroll indicator in
    // the panel's rounded corner.
    for (const bool bottom : {false, true})
        for (const bool light : {false, true})
            gallery.add({.name = QStringLiteral("flow-in-popover-clients%1%2")
                                     .arg(bottom ? "-bottom" : "", light ? "-light" : ""),
                         .make = [light] { return new PopoverFlowShot(light); },
                         .backdrop = light ? Backdrop::Light : Backdrop::Dark,
                         .settle =
                             [bottom](QWidget* widget) {
                                 SessionFlowView* view =
                                     static_cast<PopoverFlowShot*>(widget)->flow();
                                 spinUntil([&] {
                                     return view->searchField()->hasFocus() &&
                                            !view->state().loadingClients();
                                 });
                                 if (bottom)
                                     view->moveHighlightUp();
                                 settleScroll(*view);
                             }});
}

} // namespace orvane::gallery
