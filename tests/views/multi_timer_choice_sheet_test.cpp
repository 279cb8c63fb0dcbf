#include "views/flow/multi_timer_choice_sheet.h"

#include "store/app_store.h"
#include "store/time_money_helpers.h"
#include "support/await.h"
#include "support/paint_log.h"
#include "support/store_world.h"
#include "views/kit/chrome.h"
#include "views/kit/palette.h"
#include "views/kit/text_block.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QTest>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

#include <gtest/gtest.h>

using namespace orvane;
using namespace std::chrono_literals;
using test::FakeResponse;

namespace {

const QDateTime kNow(QDate(2026, 3, 2), QTime(10, 0), Qt::UTC);

TimerSession running(const char* id, qint64 forSecs) {
    TimerSession s;
    s.jobTimeServerId = QString::fromLatin1(id);
    s.id = stableUUID(s.jobTimeServerId);
    s.clientDisplayName = QStringLiteral("Kundin");
    s.clientInitials = QStringLiteral("KU");
    s.clientColorHex = 0x10B981;
    s.jobTitle = QStringLiteral("Website");
    s.taskTitle = QString::fromLatin1(id);
    s.startedAt = kNow.addSecs(-forSecs);
    return s;
}

PendingStart pick(std::optional<QString> customer, std::optional<QString> company) {
    ClientDTO client{QStringLiteral("c-7")};
    client.customerName = std::move(customer);
    client.companyName = std::move(company);
    JobDTO job{QStringLiteral("j-7")};
    job.title = QStringLiteral("Relaunch");
    JobTaskDTO task{QStringLiteral("t-7")};
    task.title = QStringLiteral("Texte");
    return PendingStart(client, job, task);
}

// How often the widgets it watches changed size.
struct Resizes : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == QEvent::Resize;
        return false;
    }
};

QAbstractButton* choice(QWidget& sheet, const char* title) {
    for (auto* b : sheet.findChildren<QAbstractButton*>())
        if (b->accessibleName() == QString::fromUtf8(title))
            return b;
    return nullptr;
}

struct ChoiceWorld : test::StoreWorld {
    test::ClockScope clock{kNow};
    std::unique_ptr<ChromeSetting> chrome;
    ChoiceWorld() {
        store().setCurrentUser(APIUser{"1", "a@b.de"});
        store().setIsLoggedIn(true);
        chrome = std::make_unique<ChromeSetting>();
    }
    ~ChoiceWorld() {
        test::spin(50ms);
        OrvaneAPIClient::session().manager().clearConnectionCache();
    }
    void waiting(std::vector<TimerSession> sessions, PendingStart p) {
        store().setSessions(std::move(sessions));
        store().setPendingPick(std::move(p));
        store().setShowMultiTimerSheet(true);
    }
};

} // namespace

TEST(MultiTimerChoice, CardsOfTheRunningTimerAndTheWaitingStart) {
    // clang-format off
    const struct { std::optional<QString> customer, company; QString name, initials; } clients[] = {
        {"Anna Berg", "Berg GmbH", "Anna Berg", "AB"},
        {std::nullopt, "Berg GmbH", "Berg GmbH", "BG"},
        {std::nullopt, std::nullopt, "", "?"},
    };
    // clang-format on
    for (const auto& c : clients) {
        const ChoiceCard card = pendingChoiceCard(pick(c.customer, c.company));
        EXPECT_EQ(card.subtitle, c.name + " · Relaunch");
        EXPECT_EQ(card.initials, c.initials);
        EXPECT_EQ(card.title, "Texte");
        EXPECT_EQ(card.colorHex, clientColorHex("c-7"));
    }
    PendingStart bare = pick(std::nullopt, std::nullopt);
    bare.task.title.reset();
    bare.job.title.reset();
    EXPECT_EQ(pendingChoiceCard(bare), (ChoiceCard{clientColorHex("c-7"), "?", "", " · "}));
    EXPECT_EQ(runningChoiceCard(running("jt-1", 5)),
              (ChoiceCard{0x10B981, "KU", "jt-1", "Kundin · Website"}));

    ChoiceWorld w;
    MultiTimerChoiceSheet sheet(w.store(), *w.chrome);
    EXPECT_EQ(sheet.runningCard(), std::nullopt);
    // The first open session, whichever is active.
    w.waiting({running("jt-1", 425), running("jt-2", 3723)}, pick("Anna Berg", std::nullopt));
    w.store().setActiveSessionId(stableUUID("jt-2"));
    EXPECT_EQ(sheet.runningCard()->title, "jt-1");
    EXPECT_EQ(sheet.runningElapsedText(), "07:05");
    w.store().setSessions({running("jt-2", 3723)});
    EXPECT_EQ(sheet.runningElapsedText(), "01:02:03");
    // Both cards go with either of the two.
    w.store().setPendingPick(std::nullopt);
    EXPECT_EQ(sheet.runningCard(), std::nullopt);
    EXPECT_EQ(sheet.pendingCard(), std::nullopt);
}

