#include "store/time_money_helpers.h"
#include "support/tab_walk.h"
#include "support/paint_log.h"
#include "support/await.h"
#include "support/desktop_font_change.h"
#include "support/store_world.h"
#include "views/kit/accessibility.h"
#include "views/kit/activity_spinner.h"
#include "views/kit/fonts.h"
#include "views/kit/chrome.h"
#include "views/kit/key_hints.h"
#include "views/popover/popover_style.h"
#include "views/popover/quick_start_section.h"
#include "views/popover/recent_section.h"
#include "views/popover/section_title.h"
#include "views/popover/shortcut_hints.h"
#include "views/popover/today_card.h"

#include <QFontInfo>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <limits>

using namespace orvane;
using namespace std::chrono_literals;
using test::FakeResponse;

namespace {

constexpr qint64 kHuge = std::numeric_limits<qint64>::max();
const QDateTime kNow(QDate(2026, 3, 2), QTime(10, 0), Qt::UTC);

std::string str(const QString& s) {
    return s.toStdString();
}

RecentTaskItem item(const QString& task, std::optional<QString> jobNumber = std::nullopt,
                    const QString& jobTitle = QStringLiteral("Auftrag")) {
    RecentTaskItem i;
    i.clientId = QStringLiteral("c1");
    i.jobId = QStringLiteral("j1");
    i.taskId = task;
    i.jobNumber = std::move(jobNumber);
    i.jobTitle = jobTitle;
    i.taskTitle = task;
    return i;
}

TimerSession session(bool running, bool onBreak = false) {
    TimerSession s;
    s.id = QUuid::createUuid();
    s.jobTimeServerId = QStringLiteral("jt-1");
    s.startedAt = kNow.addSecs(-30 * 60);
    s.running = running;
    s.onBreak = onBreak;
    s.onBreakSince = onBreak ? std::optional(kNow) : std::nullopt;
    return s;
}

// A signed-in store against the fake service, the shared chrome, and a
// window that holds one section at the popover's inner width.
struct SectionWorld : test::StoreWorld {
    test::ClockScope clock{kNow};
    test::FakeUrlOpener opener;
    ChromeSetting chrome;
    QWidget window;
    int flowsOpened = 0;

