#include "service/orvane_api_config.h"
#include "store/app_store.h"
#include "support/announced.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/paint_log.h"
#include "support/temp_user_defaults.h"
#include "support/tab_walk.h"
#include "views/kit/pulsing_dot.h"
#include "views/popover/active_session_card.h"
#include "views/popover/popover_root_view.h"
#include "views/popover/popover_views.h"
#include "views/popover/shortcut_hints.h"
#include "views/popover/web_view_coordinator.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QAuthenticator>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>
#include <QTest>
#include <QtNetwork/private/qauthenticator_p.h>

#include <gtest/gtest.h>

#include <functional>

using namespace orvane;
using namespace std::chrono_literals;
using test::FakeResponse;

namespace {

const QDateTime kNow(QDate(2026, 3, 2), QTime(11, 0), Qt::UTC);

TimerSession session(const char* id, bool running = true, bool onBreak = false) {
    TimerSession s;
    s.id = stableUUID(QString::fromLatin1(id));
    s.jobTimeServerId = QString::fromLatin1(id);
    s.startedAt = kNow.addSecs(-600);
    s.running = running && !onBreak;
    s.onBreak = onBreak;
    if (onBreak)
        s.onBreakSince = kNow.addSecs(-60);
    return s;
}

// A panel standing in for the real ones: a named widget with a field that
// can take the keyboard.
QWidget* stand(const char* name, QWidget* parent) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(QString::fromLatin1(name));
    auto* field = new QLineEdit(panel);
    field->setObjectName(QString::fromLatin1(name) + QStringLiteral("Field"));
    return panel;
}

// Counts the presses of printable keys that reach the widget it watches.
class KeyCounter : public QObject {
public:
    KeyCounter(int* seen, QObject* parent) : QObject(parent), seen_(seen) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        // The letter itself; QTest presses the modifiers as keys of their own.
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() < Qt::Key_Escape)
            ++*seen_;
        return false;
    }

private:
    int* seen_;
};

struct Root {
    test::ClockScope clock{kNow};
    test::FakeService service;
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    test::FakeHaptics haptics;
    std::unique_ptr<AppStore> store;
    std::unique_ptr<QLineEdit> outside; // where keys go that the root lets pass
    std::unique_ptr<PopoverRootView> root;
    std::optional<QUuid> flowDone;

    explicit Root(bool signedIn = true, const std::function<void(PopoverViews&)>& adjust = {}) {
        for (const char* path : {"/api/clients", "/api/job-times/active", "/api/job-times",
                                 "/api/job-times/invoiceable-summary"})
            service.on("GET", path, FakeResponse::json(200, R"({"data":[]})"));
        service.on("PATCH", "/api/job-times/j1/stop",
                   FakeResponse::json(200, R"({"data":{"id":"j1"}})"));
        defaults->setString(OrvaneAPIConfig::kBaseURLKey, service.baseURL());
        store = std::make_unique<AppStore>();
        if (signedIn) {
            store->api().setToken(QStringLiteral("t"));
            store->setCurrentUser(APIUser{.id = "42", .email = "ada@example.com"});
            store->setIsLoggedIn(true);
        }
        PopoverViews views;
        views.login = [](PopoverRootView&, QWidget* p) { return stand("login", p); };
        views.header = [](PopoverRootView&, QWidget* p) { return stand("header", p); };
        views.sessionFlow = [this](PopoverRootView&, std::function<void(std::optional<QUuid>)> done,
                                   QWidget* p) {
            QWidget* flow = stand("flow", p);
            QObject::connect(flow->findChild<QLineEdit*>(), &QLineEdit::returnPressed, flow,
                             [done] { done(std::nullopt); });
            return flow;
        };
        views.multiTimer = [](PopoverRootView&, QWidget* p) { return stand("multiTimer", p); };
        views.summary = [](PopoverRootView&, std::function<void()>, QWidget* p) {
            return stand("summary", p);
        };
        views.card = [](PopoverRootView&, QWidget* p) { return stand("card", p); };
        views.footer = [](PopoverRootView& root, QWidget* p) -> QWidget* {
            return new ShortcutHints(root.chrome(), p);
        };
        views.updateCard = [](QWidget* card, const TimerSession& s, bool) {
            card->setProperty("session", s.jobTimeServerId);
        };
        views.dimLayerInert = [](QWidget* panel) { return panel->property("busy").toBool(); };
        if (adjust)
            adjust(views);
        root = std::make_unique<PopoverRootView>(*store, nullptr, views);
    }
    ~Root() {
        root.reset();
        store.reset();
        test::spin(20ms);
        OrvaneAPIClient::session().manager().clearConnectionCache();
    }

