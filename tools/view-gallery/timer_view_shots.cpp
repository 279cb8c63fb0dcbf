// The running-session card, the multi-timer choice and the summary after a
// stop, each on a store of its own that talks to nothing real.
#include "gallery.h"

#include "platform/clock.h"
#include "platform/in_memory_keychain.h"
#include "platform/user_defaults.h"
#include "store/app_store.h"
#include "store/time_money_helpers.h"
#include "views/flow/multi_timer_choice_sheet.h"
#include "views/flow/summary_view.h"
#include "views/kit/chrome.h"
#include "views/popover/active_session_card.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <memory>

namespace orvane::gallery {

namespace {

// A service stand-in that answers every request alike, or never.
class CannedService : public QTcpServer {
public:
    explicit CannedService(QByteArray reply) : m_reply(std::move(reply)) {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                if (m_reply.isEmpty())
                    continue; // holds the request open: a save that is still running
                connect(socket, &QTcpSocket::readyRead, socket, [socket, reply = m_reply] {
                    socket->readAll();
                    socket->write(reply);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }

private:
    QByteArray m_reply;
};

// Preferences and keychain of the pictures' own, so that drawing them never
// touches the user's settings or keyring.
struct Environment {
    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.path() + QStringLiteral("/orvane/defaults.json")};
    platform::InMemoryKeychain keychain;
    CannedService refusing{[] {
        const QByteArray body = R"({"message":"405 PATCH not allowed"})";
        return QByteArray("HTTP/1.1 405 Method Not Allowed\r\nContent-Type: application/json\r\n"
                          "Content-Length: ") +
               QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }()};
    CannedService silent{QByteArray()};

    Environment() {
        platform::UserDefaults::overrideStandard(&defaults);
        platform::Keychain::overrideShared(&keychain);
        useService(silent.url());
    }
    void useService(const QString& url) {
        defaults.setString(QStringLiteral("orvane_api_base_url"), url);
    }
};

Environment& environment() {
    static Environment* env = new Environment; // lives to the end of the program
    return *env;
}

AppStore* signedInStore() {
    environment();
    auto* store = new AppStore;
    APIUser user{"1", "lea@example.de"};
    user.defaultHourlyRate = QStringLiteral("85");
    store->setCurrentUser(user);
    store->setIsLoggedIn(true);
    return store;
}

ChromeSetting* chromeSetting(bool light, QObject* owner) {
    auto* chrome = new ChromeSetting(owner);
    chrome->setLight(light);
    return chrome;
}

QDateTime now() {
    return platform::Clock::shared().now();
}

// ---- The card ----

struct CardState {
    const char* name;
    bool running = true;
    bool onBreak = false;
    qint64 elapsed = 3725;
    qint64 budget = 0;
    qint64 before = 0;
    bool rate = true;
    enum class Names { Usual, LongWord, Long } names = Names::Usual;
};

// A client name as long as real ones get, and a task of two lines.
const QString kLongClient = QStringLiteral(
    "Nordlicht Design und Kommunikation für nachhaltige Markenentwicklung im Norden");
const QString kLongTask = QStringLiteral("Entwürfe für die Geschäftsausstattung");

TimerSession cardSession(const CardState& state) {
    TimerSession s;
    s.id = stableUUID(QStringLiteral("jt-1"));
    s.jobTimeServerId = QStringLiteral("jt-1");
    s.clientId = QStringLiteral("c-1");
    s.clientDisplayName = QStringLiteral("Bergmann & Söhne");
    s.jobTitle = QStringLiteral("Website-Relaunch");
    s.taskTitle = QStringLiteral("Startseite gestalten");
    if (state.names == CardState::Names::LongWord) {
        s.clientDisplayName =
            QStringLiteral("Ein ausgesprochen langer Kundenname, der nicht passt");
        s.jobTitle = QStringLiteral("Und ein Auftrag mit ebenso langem Titel");
        s.taskTitle = QString(120, u'W');
    } else if (state.names == CardState::Names::Long) {
        s.clientDisplayName = kLongClient;
        s.jobTitle = QStringLiteral("Markenauftritt 2027");
        s.taskTitle = kLongTask;
    }
    s.running = state.running && !state.onBreak;
    s.onBreak = state.onBreak;
    s.startedAt = now().addSecs(-state.elapsed);
    s.elapsedSecs = state.elapsed;
    if (state.onBreak) {
        s.onBreakSince = now();
        s.elapsedSecs = state.elapsed;
    }
    s.budgetSecs = state.budget;
    s.trackedBeforeSecs = state.before;
    return s;
}

QWidget* cardShot(const CardState& state, bool light) {
    AppStore* store = signedInStore();
    if (!state.rate)
        store->setCurrentUser(APIUser{"1", "lea@example.de"});
    auto* card = new ActiveSessionCard(*store);
    store->setParent(card);
    card->setUseLight(light);
    card->setSession(cardSession(state));
    return card;
}

// ---- The choice ----

QWidget* choiceShot(bool light, bool withCards, bool stopping, bool longNames = false) {
    AppStore* store = signedInStore();
    CardState state{"running"};
    if (longNames)
        state.names = CardState::Names::Long;
    TimerSession s = cardSession(state);
    s.clientInitials = QStringLiteral("BS");
    s.clientColorHex = clientColorHex(s.clientId);
    if (withCards) {
        store->setSessions({s});
        ClientDTO client{QStringLiteral("c-2")};
        client.companyName = QStringLiteral("Nordlicht Verlag GmbH");
        JobDTO job{QStringLiteral("j-2")};
        job.title = QStringLiteral("Frühjahrsprogramm mit einem langen Titel, der umbricht");
        JobTaskDTO task{QStringLiteral("t-2")};
        task.title = QStringLiteral("Satz und Korrektur");
        if (longNames) {
            client.companyName = kLongClient;
            job.title = QStringLiteral("Markenauftritt 2027");
            task.title = kLongTask;
        }
        store->setPendingPick(PendingStart(client, job, task));
    }
    store->setShowMultiTimerSheet(true);
    auto* sheet = new MultiTimerChoiceSheet(*store, *chromeSetting(light, store));
    store->setParent(sheet);
    // As the popover gives it: its width, and the height its content needs
    // up to the popover's limit.
    sheet->setFixedHeight(std::min(sheet->heightForWidth(MultiTimerChoiceSheet::kWidth), 540));
    if (stopping) {
        environment().useService(environment().silent.url());
        sheet->stopAndStartPending();
    }
    return sheet;
}

// ---- The summary ----

struct SummaryState {
    const char* name;
    bool billable = true;
    const char* savedDirection = "down";
    qint64 savedGrid = 1;
    qint64 budget = 36000;
    const char* draftDirection = nullptr; // a direction tapped
    bool toggleBillable = false;
    bool confirm = false;
    enum class Save { None, Running, Refused } save = Save::None;
    int height = 1000;
    const char* focus = nullptr; // the control that holds the keyboard
    const char* client = "Bergmann & Söhne";
    const char* job = "Website-Relaunch";
    const char* task = "Startseite gestalten";
};

QWidget* summaryShot(const SummaryState& state) {
    AppStore* store = signedInStore();
    StoppedSummary s;
    s.id = QUuid::createUuid();
    s.jobTimeServerId = QStringLiteral("jt-1");
    s.clientName = QString::fromUtf8(state.client);
    s.clientInitials = clientInitials(s.clientName);
    s.clientColorHex = clientColorHex(QStringLiteral("c-1"));
    s.jobTitle = QString::fromUtf8(state.job);
    s.taskTitle = QString::fromUtf8(state.task);
    s.endedAt = now();
    s.startedAt = s.endedAt.addSecs(-(2 * 3600 + 17 * 60 + 40));
    s.timeRoundDirection = QString::fromLatin1(state.savedDirection);
    s.timeRoundValueMinutes = state.savedGrid;
    s.elapsedSecs =
        minuteGridRoundedSecs(s.startedAt, s.endedAt, s.timeRoundDirection, state.savedGrid);
    s.billable = state.billable;
    s.trackedBeforeExcludingThisEntrySecs = 6 * 3600;
    s.projectTrackedSecs = saturatingAdd(s.trackedBeforeExcludingThisEntrySecs, s.elapsedSecs);
    s.projectBudgetSecs = state.budget;
    store->setLastStoppedSummary(s);
    auto* view = new SummaryView(*store, [] {});
    store->setParent(view);
    view->setFixedHeight(state.height);
    return view;
}

void clickNamed(QWidget* root, const QString& name) {
    for (auto* b : root->findChildren<QAbstractButton*>())
        if (b->accessibleName() == name && b->isVisible()) {
            b->click();
            return;
        }
}

void settleSummary(QWidget* widget, const SummaryState& state) {
    auto* view = static_cast<SummaryView*>(widget);
    if (state.draftDirection)
        clickNamed(view,
                   QString::fromUtf8(state.draftDirection) + QStringLiteral(", Rundungsrichtung"));
    if (state.toggleBillable)
        clickNamed(view, QStringLiteral("Zeit ist abrechenbar"));
    if (state.save != SummaryState::Save::None) {
        environment().useService(state.save == SummaryState::Save::Refused
                                     ? environment().refusing.url()
                                     : environment().silent.url());
        view->startSave();
        QDeadlineTimer deadline(3000);
        while (state.save == SummaryState::Save::Refused && view->isSaving() &&
               !deadline.hasExpired())
            QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    if (state.confirm)
        clickNamed(view, QStringLiteral("Fertig"));
    if (state.focus) {
        view->activateWindow();
        QApplication::processEvents();
        for (auto* b : view->findChildren<QAbstractButton*>())
            if (b->accessibleName() == QString::fromUtf8(state.focus))
                b->setFocus(Qt::TabFocusReason);
    }
    QApplication::processEvents();
}

} // namespace

void addTimerViewShots(Gallery& g) {
    // clang-format off
    const CardState cards[] = {
        {"running"},
        {"running-budget", true, false, 2700, 3 * 3600, 3600},
        {"over-budget", true, false, 5400, 3600, 1800},
        {"running-no-rate", true, false, 725, 0, 0, false},
        {"on-break", false, true, 1800, 7200, 600},
        {"paused", false, false, 1800},
        {"long-word", true, false, 360000, 3600, 0, true, CardState::Names::LongWord},
        {"long-names", true, false, 360000, 3600, 0, true, CardState::Names::Long},
    };
    // clang-format on
    for (const CardState& state : cards)
        for (const bool light : {false, true})
            g.add({.name = QStringLiteral("session-card-") + QString::fromLatin1(state.name) +
                           (light ? QStringLiteral("-light") : QString()),
                   .make = [state, light] { return cardShot(state, light); },
                   .backdrop = light ? Backdrop::Light : Backdrop::Dark,
                   .width = 372});

    for (const bool light : {false, true}) {
        const QString chrome = light ? QStringLiteral("-light") : QString();
        g.add({.name = QStringLiteral("multi-timer") + chrome,
               .make = [light] { return choiceShot(light, true, false); },
               .backdrop = light ? Backdrop::Light : Backdrop::Dark,
               .width = MultiTimerChoiceSheet::kWidth});
        g.add({.name = QStringLiteral("multi-timer-stopping") + chrome,
               .make = [light] { return choiceShot(light, true, true); },
               .backdrop = light ? Backdrop::Light : Backdrop::Dark,
               .width = MultiTimerChoiceSheet::kWidth});
        g.add({.name = QStringLiteral("multi-timer-long-names") + chrome,
               .make = [light] { return choiceShot(light, true, false, true); },
               .backdrop = light ? Backdrop::Light : Backdrop::Dark,
               .width = MultiTimerChoiceSheet::kWidth});
        g.add({.name = QStringLiteral("multi-timer-no-cards") + chrome,
               .make = [light] { return choiceShot(light, false, false); },
               .backdrop = light ? Backdrop::Light : Backdrop::Dark,
               .width = MultiTimerChoiceSheet::kWidth});
    }

    using Save = SummaryState::Save;
    // clang-format off
    const SummaryState summaries[] = {
        {"saved", true, "down", 1, 36000, nullptr, false, false, Save::None, 520},
        {"saved-full"},
        {"not-billable", false},
        {"no-budget", true, "down", 1, 0},
        {"unsaved-down-15", true, "up", 15, 36000, "Abrunden"},
        {"unsaved-up-15", true, "down", 15, 36000, "Aufrunden"},
        {"unsaved-closest-15", true, "down", 15, 36000, "Kaufmännisch"},
        {"unsaved-grid-7", true, "down", 7, 36000, "Aufrunden"},
        {"billable-off-unsaved", true, "down", 1, 36000, nullptr, true},
        {"confirming", true, "down", 1, 36000, "Aufrunden", false, true, Save::None, 520},
        {"saving", true, "down", 1, 36000, "Aufrunden", false, false, Save::Running},
        {"save-error", true, "down", 1, 36000, "Aufrunden", false, false, Save::Refused},
        {"over-budget", true, "up", 30, 7200},
        {"focus-close", true, "down", 1, 36000, nullptr, false, false, Save::None, 520, "Schließen"},
        {"focus-chosen-rounding", true, "down", 1, 36000, nullptr, false, false, Save::None, 1000,
         "Abrunden, Rundungsrichtung"},
        {"focus-other-rounding", true, "down", 1, 36000, nullptr, false, false, Save::None, 1000,
         "Kaufmännisch, Rundungsrichtung"},
        {"short-names", true, "down", 1, 36000, nullptr, false, false, Save::None, 1000, nullptr,
         "Bäckerei Sonnenschein", "Shop-Relaunch", "Produktseiten"},
        {"long-names", true, "down", 1, 36000, nullptr, false, false, Save::None, 1000, nullptr,
         "Nordlicht Design und Kommunikation für nachhaltige Markenentwicklung im Norden",
         "Markenauftritt 2027", "Entwürfe für die Geschäftsausstattung"},
    };
    // clang-format on
    for (const SummaryState& state : summaries)
        g.add({.name = QStringLiteral("summary-") + QString::fromLatin1(state.name),
               .make = [state] { return summaryShot(state); },
               .width = 384,
               .settle = [state](QWidget* w) { settleSummary(w, state); }});
}

} // namespace orvane::gallery
