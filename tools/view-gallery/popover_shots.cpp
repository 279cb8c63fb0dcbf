#include "gallery.h"

#include "platform/clock.h"
#include "platform/in_memory_keychain.h"
#include "platform/user_defaults.h"
#include "store/app_store.h"
#include "store/time_money_helpers.h"
#include "views/kit/chrome.h"
#include "views/kit/palette.h"
#include "views/popover/popover_header.h"
#include "views/popover/popover_root_view.h"
#include "views/popover/popover_views.h"
#include "views/popover/popover_style.h"
#include "views/popover/quick_start_section.h"
#include "views/popover/recent_section.h"
#include "views/popover/shortcut_hints.h"
#include "views/popover/today_card.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPainter>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <limits>

namespace orvane::gallery {

namespace {

RecentTaskItem recent(const char* job, std::optional<QString> number, const char* task,
                      quint32 colour, qint64 today) {
    RecentTaskItem item;
    item.clientId = QStringLiteral("c");
    item.jobId = QString::fromUtf8(job);
    item.taskId = QString::fromUtf8(task);
    item.jobTitle = QString::fromUtf8(job);
    item.jobNumber = std::move(number);
    item.taskTitle = QString::fromUtf8(task);
    item.clientColorHex = colour;
    item.todayTrackedSecs = today;
    return item;
}

std::vector<RecentTaskItem> sevenRecentTasks() {
    return {
        recent("Website-Relaunch", QStringLiteral("2024-017"), "Design Startseite", 0x6366F1, 5400),
        recent("Jahresabschluss", QStringLiteral("A-88"), "Belege sortieren", 0xEC4899, 0),
        recent("App-Wartung", std::nullopt, "Fehler 412 beheben", 0x10B981, 1260),
        recent("", QStringLiteral("K-3"), "Abstimmung", 0xF59E0B, 600),
        recent("", std::nullopt, "Telefonat", 0x22D3EE, 59),
        recent("Sechster", std::nullopt, "nicht sichtbar", 0xF43F5E, 0),
        recent("Siebter", std::nullopt, "nicht sichtbar", 0x6366F1, 0),
    };
}

enum class State { Empty, Loading, Full, Running, Hostile };

void fill(AppStore& store, State state) {
    APIUser user{.id = QStringLiteral("7"), .email = QStringLiteral("ada@orvane.test")};
    user.firstName = QStringLiteral("Ada");
    user.lastName = QStringLiteral("Lovelace");
    if (state == State::Hostile)
        user.name = QStringLiteral("Maximiliane Alexandra von und zu Hohenstaufen-"
                                   "Wittelsbach-Sachsen-Coburg-Gotha-Lauenburg-Schleswig-Holstein");
    store.setCurrentUser(user);
    store.setIsLoggedIn(true);
    switch (state) {
    case State::Empty:
        return;
    case State::Loading:
        store.setIsRefreshingRecentTasks(true);
        return;
    case State::Full:
    case State::Running:
        store.setTodayTotalSecs(4 * 3600 + 35 * 60);
        store.setTodaySessionsCount(6);
        store.setTodayProjectsCount(3);
        store.setTodayBillableEuroCents(34250);
        store.setRecentTasks(sevenRecentTasks());
        break;
    case State::Hostile: {
        const qint64 huge = std::numeric_limits<qint64>::max();
        store.setTodayTotalSecs(huge);
        store.setTodaySessionsCount(huge);
        store.setTodayProjectsCount(huge);
        store.setTodayBillableEuroCents(huge);
        RecentTaskItem item = recent("", std::nullopt, "", 0xFF123456, huge);
        item.jobNumber = QString(300, u'W');
        item.jobTitle = QStringLiteral("Sehr langer Auftragstitel, der nie in eine Zeile passt");
        item.taskTitle = QString(200, u'x');
        store.setRecentTasks({item, recent("  ", QStringLiteral(" \n "), "", 0, -42)});
        break;
    }
    }
    if (state == State::Running) {
        TimerSession session;
        session.id = QUuid::createUuid();
        session.startedAt = platform::Clock::shared().now().addSecs(-(1 * 3600 + 23 * 60));
        session.running = true;
        session.clientId = QStringLiteral("c-1");
        session.clientDisplayName = QStringLiteral("Bergmann & Söhne");
        session.clientInitials = clientInitials(session.clientDisplayName);
        session.clientColorHex = clientColorHex(QStringLiteral("c-1"));
        session.jobTitle = QStringLiteral("Website-Relaunch");
        session.taskTitle = QStringLiteral("Startseite gestalten");
        store.setSessions({session});
    }
}

// The popover as the application shows it: the real root with its views,
// over a store in a scripted state.
class RootShot : public QWidget {
public:
    RootShot(const std::function<void(AppStore&)>& prepare, bool light,
             const std::function<void(PopoverRootView&)>& act = {}) {
        platform::UserDefaults::standard().setBool(QLatin1String(ChromeSetting::kKey), light);
        m_store = std::make_unique<AppStore>();
        prepare(*m_store);
        m_root = new PopoverRootView(*m_store, nullptr, defaultPopoverViews(), this);
        if (act)
            act(*m_root);
        setFixedSize(PopoverRootView::kSize);
    }
    ~RootShot() override { delete m_root; }

private:
    std::unique_ptr<AppStore> m_store;
    PopoverRootView* m_root = nullptr;
};

} // namespace

void addPopoverShots(Gallery& g) {
    isolateFromUser();
    const struct {
        const char* name;
        State state;
    } states[] = {
        {"empty", State::Empty},     {"loading", State::Loading}, {"full", State::Full},
        {"running", State::Running}, {"hostile", State::Hostile},
    };
    const auto add = [&g](const QString& name, bool light, std::function<void(AppStore&)> prepare,
                          std::function<void(PopoverRootView&)> act = {}) {
        g.add({.name = QStringLiteral("popover-%1-%2").arg(name, light ? "light" : "dark"),
               .make = [prepare, act, light] { return new RootShot(prepare, light, act); },
               .backdrop = light ? Backdrop::Light : Backdrop::Dark});
    };
    for (const auto& s : states)
        for (const bool light : {false, true})
            add(QString::fromLatin1(s.name), light,
                [state = s.state](AppStore& store) { fill(store, state); });
    for (const bool light : {false, true}) {
        add(QStringLiteral("signed-out"), light, [](AppStore&) {});
        // The keyboard on a control of the sign-in view, as Tab leaves it.
        for (const char* control : {"signIn", "rememberMe"})
            g.add({.name = QStringLiteral("popover-signed-out-focus-%1-%2")
                               .arg(QLatin1String(control), light ? "light" : "dark"),
                   .make = [light] { return new RootShot([](AppStore&) {}, light); },
                   .backdrop = light ? Backdrop::Light : Backdrop::Dark,
                   .settle =
                       [control](QWidget* shot) {
                           shot->activateWindow();
                           // Filled in, so that "Anmelden" takes the keyboard too.
                           shot->findChild<QLineEdit*>(QStringLiteral("email"))
                               ->setText(QStringLiteral("lena.hoffmann@orvane.test"));
                           shot->findChild<QLineEdit*>(QStringLiteral("password"))
                               ->setText(QStringLiteral("orvane-demo"));
                           QApplication::processEvents();
                           shot->findChild<QWidget*>(QString::fromLatin1(control))
                               ->setFocus(Qt::TabFocusReason);
                           const QDeadlineTimer deadline(100);
                           while (!deadline.hasExpired())
                               QApplication::processEvents(QEventLoop::AllEvents, 20);
                       }});
        add(QStringLiteral("error-line"), light, [](AppStore& store) {
            fill(store, State::Full);
            store.setLoginError(QStringLiteral(
                "Zu viele Anfragen in kurzer Zeit. Bitte warte kurz und versuche es erneut."));
        });
        add(
            QStringLiteral("flow-over-dim-layer"), light,
            [](AppStore& store) { fill(store, State::Full); },
            [](PopoverRootView& root) { root.openSessionFlow(); });
        add(QStringLiteral("multi-timer-over-dim-layer"), light, [](AppStore& store) {
            fill(store, State::Running);
            store.setPendingPick(PendingStart(ClientDTO{.id = QStringLiteral("c")},
                                              JobDTO{.id = QStringLiteral("j")},
                                              JobTaskDTO{.id = QStringLiteral("t")}));
            store.setShowMultiTimerSheet(true);
        });
        // Names as long as real clients have them, in the frame the popover gives.
        add(QStringLiteral("multi-timer-long-names"), light, [](AppStore& store) {
            fill(store, State::Running);
            const QString client = QStringLiteral(
                "Nordlicht Design und Kommunikation für nachhaltige Markenentwicklung im Norden");
            const QString task = QStringLiteral("Entwürfe für die Geschäftsausstattung");
            TimerSession running = store.sessions().front();
            running.clientDisplayName = client;
            running.jobTitle = QStringLiteral("Markenauftritt 2027");
            running.taskTitle = task;
            running.clientInitials = clientInitials(client);
            store.setSessions({running});
            ClientDTO pickClient{.id = QStringLiteral("c")};
            pickClient.customerName = client;
            JobDTO job{.id = QStringLiteral("j")};
            job.title = QStringLiteral("Markenauftritt 2027");
            JobTaskDTO pickTask{.id = QStringLiteral("t")};
            pickTask.title = task;
            store.setPendingPick(PendingStart(pickClient, job, pickTask));
            store.setShowMultiTimerSheet(true);
        });
    }
}

} // namespace orvane::gallery