    // Shows the root and lets the refresh that showing starts run to its end.
    void show() {
        root->show();
        QApplication::setActiveWindow(root.get());
        settle();
    }
    // Lets the refresh that showing starts run to its end.
    void settle() {
        size_t seen = service.requestCount();
        for (int quiet = 0; quiet < 4;) {
            test::spin(25ms);
            const size_t now = service.requestCount();
            quiet = now == seen && !store->isRefreshing() ? quiet + 1 : 0;
            seen = now;
        }
    }
    QString overlayName() const {
        return root->overlayPanel() ? root->overlayPanel()->objectName() : QString();
    }
    void clickDim() {
        QWidget* dim = root->childAt(5, 5);
        ASSERT_TRUE(dim);
        QTest::mouseClick(dim, Qt::LeftButton, {}, QPoint(5, 5));
    }
    size_t syncs() const { return service.requestsTo("GET", "/api/job-times/active").size(); }
    size_t dashboardRefreshes() const {
        return service.requestsTo("GET", "/api/job-times/invoiceable-summary").size();
    }
};

} // namespace

// ---- Decisions ----

TEST(PopoverRootState, PanelsAndTheirDismissalFollowThePrecedence) {
    const struct {
        bool flow, multi, summary;
        OverlayPanel shown;
        Dismissal dismissal;
    } cases[] = {
        {false, false, false, OverlayPanel::None, Dismissal::Nothing},
        {true, true, true, OverlayPanel::SessionFlow, Dismissal::CloseSessionFlow},
        {false, true, true, OverlayPanel::MultiTimer, Dismissal::DropPendingStart},
        {false, false, true, OverlayPanel::Summary, Dismissal::CloseSummary},
        {true, false, true, OverlayPanel::SessionFlow, Dismissal::CloseSessionFlow},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(overlayPanelFor(c.flow, c.multi, c.summary), c.shown);
        EXPECT_EQ(dismissalFor(c.flow, c.multi, c.summary), c.dismissal);
    }
    EXPECT_EQ(mainPanelFor(false), MainPanel::SignIn);
    EXPECT_EQ(mainPanelFor(true), MainPanel::MainColumn);
}

TEST(PopoverRootState, StartOrStopActsOnTheCurrentSession) {
    const TimerSession running = session("j1");
    const TimerSession onBreak = session("j1", true, true);
    const TimerSession paused = session("j1", false);
    EXPECT_EQ(startOrStopAction(false, &running), StartStopAction::Nothing);
    EXPECT_EQ(startOrStopAction(true, nullptr), StartStopAction::OpenSessionFlow);
    EXPECT_EQ(startOrStopAction(true, &onBreak), StartStopAction::ResumeFromBreak);
    EXPECT_EQ(startOrStopAction(true, &running), StartStopAction::Stop);
    EXPECT_EQ(startOrStopAction(true, &paused), StartStopAction::Nothing);
    EXPECT_EQ(syncLoopKey(true, 2), "true2");
    EXPECT_EQ(syncLoopKey(false, 0), "false0");
    EXPECT_EQ(syncLoopInterval(0), 18s);
    EXPECT_EQ(syncLoopInterval(3), 22s);
}

