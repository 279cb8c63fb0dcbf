#include "gallery.h"

#include "platform/clock.h"
#include "platform/in_memory_keychain.h"
#include "platform/user_defaults.h"
#include "store/app_store.h"
#include "views/kit/chrome.h"
#include "views/kit/palette.h"
#include "views/popover/popover_header.h"
#include "views/popover/popover_style.h"
#include "views/popover/quick_start_section.h"
#include "views/popover/recent_section.h"
#include "views/popover/shortcut_hints.h"
#include "views/popover/today_card.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <limits>

namespace orvane::gallery {

namespace {

// The shots' stores and chrome settings read and write preferences: a file of
// their own and an empty keychain, never the user's.
void isolate() {
    static QTemporaryDir dir;
    static platform::UserDefaults defaults(dir.path() + QStringLiteral("/defaults.json"));
    static platform::InMemoryKeychain keychain;
    platform::UserDefaults::overrideStandard(&defaults);
    platform::Keychain::overrideShared(&keychain);
}

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
        store.setSessions({session});
    }
}

// The signed-in popover's column as the root lays it out: header, the
// sections, the footer, on the chrome's background.
class PopoverColumn : public QWidget {
public:
    PopoverColumn(State state, bool light) {
        auto* store = new AppStore(this);
        fill(*store, state);
        auto* chrome = new ChromeSetting(this);
        chrome->setLight(light);
        m_light = light;
        setFixedWidth(400);

        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        auto* header = new PopoverHeader(*store, *chrome, {}, this);
        auto* headerRow = new QVBoxLayout;
        headerRow->setContentsMargins(14, 10, 14, 8);
        headerRow->addWidget(header);
        column->addLayout(headerRow);

        auto* sections = new QVBoxLayout;
        sections->setContentsMargins(14, 8, 14, 10);
        sections->setSpacing(14);
        sections->addWidget(new TodayCard(*store, *chrome, this));
        sections->addWidget(new QuickStartSection(*store, *chrome, {}, this));
        sections->addWidget(new RecentSection(*store, *chrome, {}, this));
        column->addLayout(sections);
        column->addStretch(1);

        m_footer = new QWidget(this);
        auto* footer = new QVBoxLayout(m_footer);
        footer->setContentsMargins(10, 10, 10, 10);
        footer->addWidget(new ShortcutHints(*chrome, m_footer));
        column->addWidget(m_footer);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), m_light ? QColor(Qt::white) : QColor(15, 16, 24));
        p.fillRect(m_footer->geometry(), m_light ? QColor(0, 0, 0, 10) : QColor(0, 0, 0, 51));
    }

private:
    bool m_light = false;
    QWidget* m_footer = nullptr;
};

} // namespace

void addPopoverShots(Gallery& g) {
    isolate();
    const struct {
        const char* name;
        State state;
    } states[] = {
        {"empty", State::Empty},     {"loading", State::Loading}, {"full", State::Full},
        {"running", State::Running}, {"hostile", State::Hostile},
    };
    for (const auto& s : states)
        for (const bool light : {false, true})
            g.add({.name = QStringLiteral("popover-%1-%2")
                               .arg(QString::fromLatin1(s.name), light ? "light" : "dark"),
                   .make = [state = s.state, light] { return new PopoverColumn(state, light); },
                   .backdrop = light ? Backdrop::Light : Backdrop::Dark});
}

} // namespace orvane::gallery