TEST(MultiTimerChoice, KeepDropsThePickAndLeavesTheTimerAlone) {
    ChoiceWorld w;
    const std::vector<TimerSession> open{running("jt-1", 60)};
    w.waiting(open, pick("Anna", std::nullopt));
    MultiTimerChoiceSheet sheet(w.store(), *w.chrome);
    sheet.resize(sheet.sizeHint());
    sheet.show();
    QTest::mouseClick(choice(sheet, "Laufenden Timer behalten"), Qt::LeftButton);
    EXPECT_EQ(w.store().pendingPick(), std::nullopt);
    EXPECT_FALSE(w.store().showMultiTimerSheet());
    EXPECT_EQ(w.store().sessions(), open);
    EXPECT_EQ(w.service.requestCount(), 0u);
    EXPECT_EQ(w.haptics.played, std::vector{platform::HapticPattern::Generic});
}

TEST(MultiTimerChoice, StopStopsEveryTimerOnceAndStartsThePickWhileTheChoicesAreOff) {
    ChoiceWorld w;
    FakeResponse slow = FakeResponse::json(200, R"({"data":{"id":"x"}})");
    slow.delay = 200ms;
    w.service.on("PATCH", "/api/job-times/jt-1/stop", slow);
    w.service.on("PATCH", "/api/job-times/jt-2/stop", slow);
    w.service.on(
        "POST", "/api/job-times/start",
        FakeResponse::json(200, R"({"data":{"id":"jt-9","start_time":"2026-03-02T10:00:00Z"}})"));
    w.waiting({running("jt-1", 60), running("jt-2", 90)}, pick("Anna", std::nullopt));
    MultiTimerChoiceSheet sheet(w.store(), *w.chrome);
    sheet.resize(sheet.sizeHint());
    sheet.show();
    QAbstractButton* stop = choice(sheet, "Laufenden Timer beenden");
    QAbstractButton* keep = choice(sheet, "Laufenden Timer behalten");
    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_TRUE(sheet.isStopping());
    EXPECT_TRUE(sheet.dimLayerInert());
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_FALSE(keep->isEnabled());
    QTest::mouseClick(stop, Qt::LeftButton);
    QTest::mouseClick(keep, Qt::LeftButton);
    sheet.stopAndStartPending();
    sheet.keepRunning();
    EXPECT_TRUE(w.store().pendingPick().has_value()); // keep did not drop it
    ASSERT_TRUE(test::eventuallyTrue([&] { return !w.store().showMultiTimerSheet(); }));
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.store().sessions().size() == 1; }));
    EXPECT_EQ(w.store().sessions()[0].jobTimeServerId, "jt-9");
    EXPECT_EQ(w.service.requestsTo("PATCH", "/api/job-times/jt-1/stop").size(), 1u);
    EXPECT_EQ(w.service.requestsTo("PATCH", "/api/job-times/jt-2/stop").size(), 1u);
    EXPECT_EQ(w.service.requestsTo("POST", "/api/job-times/start").size(), 1u);
    EXPECT_EQ(w.haptics.played, std::vector{platform::HapticPattern::Generic});
}

TEST(MultiTimerChoice, AStopRefusedAtOnceGivesTheChoicesBack) {
    ChoiceWorld w;
    w.waiting({running("jt-1", 60)}, pick("Anna", std::nullopt));
    w.store().setPendingPick(std::nullopt); // nothing to start: the store does nothing
    MultiTimerChoiceSheet sheet(w.store(), *w.chrome);
    sheet.show();
    sheet.stopAndStartPending();
    ASSERT_TRUE(test::eventuallyTrue([&] { return !sheet.isStopping(); }));
    EXPECT_TRUE(choice(sheet, "Laufenden Timer beenden")->isEnabled());
    EXPECT_EQ(w.service.requestCount(), 0u);
}

TEST(MultiTimerChoice, GoneWhileItsStopIsUnderWay) {
    ChoiceWorld w;
    FakeResponse slow = FakeResponse::json(200, R"({"data":{"id":"x"}})");
    slow.delay = 200ms;
    w.service.on("PATCH", "/api/job-times/jt-1/stop", slow);
    w.service.on("POST", "/api/job-times/start", FakeResponse::json(500, "{}"));
    w.waiting({running("jt-1", 60)}, pick("Anna", std::nullopt));
    auto* sheet = new MultiTimerChoiceSheet(w.store(), *w.chrome);
    sheet->show();
    sheet->stopAndStartPending();
    delete sheet;
    ASSERT_TRUE(test::eventuallyTrue([&] { return !w.store().showMultiTimerSheet(); }));
    test::spin(100ms);
    EXPECT_TRUE(w.store().sessions().empty());
}

TEST(MultiTimerChoice, ATickRedrawsTheClockAloneAndScreenReadersHearOfItByTheMinute) {
    ChoiceWorld w;
    w.waiting({running("jt-1", 55)}, pick("Anna", std::nullopt));
    MultiTimerChoiceSheet sheet(w.store(), *w.chrome);
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    test::PaintLog stop(choice(sheet, "Laufenden Timer beenden"));
    static int renamed = 0; // Qt tells changes only while a screen reader listens
    QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
    const auto bridge = QAccessible::installUpdateHandler(
        [](QAccessibleEvent* e) { renamed += e->type() == QAccessible::NameChanged; });
    for (int i = 0; i < 10; ++i, w.clock.advance(1000), w.store().tick())
        test::spin(20ms);
    QAccessible::installUpdateHandler(bridge);
    QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(false);
    EXPECT_EQ(renamed, 1) << "the minute turned once";
    EXPECT_TRUE(stop.regions.empty());
}