    SectionWorld() {
        store().setCurrentUser(APIUser{QStringLiteral("1"), QStringLiteral("a@b.de")});
        store().setIsLoggedIn(true);
        window.setFixedWidth(372);
        new QVBoxLayout(&window);
    }
    ~SectionWorld() {
        // Lets spawned store work finish before the service goes.
        for (std::size_t seen = SIZE_MAX; seen != service.requestCount();) {
            seen = service.requestCount();
            test::spin(100ms);
        }
    }
    PopoverActions actions() {
        return {.openSessionFlow = [this] { ++flowsOpened; }, .startOrStop = {}};
    }
    template <class W> W* place(W* widget) {
        window.layout()->addWidget(widget);
        window.show();
        window.adjustSize();
        QApplication::processEvents();
        return widget;
    }
    std::size_t starts() const { return service.requestsTo("POST", "/api/job-times/start").size(); }
};

void click(QWidget* widget, QPoint at = {}) {
    QTest::mouseClick(widget, Qt::LeftButton, {}, at.isNull() ? widget->rect().center() : at);
}

// ---- Texts and figures ----

TEST(PopoverTexts, HoursAndMinutesAreNeitherPaddedNorWrapped) {
    // clang-format off
    const struct { qint64 secs; const char* shown; const char* spoken; } cases[] = {
        {0, "0:00", "0 Minuten"},         {59, "0:00", "0 Minuten"},         {60, "0:01", "1 Minute"},
        {3599, "0:59", "59 Minuten"},     {28800, "8:00", "8 Stunden"},      {4500, "1:15", "1 Stunde 15"},
        {33300, "9:15", "9 Stunden 15"},  {90000, "25:00", "25 Stunden"},    {360000, "100:00", "100 Stunden"},
        {-1, "0:00", "0 Minuten"},        {-90000, "0:00", "0 Minuten"},
        {kHuge, "2562047788015215:30", "2562047788015215 Stunden 30"},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(str(hourMinuteText(c.secs)), c.shown) << c.secs;
        EXPECT_EQ(str(spokenHoursMinutes(c.secs)), c.spoken) << c.secs;
    }
}

TEST(TodayFigures, BarFillsTowardTheTargetAndStopsFull) {
    const struct {
        qint64 tracked, target;
        double fraction;
    } cases[] = {
        {0, 28800, 0},     {14400, 28800, 0.5}, {28800, 28800, 1},
        {33300, 28800, 1}, {3600, 0, 0},        {3600, -5, 0},
        {kHuge, 1, 1},     {-60, 28800, 0},     {1, kHuge, 1.0 / double(kHuge)},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(todayProgress(c.tracked, c.target), c.fraction)
            << c.tracked << " of " << c.target;
}

TEST(TodayFigures, TargetCountsAndAmountReadAsTheCardShowsThem) {
    EXPECT_EQ(str(todayTargetText(28800)), "/ 8:00 Ziel");
    EXPECT_EQ(str(todayTargetText(0)), "/ 0:00 Ziel");
    EXPECT_EQ(str(todayCountsText(1, 1)), "1 Sessions · 1 Projekte");
    EXPECT_EQ(str(todayCountsText(0, kHuge)), "0 Sessions · 9223372036854775807 Projekte");
    EXPECT_EQ(str(todayBillableText(0)), "+" + str(formatEuro(0)) + " abrechenbar");
    EXPECT_TRUE(todayBillableText(0).contains(QStringLiteral("0,00")));
    EXPECT_TRUE(todayBillableText(34250).contains(QStringLiteral("342,50")));
}

TEST(TodayFigures, MovedOnlyWhenTheCardWouldLookDifferent) {
    const TodayFigures base{.total = "1:30",
                            .target = "/ 8:00 Ziel",
                            .progress = 0.5,
                            .counts = "2 Sessions · 1 Projekte",
                            .billable = "+1,00 € abrechenbar"};
    const auto with = [&](auto change) {
        TodayFigures f = base;
        change(f);
        return f;
    };
    // clang-format off
    const struct { const char* what; TodayFigures now; bool moved; } cases[] = {
        {"nothing", base, false},
        // 344 px: a quarter of a pixel is about 0.00073 of the bar.
        {"a second of an eight-hour day", with([](TodayFigures& f) { f.progress += 1.0 / 28800; }), false},
        {"a pixel of bar", with([](TodayFigures& f) { f.progress += 1.0 / 344; }), true},
        {"a minute", with([](TodayFigures& f) { f.total = "1:31"; }), true},
        {"another target", with([](TodayFigures& f) { f.target = "/ 6:00 Ziel"; }), true},
        {"a session more", with([](TodayFigures& f) { f.counts = "3 Sessions · 1 Projekte"; }), true},
        {"a cent more", with([](TodayFigures& f) { f.billable = "+1,01 € abrechenbar"; }), true},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(todayFiguresMoved(base, c.now, 344), c.moved) << c.what;
}

TEST(TodayCard, TheStoresSecondRedrawsNothingUntilAFigureMoves) {
    SectionWorld w;
    TimerSession running = session(true);
    w.store().setSessions({running});
    auto* card = w.place(new TodayCard(w.store(), w.chrome));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.window));
    test::spin(20ms);
    test::PaintLog log(card);
    for (int second = 1; second <= 3; ++second) {
        w.clock.advance(1000);
        running.elapsedSecs += 1;
        w.store().setSessions({running});
    }
    test::spin(30ms);
    EXPECT_TRUE(log.regions.empty());

    w.clock.advance(60 * 1000); // the total's minute turns
    running.elapsedSecs += 60;
    w.store().setSessions({running});
    test::spin(30ms);
    EXPECT_FALSE(log.regions.empty());
    log.clear();
    w.store().setTodayBillableEuroCents(12345);
    test::spin(30ms);
    EXPECT_FALSE(log.regions.empty());
}

TEST(TodayCard, TotalCountsTheRunningSessionAtTheCurrentMoment) {
    SectionWorld w;
    w.store().setTodayTotalSecs(3600);
    w.store().setTodaySessionsCount(2);
    w.store().setTodayProjectsCount(1);
    auto* card = w.place(new TodayCard(w.store(), w.chrome));
    EXPECT_EQ(str(card->figures().total), "1:00");
    EXPECT_DOUBLE_EQ(card->figures().progress, 3600.0 / 28800);

    w.store().setSessions({session(true)});
    EXPECT_EQ(str(card->figures().total), "1:30");
    w.clock.advance(15 * 60 * 1000);
    EXPECT_EQ(str(card->figures().total), "1:45");
    EXPECT_DOUBLE_EQ(card->figures().progress, 6300.0 / 28800);
    EXPECT_EQ(str(card->figures().counts), "2 Sessions · 1 Projekte");
}

TEST(TodayCard, RedrawsEverySecondOnlyWhileShownAndASessionMoves) {
    SectionWorld w;
    auto* card = new TodayCard(w.store(), w.chrome);
    w.store().setSessions({session(true)});
    EXPECT_FALSE(card->isTicking()); // not on screen yet
    w.place(card);
    EXPECT_TRUE(card->isTicking());
    w.window.hide();
    EXPECT_FALSE(card->isTicking());
    w.window.show();
    EXPECT_TRUE(card->isTicking());

    const struct {
        std::vector<TimerSession> sessions;
        bool ticking;
    } cases[] = {
        {{}, false},
        {{session(false)}, false}, // paused: the figure stands still
        {{session(false, true)}, true},
        {{session(false), session(true)}, true},
    };
    for (const auto& c : cases) {
        w.store().setSessions(c.sessions);
        EXPECT_EQ(card->isTicking(), c.ticking) << c.sessions.size();
    }
}

TEST(TodayCard, TakesTheDesktopsNewFontAsTheKeptFontsDo) {
    const QString serif = QStringLiteral("DejaVu Serif");
    const struct {
        const char* name;
        bool shown; // else no window hears of the change: the next use must see it
        bool generalToo;
    } cases[] = {
        {"shown", true, true},
        {"no window", false, true},
        {"only the fixed font, no window", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SectionWorld w;
        w.store().setTodayTotalSecs(3600);
        auto* card = new TodayCard(w.store(), w.chrome);
        if (c.shown) {
            w.place(card);
        } else {
            w.window.layout()->addWidget(card);
        }
        const QImage before = card->grab().toImage();
        ASSERT_EQ(QGuiApplication::allWindows().isEmpty(), !c.shown);
        {
            QSignalSpy told(&DesktopFonts::shared(), &DesktopFonts::changed);
            test::DesktopFontChange change(serif, c.generalToo);
            EXPECT_FALSE(card->grab().toImage() == before) << "drawn with the old font";
            EXPECT_EQ(told.count(), 1);
            EXPECT_EQ(QFontInfo(systemFont(12)).family() == serif, c.generalToo);
            EXPECT_EQ(str(QFontInfo(monospacedFont(34)).family()), str(serif));
        }
        EXPECT_TRUE(card->grab().toImage() == before) << "the old font is not back";
    }
}

TEST(TodayCard, ItsGlowReachesPastTheTopTrailingCornerOverWhatLiesAbove) {
    SectionWorld w;
    w.window.setFixedWidth(400);
    w.window.layout()->setContentsMargins(14, 40, 14, 14);
    w.window.setAutoFillBackground(true);
    QPalette ground = w.window.palette();
    ground.setColor(QPalette::Window, QColor(15, 16, 24));
    w.window.setPalette(ground);
    auto* above = new QWidget; // a section above the card, drawn before it
    above->setFixedHeight(20);
    w.window.layout()->addWidget(above);
    auto* card = w.place(new TodayCard(w.store(), w.chrome));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.window));
    ASSERT_TRUE(card->outerGlow());
    EXPECT_TRUE(card->outerGlow()->testAttribute(Qt::WA_TransparentForMouseEvents));
    const auto pixel = [&](QPoint inCard) {
        return w.window.grab().toImage().pixelColor(card->mapTo(&w.window, inCard));
    };
    const QPoint corner(card->width() - 1, 0);
    const QColor beyond = pixel(corner + QPoint(8, -8));   // past the corner, in the margin
    const QColor onAbove = pixel(corner + QPoint(-4, -8)); // over the section above
    const QColor far = pixel(QPoint(4, -8));               // above the card's leading edge
    EXPECT_EQ(far, QColor(15, 16, 24));
    EXPECT_GT(beyond.blue(), 24 + 12) << "violet past the corner";
    EXPECT_GT(beyond.blue(), beyond.green() + 8);
    EXPECT_GT(onAbove.blue(), 24 + 8);
    QApplication::processEvents();
    // It follows the card, and goes with it.
    card->hide();
    EXPECT_FALSE(card->outerGlow()->isVisible());
    card->show();
    EXPECT_TRUE(card->outerGlow()->isVisible());
    const QPointer<QWidget> glow = card->outerGlow();
    delete card;
    EXPECT_FALSE(glow);
}