TEST(PopoverRootState, TimerAnnouncementsSayStartsAndStopsButNoTicks) {
    TimerSession entwurf = session("j1");
    entwurf.taskTitle = QStringLiteral(" Entwürfe ");
    entwurf.clientDisplayName = QStringLiteral("Acme");
    TimerSession counted = entwurf;
    counted.elapsedSecs += 60;
    TimerSession other = session("j2");
    const std::optional<TimerSession> none;
    const struct {
        std::optional<TimerSession> before, now;
        bool summary;
        std::optional<QString> said;
    } cases[] = {
        {none, entwurf, false, "Timer läuft: Entwürfe für Acme"},
        {entwurf, counted, false, std::nullopt},
        {entwurf, other, false, "Timer läuft"}, // untitled, no client
        {entwurf, none, false, "Timer gestoppt"},
        {entwurf, none, true, std::nullopt}, // the summary says it
        {none, none, false, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(timerAnnouncement(c.before, c.now, c.summary), c.said);
}

// ---- The root on screen ----

TEST(PopoverRoot, MainPanelFollowsTheSignInState) {
    Root r(false);
    EXPECT_EQ(r.root->mainPanel()->objectName(), "signInPanel");
    EXPECT_TRUE(r.root->mainPanel()->findChild<QWidget*>("login"));
    EXPECT_FALSE(r.root->mainPanel()->findChild<QWidget*>("header"));
    // The opened popover's keyboard goes to the sign-in form.
    EXPECT_EQ(r.root->focusProxy(), r.root->mainPanel()->findChild<QWidget*>("login"));
    r.store->setIsLoggedIn(true);
    test::spin(5ms);
    EXPECT_EQ(r.root->focusProxy(), nullptr);
    EXPECT_EQ(r.root->mainPanel()->objectName(), "mainColumn");
    EXPECT_TRUE(r.root->mainPanel()->findChild<QWidget*>("header"));
    EXPECT_EQ(r.root->size(), QSize(400, 560));
}

TEST(PopoverRoot, PanelCornersAreCutWithSmoothEdges) {
    Root r;
    r.show();
    r.root->openSessionFlow();
    QWidget* panel = r.root->overlayPanel();
    ASSERT_TRUE(panel);
    panel->setAutoFillBackground(true); // a red panel: its edge is easy to tell
    QPalette red = panel->palette();
    red.setColor(QPalette::Window, Qt::red);
    panel->setPalette(red);
    const QImage picture = r.root->grab().toImage();
    // The bottom-leading corner: the stand-in's field sits at the top.
    const QPoint corner = panel->mapTo(r.root.get(), QPoint(0, panel->height() - 1));
    EXPECT_LT(picture.pixelColor(corner).red(), 40) << "the corner itself is cut away";
    EXPECT_EQ(picture.pixelColor(corner + QPoint(16, -16)).red(), 255);
    // Where the arc crosses pixels, they blend panel and what lies beneath.
    int blended = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if (const int red = picture.pixelColor(corner + QPoint(x, -y)).red();
                red > 70 && red < 200)
                ++blended;
    EXPECT_GE(blended, 6);
    // A partial redraw shows what a whole one shows. One clear of the corners
    // (a clock inside, a dot beneath) draws only its own part; one over a
    // corner's rounding is still cut.
    panel->findChild<QLineEdit*>()->clearFocus(); // its caret would blink in the corner
    const auto onScreen = [&] {
        return r.root->screen()
            ->grabWindow(r.root->winId())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    r.root->update();
    test::untilDrawn();
    const QImage whole = onScreen();
    const struct {
        const char* name;
        QRect part;
        bool alone;
    } redraws[] = {
        {"inside", QRect(panel->rect().center(), QSize(4, 4)), true},
        {"on the rounding", QRect(3, panel->height() - 11, 8, 8), false},
    };
    for (const auto& d : redraws) {
        SCOPED_TRACE(d.name);
        test::PaintLog field(panel->findChild<QLineEdit*>()), ground(panel);
        panel->update(d.part);
        test::untilDrawn();
        ASSERT_FALSE(ground.regions.empty());
        if (d.alone) {
            EXPECT_TRUE(field.regions.empty());
        }
        EXPECT_TRUE(onScreen() == whole);
    }
}

TEST(PopoverRoot, FooterHintsSitAtTheLeadingEdge) {
    Root r;
    r.show();
    auto* footer = r.root->findChild<QWidget*>(QStringLiteral("footer"));
    ASSERT_TRUE(footer);
    auto* hints = footer->findChild<ShortcutHints*>();
    ASSERT_TRUE(hints);
    EXPECT_EQ(footer->width(), 400);
    EXPECT_EQ(hints->x(), 10);
    EXPECT_LT(hints->width(), footer->width() - 20) << "the space left over follows the hints";
}

// A sign-out from under an open flow (the service ended the token) leaves
// the sign-in view free: the store has cleared the other panels already.
TEST(PopoverRoot, SigningOutTakesTheSessionFlowAway) {
    Root r;
    r.show();
    r.root->openSessionFlow();
    ASSERT_EQ(r.overlayName(), "flow");
    r.store->signOut();
    EXPECT_EQ(r.root->mainPanel()->objectName(), "signInPanel");
    EXPECT_EQ(r.root->shownOverlay(), OverlayPanel::None);
    EXPECT_FALSE(r.root->dimLayerShown());
    EXPECT_FALSE(r.root->showSessionFlow());
    r.store->setIsLoggedIn(true);
    EXPECT_EQ(r.root->shownOverlay(), OverlayPanel::None) << "the next sign-in opens no flow";
}

TEST(PopoverRoot, ClicksOnTheDimLayerCloseThePanelsOneByOne) {
    Root r;
    r.show();
    StoppedSummary summary;
    summary.jobTimeServerId = QStringLiteral("j1");
    r.store->setLastStoppedSummary(summary);
    r.root->openSessionFlow();
    EXPECT_EQ(r.overlayName(), "flow");
    EXPECT_TRUE(r.root->dimLayerShown());
    // Screen readers review what is showing, covered or not.
    const auto covered = [&] {
        return QAccessible::queryAccessibleInterface(r.root->mainPanel())->state().invisible;
    };
    EXPECT_TRUE(covered());
    const QPointer<QWidget> frame = r.root->overlayPanel()->parentWidget();

    r.clickDim();
    EXPECT_EQ(r.overlayName(), "summary") << "the summary waited behind the flow";
    EXPECT_TRUE(r.root->dimLayerShown());

    const size_t before = r.dashboardRefreshes();
    r.store->setShowMultiTimerSheet(true);
    r.store->setPendingPick(
        PendingStart(ClientDTO{.id = "c1"}, JobDTO{.id = "jb"}, JobTaskDTO{.id = "t"}));
    EXPECT_EQ(r.overlayName(), "multiTimer");
    r.clickDim();
    EXPECT_EQ(r.store->pendingPick(), std::nullopt);
    EXPECT_FALSE(r.store->showMultiTimerSheet());
    EXPECT_EQ(r.overlayName(), "summary");
    test::spin(100ms);
    EXPECT_EQ(r.dashboardRefreshes(), before) << "dropping a pending start refreshes nothing";

    r.clock.advance(3000); // past the refreshes' throttle
    r.clickDim();
    EXPECT_EQ(r.store->lastStoppedSummary(), std::nullopt);
    EXPECT_FALSE(r.root->dimLayerShown());
    EXPECT_FALSE(covered());
    // Shown again, it would read as showing but not visible to a screen
    // reader that saw it hidden: out of review with every later panel.
    ASSERT_TRUE(frame);
    EXPECT_FALSE(frame->isHidden());
    EXPECT_TRUE(test::eventuallyTrue([&] { return r.dashboardRefreshes() == before + 1; }));
}

TEST(PopoverRoot, APanelThatIsBusyKeepsTheDimLayerFromClosingIt) {
    Root r;
    r.show();
    r.store->setShowMultiTimerSheet(true);
    r.root->overlayPanel()->setProperty("busy", true); // stopping the running timers
    r.clickDim();
    EXPECT_TRUE(r.store->showMultiTimerSheet());
    r.root->overlayPanel()->setProperty("busy", false);
    r.clickDim();
    EXPECT_FALSE(r.store->showMultiTimerSheet());
}

TEST(PopoverRoot, ClosingTheSummarySignedOutRefreshesNothing) {
    Root r;
    StoppedSummary summary;
    r.store->setLastStoppedSummary(summary);
    r.store->setIsLoggedIn(false);
    r.root->closeSummary();
    test::spin(100ms);
    EXPECT_EQ(r.store->lastStoppedSummary(), std::nullopt);
    EXPECT_EQ(r.dashboardRefreshes(), 0u);
}

TEST(PopoverRoot, FlowClosesAndAMultiTimerChoiceRaisedMeanwhileFollows) {
    Root r;
    r.show();
    r.root->openSessionFlow();
    r.store->setShowMultiTimerSheet(true); // a pick met a running timer
    EXPECT_EQ(r.overlayName(), "flow");
    auto* field = r.root->overlayPanel()->findChild<QLineEdit*>();
    QTest::keyClick(field, Qt::Key_Return);
    test::spin(5ms);
    EXPECT_FALSE(r.root->showSessionFlow());
    EXPECT_EQ(r.overlayName(), "multiTimer");
}

TEST(PopoverRoot, TabStaysInsideTheShownPanel) {
    Root r;
    r.show();
    r.root->openSessionFlow();
    QWidget* panel = r.root->overlayPanel();
    ASSERT_TRUE(panel);
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : r.root.get(),
                        Qt::Key_Tab);
        ASSERT_TRUE(QApplication::focusWidget());
        EXPECT_TRUE(panel->isAncestorOf(QApplication::focusWidget()))
            << QApplication::focusWidget()->objectName().toStdString();
    }
}

// A held or repeated key after the last press closed a panel (or stopped the
// card's timer) must not land on another control and act there.
TEST(PopoverRoot, WhatGoesAwayWithTheKeyboardLeavesItWithTheRoot) {
    const struct {
        const char* name;
        std::function<void(Root&)> raise;
        std::function<QWidget*(Root&)> holder;
        std::function<void(Root&)> takeAway;
    } cases[] = {
        {"summary", [](Root& r) { r.store->setLastStoppedSummary(StoppedSummary{}); },
         [](Root& r) { return r.root->overlayPanel(); }, [](Root& r) { r.root->closeSummary(); }},
        {"flow", [](Root& r) { r.root->openSessionFlow(); },
         [](Root& r) { return r.root->overlayPanel(); },
         [](Root&) {
             QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // the flow ends itself
         }},
        {"multi-timer choice", [](Root& r) { r.store->setShowMultiTimerSheet(true); },
         [](Root& r) { return r.root->overlayPanel(); },
         [](Root& r) { r.root->dismissTopOverlay(); }},
        {"card", [](Root& r) { r.store->setSessions({session("j1")}); },
         [](Root& r) { return r.root->findChild<QWidget*>(QStringLiteral("card")); },
         [](Root& r) { r.store->setSessions({}); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Root r;
        r.show();
        c.raise(r);
        QWidget* holder = c.holder(r);
        ASSERT_TRUE(holder);
        auto* field = holder->findChild<QLineEdit*>();
        field->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), field);
        c.takeAway(r);
        test::spin(5ms);
        EXPECT_EQ(QApplication::focusWidget(), r.root.get())
            << "the keyboard went on to "
            << (QApplication::focusWidget()
                    ? QApplication::focusWidget()->objectName().toStdString()
                    : std::string("nothing"));
        // A screen reader names where the keyboard stays.
        QAccessibleInterface* root = QAccessible::queryAccessibleInterface(r.root.get());
        EXPECT_EQ(root->role(), QAccessible::Pane);
        EXPECT_EQ(root->text(QAccessible::Name), "Orvane");
        // Tab still starts at the first control shown.
        QTest::keyClick(r.root.get(), Qt::Key_Tab);
        ASSERT_TRUE(QApplication::focusWidget());
        EXPECT_TRUE(QApplication::focusWidget()->isVisible());
    }
}

// A button that fills its parent and counts its clicks.
QAbstractButton* counter(const char* name, int* clicks, QWidget* parent,
                         std::function<void()> also = {}) {
    auto* button = new QPushButton(QString::fromLatin1(name), parent);
    button->setObjectName(QString::fromLatin1(name));
    auto* layout = new QVBoxLayout(parent);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(button);
    QObject::connect(button, &QAbstractButton::clicked, parent, [clicks, also] {
        ++*clicks;
        if (also)
            also();
    });
    return button;
}

// The first click of a double-click raises a panel under the pointer: the
// second one presses nothing there (say, the choice to stop the running
// timer), and the panel stays; a double-click on the panel once it is up acts.
TEST(PopoverRoot, TheSecondClickOfADoubleClickNeverPressesThePanelItsFirstRaised) {
    int opens = 0;
    int panelClicks = 0;
    AppStore* storeOf = nullptr;
    Root r(true, [&](PopoverViews& views) {
        views.header = [&](PopoverRootView&, QWidget* p) {
            auto* box = new QWidget(p);
            box->setFixedSize(370, 300);
            counter("raise", &opens, box, [&] { storeOf->setShowMultiTimerSheet(true); });
            return box;
        };
        views.multiTimer = [&](PopoverRootView&, QWidget* p) {
            auto* panel = new QWidget(p);
            panel->setObjectName(QStringLiteral("multiTimer"));
            counter("choice", &panelClicks, panel)->setMinimumHeight(400);
            return panel;
        };
    });
    storeOf = r.store.get();
    r.show();
    auto* raise = r.root->findChild<QAbstractButton*>(QStringLiteral("raise"));
    ASSERT_TRUE(raise);
    const QPoint at = raise->mapTo(r.root.get(), QPoint(raise->width() / 2, raise->height() - 20));
    QWindow* window = r.root->windowHandle();
    ASSERT_TRUE(window);

    QTest::mouseDClick(window, Qt::LeftButton, {}, at);
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(r.overlayName(), "multiTimer") << "the dim layer took no click either";
    ASSERT_EQ(r.root->childAt(at)->objectName(), "choice") << "the panel lies under the pointer";
    EXPECT_EQ(panelClicks, 0);

    QTest::qWait(QApplication::doubleClickInterval() + 50); // a new gesture
    QTest::mouseDClick(window, Qt::LeftButton, {}, at);
    EXPECT_EQ(panelClicks, 2) << "both clicks of a double-click on the shown panel";
}

TEST(PopoverRoot, EveryButtonOfTheMainColumnShowsThatItHoldsTheKeyboard) {
    Root r(true, [](PopoverViews& views) { views = defaultPopoverViews(); });
    RecentTaskItem recent;
    recent.clientId = QStringLiteral("c");
    recent.jobId = QStringLiteral("j");
    recent.taskId = QStringLiteral("t");
    recent.taskTitle = QStringLiteral("Entwurf");
    r.show();
    r.store->setRecentTasks({recent});
    r.store->setLoginError(QStringLiteral("Keine Verbindung"));
    for (const char* name : {"Neue Session", "Hell oder dunkel", "Meldung schließen", "Neuer Timer",
                             "Alle", "Starten: Entwurf"}) {
        SCOPED_TRACE(name);
        QAbstractButton* button = nullptr;
        for (auto* b : r.root->findChildren<QAbstractButton*>())
            if (b->accessibleName() == QString::fromUtf8(name) && b->isVisible())
                button = b;
        ASSERT_TRUE(button);
        r.root->setFocus();
        const QImage before = button->grab().toImage();
        button->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(button->hasFocus());
        EXPECT_NE(button->grab().toImage(), before);
    }
}

// Tab goes down the popover as it is drawn, from button to button.
TEST(PopoverRoot, TabWalksTheMainColumnInTheOrderItIsDrawn) {
    Root r(true, [](PopoverViews& views) { views = defaultPopoverViews(); });
    r.show();
    RecentTaskItem recent;
    recent.clientId = QStringLiteral("c");
    recent.jobId = QStringLiteral("j");
    recent.taskId = QStringLiteral("t");
    recent.taskTitle = QStringLiteral("Entwurf");
    r.store->setRecentTasks({recent});
    r.store->setSessions({session("j1")});
    QApplication::processEvents();
    r.root->setFocus();
    const QStringList walked = test::tabWalk(7);
    EXPECT_EQ(
        walked.join(u',').toStdString(),
        "Neue Session,Hell oder dunkel,Stoppen,Neuer Timer,Alle,Starten: Entwurf,Neue Session");
}

// Screen readers hear a start and a stop, never a tick nor a sign-out as a stop.
TEST(PopoverRoot, TimersAreAnnouncedAsTheyStartAndStop) {
    Root r;
    r.show();
    const auto said = [&] {
        QApplication::processEvents();
        return test::announced(r.root.get());
    };
    r.store->setSessions({session("j1")});
    EXPECT_EQ(said(), "Timer läuft");
    r.store->setSessions({});
    EXPECT_EQ(said(), "Timer gestoppt");
    r.store->setSessions({session("j2")});
    EXPECT_EQ(said(), "Timer läuft");
    r.store->setIsLoggedIn(false);
    r.store->setSessions({});
    r.store->setIsLoggedIn(true);
    EXPECT_EQ(said(), "Timer läuft") << "signing out and in stops nothing";
}

TEST(PopoverRoot, StartOrStopStopsResumesOrOpensTheFlow) {
    {
        SCOPED_TRACE("running: stopped on the service");
        Root r;
        r.store->setSessions({session("j1")});
        r.root->startOrStop();
        EXPECT_TRUE(test::eventuallyTrue(
            [&] { return r.service.requestsTo("PATCH", "/api/job-times/j1/stop").size() == 1; }));
    }
    {
        SCOPED_TRACE("on a break: resumed, the break counted as a pause");
        Root r;
        r.store->setSessions({session("j1", true, true)});
        r.root->startOrStop();
        EXPECT_TRUE(r.store->sessions()[0].running);
        EXPECT_EQ(r.store->sessions()[0].pauseCount, 1);
        EXPECT_EQ(r.store->sessions()[0].pauseSecs, 60);
    }
    {
        SCOPED_TRACE("no session: the flow opens");
        Root r;
        r.root->startOrStop();
        EXPECT_EQ(r.overlayName(), "flow");
    }
    {
        SCOPED_TRACE("paused, or signed out: nothing");
        Root r;
        r.store->setSessions({session("j1", false)});
        r.root->startOrStop();
        r.store->setSessions({session("j1")});
        r.store->setIsLoggedIn(false);
        r.root->startOrStop();
        test::spin(100ms);
        EXPECT_EQ(r.service.requestCount(), 0u);
        EXPECT_EQ(r.overlayName(), "");
    }
}

TEST(PopoverRoot, CardShowsTheActiveSessionOrElseTheFirst) {
    Root r;
    r.store->setSessions({session("j1"), session("j2")});
    auto* card = r.root->findChild<QWidget*>("card");
    ASSERT_TRUE(card);
    EXPECT_EQ(card->property("session").toString(), "j1");
    r.store->setActiveSessionId(stableUUID(QStringLiteral("j2")));
    EXPECT_EQ(card->property("session").toString(), "j2");
    r.store->setActiveSessionId(QUuid::createUuid());
    EXPECT_EQ(card->property("session").toString(), "j1");
    r.store->setSessions({});
    EXPECT_FALSE(card->isVisible());
}

// The card's clock moves with the store's tick alone: each second the tick
// brings is drawn, one after the other.
TEST(PopoverRoot, TheCardsClockTurnsWithEverySecondTheStoreTicks) {
    Root r(true, [](PopoverViews& views) { views = defaultPopoverViews(); });
    r.service.on("GET", "/api/job-times/active", FakeResponse::json(200, R"({"data":[
                   {"id":"j1","start_time":"2026-03-02T10:50:00Z"}]})"));
    r.show();
    r.clock.advance(990); // so each tick comes a few milliseconds after the clock's second
    r.store->setSessions({session("j1")});
    r.store->updateTickTimer();
    r.settle();
    test::untilDrawn();
    auto* card = r.root->findChild<ActiveSessionCard*>();
    ASSERT_TRUE(card && card->isVisible());
    const QRect dot = card->findChild<PulsingDot*>()->geometry();
    test::PaintLog log(card);
    for (int second = 1; second <= 4; ++second) {
        log.clear();
        r.clock.advance(1000);
        ASSERT_TRUE(test::eventuallyTrue([&] { return !(log.all() - dot).isEmpty(); })) << second;
    }
}