TEST(MultiTimerChoice, FollowsTheChromeAtOnce) {
    ChoiceWorld w;
    MultiTimerChoiceSheet sheet(w.store(), *w.chrome);
    const auto question = [&] {
        for (auto* t : sheet.findChildren<TextBlock*>())
            if (t->text() == "Was jetzt?")
                return t->color();
        return QColor();
    };
    EXPECT_EQ(question(), Palette::textPrimary());
    w.chrome->setLight(true);
    EXPECT_EQ(question(), QColor(17, 24, 39));
    EXPECT_EQ(sheet.palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(choicePanelColors(true).background, QColor(Qt::white));
    EXPECT_EQ(choicePanelColors(false).background, QColor(15, 16, 24));
    // A screen reader hears a dialog that says the question; its buttons take the keys.
    QAccessibleInterface* dialog = QAccessible::queryAccessibleInterface(&sheet);
    EXPECT_EQ(dialog->role(), QAccessible::Dialog);
    EXPECT_TRUE(dialog->text(QAccessible::Description).startsWith("Was jetzt? Es kann nur"));
    EXPECT_EQ(sheet.focusPolicy(), Qt::NoFocus);
}

TEST(MultiTimerChoice, EachCardStacksItsTwoLinesTwoPointsApartAroundItsMiddle) {
    ChoiceWorld w;
    w.waiting({running("Konzept", 425)}, pick(QStringLiteral("Acme"), std::nullopt));
    MultiTimerChoiceSheet sheet(w.store(), *w.chrome);
    sheet.resize(MultiTimerChoiceSheet::kWidth,
                 sheet.heightForWidth(MultiTimerChoiceSheet::kWidth));
    sheet.show();
    test::spin(5ms);
    for (const char* title : {"Konzept", "Texte"}) {
        TextBlock* first = nullptr;
        for (auto* t : sheet.findChildren<TextBlock*>())
            if (t->text() == QString::fromLatin1(title))
                first = t;
        ASSERT_TRUE(first) << title;
        QWidget* card = first->parentWidget();
        TextBlock* second = nullptr;
        for (auto* t : card->findChildren<TextBlock*>())
            if (t != first)
                second = t;
        ASSERT_TRUE(second) << title;
        EXPECT_EQ(second->y() - first->geometry().bottom() - 1, 2) << title;
        const int above = first->y() - 14;
        const int below = card->height() - 14 - second->geometry().bottom() - 1;
        EXPECT_LE(std::abs(above - below), 1) << title;
        EXPECT_EQ(first->height(), first->heightForWidth(first->width())) << title;
    }
}

TEST(MultiTimerChoice, LongNamesWrapInsideThePanel) {
    ChoiceWorld w;
    TimerSession s = running("jt-1", 60);
    s.taskTitle = QString(3000, u'T');
    s.clientDisplayName = QString(3000, u'K');
    PendingStart p = pick(QString(3000, u'A'), std::nullopt);
    p.task.title = QString(3000, u'X');
    w.waiting({s}, p);
    MultiTimerChoiceSheet sheet(w.store(), *w.chrome);
    EXPECT_LE(sheet.minimumSizeHint().width(), MultiTimerChoiceSheet::kWidth);
    const int height = sheet.heightForWidth(MultiTimerChoiceSheet::kWidth);
    EXPECT_GT(height, 400);
    EXPECT_LT(height, 20000);
    sheet.resize(MultiTimerChoiceSheet::kWidth, height);
    sheet.show();
    EXPECT_FALSE(sheet.grab().isNull());
    // In the popover's height the names give way by whole lines; the panel's texts stay whole.
    sheet.resize(MultiTimerChoiceSheet::kWidth, 540);
    test::spin(5ms);
    EXPECT_EQ(sheet.heightForWidth(MultiTimerChoiceSheet::kWidth), height);
    Resizes names;
    for (auto* t : sheet.findChildren<TextBlock*>()) {
        EXPECT_GE(t->height(), t->heightForWidth(t->width())) << t->text().left(20).toStdString();
        if (t->parentWidget() == &sheet || qobject_cast<QAbstractButton*>(t->parentWidget())) {
            EXPECT_FALSE(t->shownText().contains(u'…')) << t->text().toStdString();
        } else {
            t->installEventFilter(&names);
        }
    }
    // Fitting lets the names out and takes their lines back: the clock's
    // seconds must not, only a new height.
    for (int second = 1; second <= 3; ++second) {
        w.clock.advance(1000);
        s.elapsedSecs += 1;
        w.store().setSessions({s});
        test::untilDrawn();
    }
    EXPECT_EQ(names.count, 0);
    sheet.resize(MultiTimerChoiceSheet::kWidth, 500);
    EXPECT_GT(names.count, 0);
}