// ---- Recent tasks ----

TEST(RecentTasks, FirstLineJoinsNumberAndTitleTrimmed) {
    const struct {
        std::optional<QString> number;
        QString title;
        const char* line;
    } cases[] = {
        {std::nullopt, "", "—"},
        {" \n", " \t", "—"},
        {"", "Website", "Website"},
        {" 2024-017\n", "", "2024-017"},
        {"2024-017", "  Website  ", "2024-017 – Website"},
        {std::nullopt, "\nWebsite", "Website"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(str(recentJobLine(item("t", c.number, c.title))), c.line) << c.line;
}

TEST(RecentTasks, StripColourReadsRedGreenBlueAndIgnoresHigherBits) {
    const struct {
        quint32 hex;
        QColor colour;
    } cases[] = {
        {0, QColor(0, 0, 0)},
        {0x123456, QColor(0x12, 0x34, 0x56)},
        {0xFF123456, QColor(0x12, 0x34, 0x56)},
        {0xFFFFFFFF, QColor(255, 255, 255)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(clientStripColor(c.hex), c.colour) << c.hex;
}

TEST(RecentTasks, LoadingRowListOrEmptyTextAndAtMostFiveRowsInStoreOrder) {
    std::vector<RecentTaskItem> seven;
    for (int i = 1; i <= 7; ++i)
        seven.push_back(item(QStringLiteral("T%1").arg(i)));
    const struct {
        bool refreshing;
        std::size_t tasks;
        RecentContent content;
    } cases[] = {
        {false, 0, RecentContent::Empty}, {true, 0, RecentContent::Loading},
        {true, 2, RecentContent::List},   {false, 5, RecentContent::List},
        {false, 7, RecentContent::List},  {false, 1, RecentContent::List},
        {false, 0, RecentContent::Empty},
    };
    SectionWorld w;
    auto* section = w.place(new RecentSection(w.store(), w.chrome, w.actions()));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.tasks) + (c.refreshing ? " refreshing" : ""));
        EXPECT_EQ(recentContent(c.refreshing, c.tasks > 0), c.content);
        w.store().setRecentTasks({seven.begin(), seven.begin() + std::ptrdiff_t(c.tasks)});
        w.store().setIsRefreshingRecentTasks(c.refreshing);
        EXPECT_EQ(section->shownContent(), c.content);
        std::vector<QString> shown;
        for (RecentRow* row : section->shownRows()) {
            EXPECT_TRUE(row->isVisible());
            shown.push_back(row->item().taskId);
        }
        std::vector<QString> expected;
        for (std::size_t i = 0; i < std::min<std::size_t>(c.tasks, 5); ++i)
            expected.push_back(seven[i].taskId);
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(section->spinner()->isSpinning(), c.content == RecentContent::Loading);
    }
}

TEST(RecentTasks, AlleOpensTheServiceAddressOnlyWhenItFormsAURL) {
    const struct {
        QString configured;
        std::optional<QString> opened;
    } cases[] = {
        {"https://app.orvane.test/", "https://app.orvane.test"},
        {"  http://127.0.0.1:8080//\n", "http://127.0.0.1:8080"},
        {"https://exa mple.test", std::nullopt},
        {"http://%zz", std::nullopt},
        {"app.orvane.test", std::nullopt},
        {"", QStringLiteral("https://app.orvane.example")}, // the built-in address
    };
    SectionWorld w;
    auto* section = w.place(new RecentSection(w.store(), w.chrome, w.actions()));
    for (const auto& c : cases) {
        SCOPED_TRACE(str(c.configured));
        w.defaults->setString(QStringLiteral("orvane_api_base_url"), c.configured);
        w.opener.opened.clear();
        click(section->allButton());
        std::vector<QUrl> expected;
        if (c.opened)
            expected.push_back(QUrl(*c.opened));
        EXPECT_EQ(w.opener.opened, expected);
    }
}

TEST(RecentTasks, AlleOpensOnlyWebAddressesAndSaysSoWhenNothingOpens) {
    const QString refused = "Nur http- und https-Adressen werden im Browser geöffnet.";
    const std::tuple<QString, bool, bool, std::optional<QString>> cases[] = {
        // address, a browser is there, handed to the desktop, error line
        {"HTTPS://App.Orvane.test", true, true, std::nullopt},
        {"file:///home/ada/.ssh/id_ed25519", true, false, refused},
        {"mailto:boss@example.test?attach=/etc/passwd", true, false, refused},
        {"https://app.orvane.test", false, true, "Der Browser konnte nicht geöffnet werden."},
        {"http://%zz", false, false, std::nullopt}, // no address: nothing to say
    };
    SectionWorld w;
    auto* section = w.place(new RecentSection(w.store(), w.chrome, w.actions()));
    for (const auto& [address, browser, handed, error] : cases) {
        SCOPED_TRACE(str(address));
        w.defaults->setString(QStringLiteral("orvane_api_base_url"), address);
        w.opener.opened.clear();
        w.opener.succeeds = browser;
        w.store().setLoginError(std::nullopt);
        click(section->allButton());
        EXPECT_EQ(w.opener.opened.size(), handed ? 1u : 0u);
        EXPECT_EQ(w.store().loginError(), error);
    }
}

TEST(RecentTasks, PlayStartsTheTimerForThatRowOnceHoweverOftenItIsClicked) {
    SectionWorld w;
    FakeResponse started =
        FakeResponse::json(200, R"({"data":{"id":"jt-9","start_time":"2026-03-02T10:00:00Z"}})");
    started.delay = 300ms;
    w.service.on("POST", "/api/job-times/start", started);
    w.store().setRecentTasks({item("T1"), item("T2"), item("T3")});
    auto* section = w.place(new RecentSection(w.store(), w.chrome, w.actions()));
    RecentRow* second = section->shownRows().at(1);

    click(second, QPoint(20, second->height() / 2)); // the row itself is not a button
    test::spin(50ms);
    EXPECT_TRUE(w.haptics.played.empty());
    EXPECT_EQ(w.starts(), 0u);

    click(second->playButton());
    click(second->playButton());
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.store().sessions().size() == 1; }));
    test::spin(400ms);
    EXPECT_EQ(w.starts(), 1u);
    const QJsonDocument sent = w.service.requestsTo("POST", "/api/job-times/start")[0].json();
    EXPECT_EQ(sent["jobtask_id"], "T2");
    EXPECT_EQ(sent["client_id"], "c1");
    EXPECT_EQ(w.haptics.played,
              (std::vector{platform::HapticPattern::Generic, platform::HapticPattern::Generic}));
}