TEST(PopoverRoot, FailuresWhileSignedInShowInTheErrorLineUntilClosed) {
    Root r;
    r.show();
    EXPECT_EQ(r.root->errorLineText(), "");
    r.store->setLoginError(QStringLiteral("Zu viele Anfragen in kurzer Zeit."));
    EXPECT_EQ(r.root->errorLineText(), "Zu viele Anfragen in kurzer Zeit.");
    auto* close = r.root->findChild<QAbstractButton*>();
    ASSERT_TRUE(close);
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_EQ(r.store->loginError(), std::nullopt);
    EXPECT_EQ(r.root->errorLineText(), "");
    // Signed out, the sign-in view shows the error itself.
    r.store->setLoginError(QStringLiteral("Falsches Passwort"));
    r.store->setIsLoggedIn(false);
    EXPECT_EQ(r.root->errorLineText(), "");
}

// The service's message is cut to a length, not to a number of lines.
TEST(PopoverRoot, AnErrorOfManyLinesLeavesTheSectionsTheirRoom) {
    const QString cases[] = {
        QStringLiteral("a\n").repeated(128),
        (QStringLiteral("b") + QChar(QChar::LineSeparator)).repeated(128),
        QString(256, u'W'),
        QStringLiteral("Fehler ").repeated(36),
    };
    for (const QString& text : cases) {
        SCOPED_TRACE(text.left(8).toStdString());
        Root r;
        r.show();
        r.store->setLoginError(text);
        QApplication::processEvents();
        auto* line = r.root->findChild<QWidget*>(QStringLiteral("errorLine"));
        auto* sections = r.root->findChild<QWidget*>(QStringLiteral("sections"));
        auto* footer = r.root->findChild<QWidget*>(QStringLiteral("footer"));
        ASSERT_TRUE(line && sections && footer);
        EXPECT_TRUE(line->isVisible());
        EXPECT_LE(line->height(), 70) << "at most three lines";
        EXPECT_GE(sections->height(), 300);
        EXPECT_LE(footer->mapTo(r.root.get(), QPoint(0, footer->height())).y(),
                  PopoverRootView::kSize.height());
    }
}

TEST(PopoverRoot, ChromeSwitchesTheWholeContentAtOnce) {
    Root r;
    r.show();
    r.root->openSessionFlow();
    EXPECT_EQ(r.root->palette().color(QPalette::Window), QColor(15, 16, 24));
    r.root->chrome().toggle();
    EXPECT_EQ(r.root->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(r.root->overlayPanel()->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(r.defaults->boolValue(QStringLiteral("orvane_mac_light")));
    // A root made later reads the stored choice.
    ChromeSetting later;
    EXPECT_TRUE(later.light());
}

// ---- The sync loop on a hand-moved clock ----

TEST(PopoverRootSyncLoop, WaitsEighteenOrTwentyTwoSecondsAndRestartsOnItsKey) {
    Root r;
    r.show();
    EXPECT_EQ(r.root->syncKey(), "true0");
    const size_t atStart = r.syncs();
    r.clock.advance(17'000);
    test::spin(50ms);
    EXPECT_EQ(r.syncs(), atStart);
    r.clock.advance(1'000);
    EXPECT_TRUE(test::eventuallyTrue([&] { return r.syncs() == atStart + 1; }));

    // Two sessions opening within one turn restart the loop once; the old
    // loop syncs once on its way out.
    r.service.on("GET", "/api/job-times/active", FakeResponse::json(200, R"({"data":[
                   {"id":"j1","start_time":"2026-03-02T10:50:00Z"},
                   {"id":"j2","start_time":"2026-03-02T10:50:00Z"}]})"));
    r.settle();
    const size_t before = r.syncs();
    r.store->setSessions({session("j1")});
    r.store->setSessions({session("j1"), session("j2")});
    test::spin(50ms);
    EXPECT_EQ(r.root->syncKey(), "true2");
    EXPECT_TRUE(test::eventuallyTrue([&] { return r.syncs() == before + 1; }));
    r.clock.advance(21'000);
    test::spin(50ms);
    EXPECT_EQ(r.syncs(), before + 1);
    r.clock.advance(1'000);
    EXPECT_TRUE(test::eventuallyTrue([&] { return r.syncs() == before + 2; }));
    EXPECT_TRUE(test::eventuallyTrue([&] { return r.clock.pendingSleeps() == 1; }));
}

TEST(PopoverRootSyncLoop, EndsWithOneSyncWhenHiddenAndWithoutOneWhenSignedOut) {
    {
        Root r;
        r.show();
        const size_t before = r.syncs();
        r.root->hide();
        EXPECT_TRUE(test::eventuallyTrue([&] { return r.syncs() == before + 1; }));
        r.clock.advance(60'000);
        test::spin(50ms);
        EXPECT_EQ(r.syncs(), before + 1);
        EXPECT_EQ(r.clock.pendingSleeps(), 0u);
    }
    {
        Root r;
        r.show();
        const size_t before = r.syncs();
        r.store->setIsLoggedIn(false);
        test::spin(50ms);
        r.clock.advance(60'000);
        test::spin(50ms);
        EXPECT_EQ(r.syncs(), before);
        EXPECT_EQ(r.root->syncKey(), "false0");
    }
}

TEST(PopoverRootSyncLoop, ViewGoneWhileTheLoopWaitsOrSyncs) {
    for (const bool duringSync : {false, true}) {
        SCOPED_TRACE(duringSync ? "during a sync" : "during the wait");
        Root r;
        FakeResponse slow = FakeResponse::json(200, R"({"data":[]})");
        slow.delay = 300ms;
        r.service.on("GET", "/api/job-times/active", slow);
        r.show();
        test::spin(20ms);
        if (duringSync) {
            r.clock.advance(18'000);
            test::spin(50ms);
        }
        r.root.reset();
        r.clock.advance(60'000);
        test::spin(500ms);
        EXPECT_EQ(r.clock.pendingSleeps(), 0u);
    }
}

// ---- Shortcuts, as real key events ----

TEST(PopoverShortcuts, CtrlShiftNAndTActWhileTheRootIsShown) {
    const struct {
        const char* name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool signedIn;
        bool flowOpens;
        bool passedOn;
    } cases[] = {
        {"Ctrl+Shift+N", Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier, true, true, false},
        {"Ctrl+Shift+Alt+N", Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier,
         true, true, false},
        {"Ctrl+Shift+N signed out: eaten", Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier,
         false, false, false},
        {"Ctrl+Shift+T without session", Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier, true,
         true, false},
        {"Ctrl+Shift+T signed out: eaten", Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier,
         false, false, false},
        {"Ctrl+N", Qt::Key_N, Qt::ControlModifier, true, false, true},
        {"Shift+N", Qt::Key_N, Qt::ShiftModifier, true, false, true},
        {"Alt+Shift+N", Qt::Key_N, Qt::AltModifier | Qt::ShiftModifier, true, false, true},
        {"Ctrl+Shift+X", Qt::Key_X, Qt::ControlModifier | Qt::ShiftModifier, true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Root r(c.signedIn);
        r.show();
        auto* field = new QLineEdit(r.root->mainPanel());
        field->show();
        field->setFocus();
        int seen = 0;
        field->installEventFilter(new KeyCounter(&seen, field));
        QTest::keyClick(field, c.key, c.modifiers);
        test::spin(10ms);
        EXPECT_EQ(r.root->showSessionFlow(), c.flowOpens);
        EXPECT_EQ(seen > 0, c.passedOn);
    }
}

TEST(PopoverShortcuts, RepeatsActEachTimeAndNothingActsOnceHidden) {
    Root r;
    FakeResponse slowStop = FakeResponse::json(200, R"({"data":{"id":"j1"}})");
    slowStop.delay = 300ms;
    r.service.on("PATCH", "/api/job-times/j1/stop", slowStop);
    r.service.on(
        "GET", "/api/job-times/active",
        FakeResponse::json(200, R"({"data":[{"id":"j1","start_time":"2026-03-02T10:50:00Z"}]})"));
    r.store->setSessions({session("j1", true, true)});
    r.show();
    QWidget* target = r.root->mainPanel();
    // Held down: the first press ends the break, the repeats ask for a stop,
    // which the store sends once.
    for (int i = 0; i < 3; ++i)
        QTest::keyPress(target, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier, -1);
    test::spin(10ms);
    ASSERT_FALSE(r.store->sessions().empty());
    EXPECT_EQ(r.store->sessions()[0].pauseCount, 1);
    EXPECT_TRUE(test::eventuallyTrue(
        [&] { return r.service.requestsTo("PATCH", "/api/job-times/j1/stop").size() == 1; }));
    test::spin(400ms);
    EXPECT_EQ(r.service.requestsTo("PATCH", "/api/job-times/j1/stop").size(), 1u);

    r.root->hide();
    EXPECT_FALSE(r.root->keyHandler().isRegistered());
    QTest::keyClick(target, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    test::spin(10ms);
    EXPECT_FALSE(r.root->showSessionFlow());
}

// ---- Web view coordinator ----

TEST(WebViewCoordinator, ReportsLoadingAndAnswersOnlyTheFirstBasicChallenge) {
    test::TempUserDefaults defaults;
    bool loading = false;
    WebViewNavigationCoordinator coordinator([&](bool v) { loading = v; });
    coordinator.loadStarted();
    EXPECT_TRUE(loading);
    coordinator.loadFinished(false);
    EXPECT_FALSE(loading);
    coordinator.loadStarted();
    coordinator.loadFinished(true);
    EXPECT_FALSE(loading);

    const auto challenge = [&](const QUrl& url, QAuthenticatorPrivate::Method method) {
        QAuthenticator auth;
        auth.setRealm(QStringLiteral("stage")); // makes the private part
        QAuthenticatorPrivate::getPrivate(auth)->method = method;
        coordinator.authenticationRequired(url, &auth);
        return auth.user();
    };
    const QUrl page(QStringLiteral("https://stage.example.com/app"));
    EXPECT_EQ(challenge(page, QAuthenticatorPrivate::Basic), "") << "nothing configured";
    defaults->setString("orvane_api_base_url", "https://stage.example.com");
    defaults->setString("orvane_http_basic_user", "stage");
    defaults->setString("orvane_http_basic_password", "secret");
    EXPECT_EQ(challenge(QUrl(QStringLiteral("https://elsewhere.example.com/app")),
                        QAuthenticatorPrivate::Basic),
              "")
        << "a page of another host";
    const QUrl other(QStringLiteral("https://stage.example.com/other"));
    EXPECT_EQ(challenge(other, QAuthenticatorPrivate::Basic), "stage");
    EXPECT_EQ(challenge(other, QAuthenticatorPrivate::Basic), "") << "a second try is not answered";
    EXPECT_EQ(challenge(other, QAuthenticatorPrivate::Basic), "");
    coordinator.loadFinished(false);
    EXPECT_EQ(challenge(other, QAuthenticatorPrivate::Basic), "stage")
        << "a challenge after the failed navigation begins a sequence of its own";
    coordinator.loadStarted();
    EXPECT_EQ(challenge(other, QAuthenticatorPrivate::Basic), "stage")
        << "so does one on the next navigation of the same page";
    EXPECT_EQ(challenge(other, QAuthenticatorPrivate::Basic), "");
    EXPECT_EQ(
        challenge(QUrl(QStringLiteral("https://x.example.com/")), QAuthenticatorPrivate::DigestMd5),
        "");
}