TEST(RecentTasks, PlayWhileATimerRunsRaisesTheChoiceInstead) {
    SectionWorld w;
    w.service.on("GET", "/api/job-tasks/T2",
                 FakeResponse::json(200, R"({"data":{"id":"T2","title":"Zwei",)"
                                         R"("job":{"id":"j1","client":{"id":"c1"}}}})"));
    w.store().setSessions({session(true)});
    w.store().setRecentTasks({item("T1"), item("T2")});
    auto* section = w.place(new RecentSection(w.store(), w.chrome, w.actions()));
    click(section->shownRows().at(1)->playButton());
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.store().showMultiTimerSheet(); }));
    ASSERT_TRUE(w.store().pendingPick());
    EXPECT_EQ(str(w.store().pendingPick()->task.id), "T2");
    EXPECT_EQ(w.starts(), 0u);
    EXPECT_EQ(w.store().sessions().size(), 1u);
}

// ---- Quick start and footer ----

TEST(QuickStart, NewTimerPlaysTheHapticAndOpensTheFlowOncePerClick) {
    SectionWorld w;
    auto* section = w.place(new QuickStartSection(w.store(), w.chrome, w.actions()));
    click(section->newTimerButton());
    EXPECT_EQ(w.flowsOpened, 1);
    EXPECT_EQ(w.haptics.played, std::vector{platform::HapticPattern::Generic});
    click(section->newTimerButton());
    EXPECT_EQ(w.flowsOpened, 2);
}

TEST(QuickStart, TheWholeSectionSwitchesChromeAtOnce) {
    SectionWorld w;
    w.chrome.setLight(false);
    // On a mid-grey ground, so that only the row's own fill tells the chromes apart.
    QPalette ground = w.window.palette();
    ground.setColor(QPalette::Window, QColor(128, 128, 128));
    w.window.setPalette(ground);
    auto* section = w.place(new QuickStartSection(w.store(), w.chrome, w.actions()));
    NewTimerButton* row = section->newTimerButton();
    const QPoint inside(row->width() - 40, 6);
    const QColor dark = row->grab().toImage().pixelColor(inside);
    w.chrome.setLight(true);
    const QColor light = row->grab().toImage().pixelColor(inside);
    EXPECT_LT(dark.lightness(), 150);
    EXPECT_GT(light.lightness(), 220);
}

TEST(ShortcutHints, FooterNamesBothShortcutsAsTheDesktopMapsThem) {
    EXPECT_EQ(footerShortcutHints(),
              (std::vector<ShortcutHint>{{"Start/Stopp", u'T'}, {"Neu", u'N'}}));
    EXPECT_EQ(shortcutModifierLabels(), (QStringList{"Strg", "⇧"}));
    EXPECT_EQ(str(shortcutText(u'N')), "Strg+⇧+N");
    EXPECT_EQ(mutedTextColor(true), QColor(156, 163, 175));
    EXPECT_EQ(mutedTextColor(false), QColor(107, 122, 143));
}

TEST(ActivitySpinner, TurnsOnlyWhileOnScreen) {
    QWidget window;
    auto* spinner = new ActivitySpinner(Qt::gray, &window);
    EXPECT_FALSE(spinner->isSpinning());
    window.show();
    EXPECT_TRUE(spinner->isSpinning());
    const int before = spinner->leadingSpoke();
    EXPECT_TRUE(test::eventuallyTrue([&] { return spinner->leadingSpoke() != before; }));
    window.hide();
    EXPECT_FALSE(spinner->isSpinning());
}

} // namespace

// What a screen reader is told of the sections, and Return on their buttons.
TEST(PopoverSections, AScreenReaderHearsEachTextWithItsRoleAndReturnPressesEachButton) {
    SectionWorld w;
    w.store().setTodaySessionsCount(1);
    w.store().setTodayTotalSecs(16500);
    RecentTaskItem draft = item(QStringLiteral("Entwurf"), QStringLiteral("A-1"));
    draft.todayTrackedSecs = 4800;
    w.store().setRecentTasks({draft, item(QStringLiteral("Review"), QStringLiteral("A-1"))});
    auto* today = w.place(new TodayCard(w.store(), w.chrome));
    auto* quick = w.place(new QuickStartSection(w.store(), w.chrome, w.actions()));
    auto* recent = w.place(new RecentSection(w.store(), w.chrome, w.actions()));
    const auto rows = recent->shownRows();
    ASSERT_EQ(rows.size(), 2u);
    using R = QAccessible::Role;
    const std::pair<QObject*, std::pair<R, QString>> heard[] = {
        {today,
         {R::StaticText,
          QString::fromUtf16(
              u"Heute erfasst 4 Stunden 35 von 8 Stunden Ziel, 1 Session, 0 Projekte, "
              u"0,00\u00a0€ abrechenbar")}},
        {quick->findChild<SectionTitle*>(), {R::Heading, "SCHNELLSTART"}},
        {rows[0], {R::ListItem, "A-1 – Auftrag, Entwurf, heute 1 Stunde 20"}},
        {rows[0]->playButton(), {R::Button, "Starten: Entwurf – A-1 – Auftrag"}},
        {rows[1], {R::ListItem, "A-1 – Auftrag, Review, heute 0 Minuten"}},
    };
    for (const auto& [object, spoken] : heard)
        EXPECT_EQ(test::heard(object), spoken);
    for (QWidget* section : {static_cast<QWidget*>(quick), static_cast<QWidget*>(recent)})
        EXPECT_EQ(QAccessible::queryAccessibleInterface(section)->child(0)->role(), R::Heading);
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{
             quick->newTimerButton(), recent->allButton(), rows[1]->playButton()})
        EXPECT_EQ(test::pressesOnReturn(button), 1);
    EXPECT_EQ(w.flowsOpened + w.opener.opened.size(), 2u);
    EXPECT_TRUE(test::eventuallyTrue([&] { return w.starts() == 1; }));
}
