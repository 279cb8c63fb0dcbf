#include "views/flow/summary_view.h"

#include "store/app_store.h"
#include "store/time_money_helpers.h"
#include "support/announced.h"
#include "support/await.h"
#include "support/store_world.h"
#include "support/tab_walk.h"
#include "views/kit/digit_text.h"
#include "views/kit/palette.h"
#include "views/kit/stat_card.h"
#include "views/kit/text_block.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QTest>

#include <gtest/gtest.h>

#include <limits>

using namespace orvane;
using namespace std::chrono_literals;
using test::FakeResponse;

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
const QDate kDay(2026, 3, 2); // a Monday
const QDateTime kNow(kDay, QTime(12, 0), Qt::LocalTime);

StoppedSummary stopped(const QString& jobTime = QStringLiteral("jt-1")) {
    StoppedSummary s;
    s.id = QUuid::createUuid();
    s.jobTimeServerId = jobTime;
    s.clientName = QStringLiteral("Kundin");
    s.clientInitials = QStringLiteral("KU");
    s.clientColorHex = 0x6366F1;
    s.jobTitle = QStringLiteral("Website");
    s.taskTitle = QStringLiteral("Design");
    s.startedAt = QDateTime(kDay, QTime(9, 0, 50), Qt::LocalTime);
    s.endedAt = QDateTime(kDay, QTime(9, 16, 10), Qt::LocalTime);
    s.elapsedSecs = 960;
    s.timeRoundDirection = QStringLiteral("down");
    s.timeRoundValueMinutes = 1;
    s.projectTrackedSecs = 960;
    return s;
}

SummaryDrafts drafts(bool billable, const char* direction, qint64 value) {
    return {billable, QString::fromUtf8(direction), value};
}

QAbstractButton* button(QWidget& root, const QString& name) {
    for (auto* b : root.findChildren<QAbstractButton*>())
        if (b->accessibleName() == name && b->isVisible())
            return b;
    return nullptr;
}

void click(QWidget& root, const QString& name, bool byReturn = false) {
    QAbstractButton* b = button(root, name);
    ASSERT_NE(b, nullptr) << name.toStdString();
    if (byReturn)
        EXPECT_EQ(test::pressesOnReturn(b), 1);
    else
        QTest::mouseClick(b, Qt::LeftButton);
}

FakeResponse entry(const std::string& id, const std::string& members) {
    return FakeResponse::json(200, R"({"data":{"id":")" + id + R"(")" + members + "}}");
}

// The store, the service, and a summary panel closed the way the popover
// closes it.
struct SummaryWorld : test::StoreWorld {
    test::ClockScope clock{kNow};
    int done = 0;
    std::unique_ptr<SummaryView> view;

    SummaryWorld() {
        store().setCurrentUser(APIUser{"1", "a@b.de"});
        store().setIsLoggedIn(true);
    }
    ~SummaryWorld() {
        view.reset();
        test::spin(50ms);
        OrvaneAPIClient::session().manager().clearConnectionCache();
    }
    SummaryView& show(const StoppedSummary& summary) {
        store().setLastStoppedSummary(summary);
        view = std::make_unique<SummaryView>(store(), [this] {
            ++done;
            store().setLastStoppedSummary(std::nullopt);
        });
        view->resize(384, 520);
        view->show();
        view->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(view.get()));
        return *view;
    }
    std::vector<platform::HapticPattern>& played() { return haptics.played; }
};

} // namespace

TEST(SummaryDrafts, SavedRoundingIsReadLeniently) {
    using Dir = std::optional<QString>;
    const std::pair<Dir, QString> directions[] = {{"UP", "up"},           {"closest", "closest"},
                                                  {"Down", "down"},       {"sideways", "down"},
                                                  {std::nullopt, "down"}, {" up", "down"}};
    for (const auto& [given, want] : directions) {
        StoppedSummary s = stopped();
        s.timeRoundDirection = given;
        EXPECT_EQ(normalizedRoundDirection(s), want) << given.value_or("-").toStdString();
    }
    const std::pair<std::optional<qint64>, qint64> values[] = {
        {std::nullopt, 1}, {0, 1}, {1, 1}, {2, 2}, {7, 7}, {-30, 1}};
    for (const auto& [given, want] : values) {
        StoppedSummary s = stopped();
        s.timeRoundValueMinutes = given;
        EXPECT_EQ(savedRoundValue(s), want);
    }
    StoppedSummary upper = stopped();
    upper.timeRoundDirection = QStringLiteral("UP");
    EXPECT_EQ(draftsFromSummary(upper), drafts(true, "up", 1));
    EXPECT_FALSE(hasUnsavedChanges(drafts(true, "up", 1), upper));
}

TEST(SummaryDrafts, UnsavedWhenAnyDraftDiffersFromTheEntry) {
    const StoppedSummary s = stopped(); // billable, down, 1
    // clang-format off
    const struct { SummaryDrafts drafts; bool unsaved, rounding; } cases[] = {
        {drafts(true, "down", 1), false, false},
        {drafts(false, "down", 1), true, false},
        {drafts(true, "Down", 1), true, true}, // compared as written
        {drafts(true, "up", 1), true, true},
        {drafts(true, "down", 5), true, true},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.drafts.roundDirection.toStdString());
        EXPECT_EQ(hasUnsavedChanges(c.drafts, s), c.unsaved);
        EXPECT_EQ(roundingDiffers(c.drafts, s), c.rounding);
    }
}

TEST(SummaryDrafts, PreviewOfTheBookedTimeForEachDirectionAndGrid) {
    const auto at = [](int h, int m, int s) {
        return QDateTime(kDay, QTime(h, m, s), Qt::LocalTime);
    };
    // clang-format off
    const struct { QDateTime start, end; const char* direction; qint64 grid, secs; } cases[] = {
        {at(9, 0, 50), at(9, 16, 10), "down", 15, 900},
        {at(9, 0, 50), at(9, 16, 10), "closest", 15, 900},
        {at(9, 0, 50), at(9, 16, 10), "up", 15, 1800},
        {at(9, 0, 50), at(9, 16, 10), "UP", 15, 1800},        // lower-cased for the rule
        {at(9, 0, 50), at(9, 16, 10), "sideways", 15, 900},
        {at(9, 0, 10), at(9, 0, 50), "up", 5, 300},            // same minute: one step
        {at(9, 0, 10), at(9, 0, 50), "down", 5, 0},
        {at(9, 0, 10), at(9, 0, 50), "closest", 5, 0},
        {at(9, 0, 0), at(9, 3, 0), "closest", 2, 240},         // a half goes up
        {at(9, 0, 0), at(9, 2, 59), "closest", 2, 120},
        {at(9, 10, 0), at(9, 0, 0), "up", 5, 300},             // end before start
        {at(9, 10, 0), at(9, 0, 0), "down", 5, 0},
        {at(9, 0, 50), at(9, 16, 10), "down", 0, 960},         // no grid: whole minutes
        {at(9, 0, 50), at(9, 16, 10), "up", kMax / 30, kMax},  // the step saturates
        {at(9, 0, 0), at(9, 0, 0).addDays(1).addSecs(7200), "down", 60, 93600}, // 26 hours
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.direction) + " " + std::to_string(c.grid));
        StoppedSummary s = stopped();
        std::tie(s.startedAt, s.endedAt) = std::tie(c.start, c.end);
        s.elapsedSecs = 4242;
        s.timeRoundValueMinutes = 3; // so that every draft differs from the entry
        EXPECT_EQ(previewDurationSecs(s, drafts(true, c.direction, c.grid)), c.secs);
    }
    // Drafts equal to the entry's rounding show the service's own figure,
    // also with the billable flag changed.
    StoppedSummary s = stopped();
    s.elapsedSecs = 4242;
    EXPECT_EQ(previewDurationSecs(s, drafts(false, "down", 1)), 4242);
    EXPECT_EQ(summaryFigures(s, drafts(false, "down", 1), kNow).durationText, "1:10");
}

TEST(SummaryDrafts, ProjectTotalAndBudget) {
    // clang-format off
    const struct { qint64 budget, before, tracked; SummaryDrafts d; int percent; QString value, budgetSub, project, projectSub; bool tinted; } cases[] = {
        {36000, 0, 9000, drafts(true, "down", 1), 25, "25%", "7:30 frei", "2:30", "von 10:00", true},
        {3600, 0, 5400, drafts(true, "down", 1), 100, "100%", "0:00 frei", "1:30", "von 1:00", true},
        {0, 0, 5400, drafts(true, "down", 1), 0, "—", "Kein Soll definiert", "1:30", "ohne Budget-Obergrenze", false},
        // Another rounding: the earlier time plus the preview (15 min up: 30 min).
        {36000, 3600, 99999, drafts(true, "up", 15), 15, "15%", "8:30 frei", "1:30", "von 10:00", true},
        {3600, kMax, kMax, drafts(true, "up", 15), 100, "100%", "0:00 frei", "2562047788015215:30", "von 1:00", true},
        {3600, -100000, 0, drafts(true, "up", 15), 0, "0%", "28:16 frei", "0:00", "von 1:00", true},
        {-5, 0, 0, drafts(true, "down", 1), 0, "—", "Kein Soll definiert", "0:00", "ohne Budget-Obergrenze", false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.toStdString());
        StoppedSummary s = stopped();
        s.projectBudgetSecs = c.budget;
        s.trackedBeforeExcludingThisEntrySecs = c.before;
        s.projectTrackedSecs = c.tracked;
        const SummaryFigures f = summaryFigures(s, c.d, kNow);
        EXPECT_EQ(f.budgetUsedPercent, c.percent);
        EXPECT_EQ(f.budgetValue, c.value);
        EXPECT_EQ(f.budgetSubtitle, c.budgetSub);
        EXPECT_EQ(f.projectValue, c.project);
        EXPECT_EQ(f.projectSubtitle, c.projectSub);
        EXPECT_EQ(f.budgetTint.has_value(), c.tinted);
    }
    const auto rgb = [](const QColor& c) { return std::tuple(c.red(), c.green(), c.blue()); };
    EXPECT_EQ(rgb(summaryBudgetTint(0)), std::tuple(52, 217, 153));
    EXPECT_EQ(rgb(summaryBudgetTint(25)), std::tuple(100, 179, 138));
    EXPECT_EQ(rgb(summaryBudgetTint(100)), std::tuple(244, 63, 94));
}

TEST(SummaryDrafts, TextsOfGridRoundingDaysErrorsAndStatus) {
    using Grid = std::vector<qint64>;
    EXPECT_EQ(minuteGridOptions(1), (Grid{1, 5, 10, 15, 30, 60}));
    EXPECT_EQ(minuteGridOptions(7), (Grid{1, 5, 7, 10, 15, 30, 60}));
    EXPECT_EQ(minuteGridOptions(15), (Grid{1, 5, 10, 15, 30, 60}));
    EXPECT_EQ(minuteGridOptions(90), (Grid{1, 5, 10, 15, 30, 60, 90}));
    EXPECT_EQ(minuteGridOptions(-4), (Grid{1, 5, 10, 15, 30, 60}));

    const std::tuple<std::optional<QString>, std::optional<qint64>, QString> sentences[] = {
        {"up", 15, "Gerundet: aufrunden auf 15 Minuten."},
        {"CLOSEST", 5, "Gerundet: auf 5 Minuten kaufmännisch (nächster Wert)."},
        {"down", 1, "Gerundet: abrunden auf 1 Minuten."},
        {std::nullopt, 30, "Gerundet: abrunden auf 30 Minuten."},
        {"up", 0, "Start und Ende werden auf volle Minuten gekappt; kein Minuten-Raster."},
        {"up", std::nullopt,
         "Start und Ende werden auf volle Minuten gekappt; kein Minuten-Raster."},
    };
    for (const auto& [direction, minutes, text] : sentences)
        EXPECT_EQ(roundingDescription(direction, minutes), text);

    EXPECT_EQ(dayLabel(QDateTime(kDay, QTime(0, 1), Qt::LocalTime), kNow), "heute");
    EXPECT_EQ(dayLabel(QDateTime(kDay.addDays(-1), QTime(23, 59), Qt::LocalTime), kNow),
              "So. · 1. März");
    EXPECT_EQ(dayLabel(QDateTime(QDate(2025, 12, 24), QTime(9, 0), Qt::LocalTime), kNow),
              "Mi. · 24. Dez.");

    const QString missingRoute = saveErrorText("HTTP 405: method patch not allowed");
    EXPECT_TRUE(missingRoute.startsWith("Auf diesem Server fehlt noch die Schnittstelle"));
    EXPECT_EQ(saveErrorText("HTTP 405: nicht erlaubt"), "HTTP 405: nicht erlaubt");
    EXPECT_EQ(saveErrorText("PATCH fehlgeschlagen"), "PATCH fehlgeschlagen");

    StoppedSummary s = stopped();
    EXPECT_EQ(summaryFigures(s, drafts(false, "down", 1), kNow).statusText,
              "Zeit wurde dem Projekt zugebucht."); // the saved flag, not the draft
    s.billable = false;
    EXPECT_EQ(summaryFigures(s, drafts(true, "down", 1), kNow).statusText,
              "Die Zeit ist als nicht abrechenbar markiert und bleibt im Projekt erfasst.");

    EXPECT_EQ(gridSpokenValue(1), "1 Minute");
    EXPECT_EQ(gridSpokenValue(60), "60 Minuten");
    // Blank titles are left out of what the arriving summary says.
    s.taskTitle = QStringLiteral("  ");
    s.clientName = QString();
    EXPECT_TRUE(
        summarySpokenText(s, summaryFigures(s, drafts(false, "down", 1), kNow))
            .startsWith("Gebucht: 16 Minuten, Website. Gerundet: abrunden auf 1 Minuten. "
                        "Start 09:00, heute. Ende 09:16, heute. Budget genutzt: kein Soll"));
}

TEST(SummaryView, ClosingWithAndWithoutUnsavedChanges) {
    using P = platform::HapticPattern;
    // clang-format off
    const struct { const char* control; bool unsaved; int done; bool asks; std::vector<P> haptics; bool byReturn = false; } cases[] = {
        {"Fertig", false, 1, false, {P::LevelChange}},
        {"Schließen", false, 1, false, {}},
        {"Fertig", true, 0, true, {}},
        {"Schließen", true, 0, true, {}},
        {"Fertig", false, 1, false, {P::LevelChange}, true},
        {"Schließen", true, 0, true, {}, true},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.control) + (c.unsaved ? " unsaved" : "") +
                     (c.byReturn ? " by Return" : ""));
        SummaryWorld w;
        SummaryView& view = w.show(stopped());
        if (c.unsaved)
            click(view, "Zeit ist abrechenbar", c.byReturn);
        w.played().clear();
        click(view, c.control, c.byReturn);
        EXPECT_EQ(w.done, c.done);
        EXPECT_EQ(view.isConfirming(), c.asks);
        EXPECT_EQ(view.dimLayerInert(), c.asks);
        EXPECT_EQ(w.played(), c.haptics);
    }
}

TEST(SummaryView, TheQuestionsAnswersAndEscape) {
    enum class Answer { Back, Escape, Discard };
    for (const Answer answer : {Answer::Back, Answer::Escape, Answer::Discard}) {
        SummaryWorld w;
        SummaryView& view = w.show(stopped());
        click(view, "Aufrunden, Rundungsrichtung");
        click(view, "Fertig");
        ASSERT_TRUE(view.isConfirming());
        // The keyboard is on its first answer, inside a dialog that says the question.
        ASSERT_TRUE(QApplication::focusWidget());
        EXPECT_EQ(QApplication::focusWidget()->accessibleName(), "Speichern");
        QAccessibleInterface* dialog =
            QAccessible::queryAccessibleInterface(QApplication::focusWidget());
        while (dialog && dialog->role() != QAccessible::Dialog)
            dialog = dialog->parent();
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->text(QAccessible::Name), "Änderungen nicht gespeichert");
        EXPECT_EQ(dialog->text(QAccessible::Description),
                  "Rundung oder Abrechenbarkeit sind noch nicht am Server gespeichert.");
        EXPECT_FALSE(dialog->state().focusable) << "no Tab stop of its own";
        // The panel under the question takes no clicks.
        QTest::mouseClick(button(view, "Fertig"), Qt::LeftButton);
        QTest::mouseClick(button(view, "Abrunden, Rundungsrichtung"), Qt::LeftButton);
        EXPECT_EQ(view.drafts().roundDirection, "up");
        w.played().clear();
        switch (answer) {
        case Answer::Back:
            click(view, "Zurück");
            break;
        case Answer::Escape:
            ASSERT_NE(QApplication::focusWidget(), nullptr);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            break;
        case Answer::Discard:
            click(view, "Verwerfen");
            break;
        }
        EXPECT_FALSE(view.isConfirming());
        EXPECT_EQ(w.done, answer == Answer::Discard ? 1 : 0);
        EXPECT_EQ(view.drafts().roundDirection, "up");
        EXPECT_EQ(w.played(), answer == Answer::Discard
                                  ? std::vector{platform::HapticPattern::Generic}
                                  : std::vector<platform::HapticPattern>{});
        EXPECT_EQ(w.service.requestCount(), 0u);
    }
}

TEST(SummaryView, StartStopAndSaveARoundingOverTheService) {
    SummaryWorld w;
    w.service.on("POST", "/api/job-times/start",
                 FakeResponse::json(
                     200, R"({"data":{"id":"jt-9","start_time":")" +
                              kNow.toUTC().addSecs(-1000).toString(Qt::ISODate).toStdString() +
                              R"("}})"));
    w.service.on("PATCH", "/api/job-times/jt-9/stop", entry("jt-9", R"(,"billable":true)"));
    w.service.on("PATCH", "/api/job-times/jt-9",
                 entry("jt-9", R"(,"end_time":"x","rounded_duration":{"hh_mm":"0:30"})"));
    w.service.on("GET", "/api/job-times/jt-9",
                 entry("jt-9", R"(,"end_time":"x","rounded_duration":{"hh_mm":"0:30"})"));
    ClientDTO client{QStringLiteral("c-1")};
    client.companyName = QStringLiteral("Kundin");
    const JobDTO job{QStringLiteral("j-1")};
    const JobTaskDTO task{QStringLiteral("t-1")};
    const auto id = test::await(w.store().requestStart(client, job, task));
    ASSERT_TRUE(id);
    test::await(w.store().stopSession(*id));
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.store().lastStoppedSummary().has_value(); }));

    w.view = std::make_unique<SummaryView>(w.store(), [&] {
        ++w.done;
        w.store().setLastStoppedSummary(std::nullopt);
    });
    SummaryView& view = *w.view;
    view.resize(384, 520);
    view.show();
    EXPECT_EQ(button(view, "Speichern"), nullptr); // nothing to save yet
    click(view, "Aufrunden, Rundungsrichtung");
    auto* grid = view.findChild<QComboBox*>();
    ASSERT_NE(grid, nullptr);
    grid->showPopup();
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(grid->view(), Qt::Key_Down);
    QTest::keyClick(grid->view(), Qt::Key_Return);
    EXPECT_EQ(view.drafts(), drafts(true, "up", 15));
    EXPECT_EQ(view.figures().roundingText, "Gerundet: aufrunden auf 15 Minuten.");
    click(view, "Speichern");
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.done == 1; }));
    const auto sent = w.service.requestsTo("PATCH", "/api/job-times/jt-9");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].json().object(),
              (QJsonObject{{"billable", true}, {"round_direction", "up"}, {"round_value", 15}}));
    EXPECT_EQ(w.store().lastStoppedSummary(), std::nullopt);
    EXPECT_EQ(w.played().back(), platform::HapticPattern::LevelChange);
}

TEST(SummaryView, ARefusedSaveShowsItsTextAndKeepsTheDrafts) {
    const std::pair<FakeResponse, QString> refusals[] = {
        {FakeResponse::json(500, "{}"), "HTTP 500: {}"},
        {FakeResponse::json(405, R"({"error":"method patch not allowed"})"),
         "Auf diesem Server fehlt noch die Schnittstelle zum Speichern (PATCH auf die Job-Zeit). "
         "Bitte im Backend ergänzen – bis dahin werden Änderungen am Server nicht übernommen."},
    };
    for (const auto& [reply, text] : refusals) {
        SummaryWorld w;
        w.service.on("PATCH", "/api/job-times/jt-1", reply);
        SummaryView& view = w.show(stopped());
        click(view, "Kaufmännisch, Rundungsrichtung");
        click(view, "Speichern");
        ASSERT_TRUE(test::eventuallyTrue([&] { return view.saveError().has_value(); }));
        EXPECT_EQ(view.saveError(), text);
        EXPECT_EQ(test::announced(&view), text);
        EXPECT_FALSE(view.isSaving());
        EXPECT_EQ(w.done, 0);
        EXPECT_EQ(view.drafts(), drafts(true, "closest", 1));
        EXPECT_NE(button(view, "Speichern"), nullptr);
        // A new try clears the old text first.
        FakeResponse slow = FakeResponse::json(500, "{}");
        slow.delay = 200ms;
        w.service.on("PATCH", "/api/job-times/jt-1", slow);
        click(view, "Speichern");
        EXPECT_EQ(view.saveError(), std::nullopt);
        ASSERT_TRUE(test::eventuallyTrue([&] { return !view.isSaving(); }));
    }
}

TEST(SummaryView, OneSaveAtATime) {
    SummaryWorld w;
    FakeResponse slow = entry("jt-1", "");
    slow.delay = 300ms;
    w.service.on("PATCH", "/api/job-times/jt-1", slow);
    w.service.on("GET", "/api/job-times/jt-1", entry("jt-1", ""));
    SummaryView& view = w.show(stopped());
    click(view, "Zeit ist abrechenbar");
    click(view, "Speichern");
    ASSERT_TRUE(view.isSaving());
    QAbstractButton* save = button(view, "Speichern");
    ASSERT_NE(save, nullptr);
    EXPECT_FALSE(save->isEnabled());
    QTest::mouseClick(save, Qt::LeftButton);
    view.startSave();
    // The question's "Speichern" while the save runs is refused too.
    click(view, "Fertig");
    ASSERT_TRUE(view.isConfirming());
    view.confirmSave();
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.done == 1; }));
    test::spin(100ms);
    EXPECT_EQ(w.service.requestsTo("PATCH", "/api/job-times/jt-1").size(), 1u);
}

TEST(SummaryView, GoneWhileItsSaveIsUnderWay) {
    SummaryWorld w;
    FakeResponse slow = entry("jt-1", "");
    slow.delay = 200ms;
    w.service.on("PATCH", "/api/job-times/jt-1", slow);
    w.service.on("GET", "/api/job-times/jt-1", entry("jt-1", ""));
    SummaryView& view = w.show(stopped());
    click(view, "Zeit ist abrechenbar");
    click(view, "Speichern");
    // The dim layer closes the summary; the popover drops the panel.
    w.store().setLastStoppedSummary(std::nullopt);
    w.view.reset();
    test::spin(400ms);
    EXPECT_EQ(w.store().lastStoppedSummary(), std::nullopt);
    EXPECT_EQ(w.done, 0);
}

TEST(SummaryView, AnotherStopsSummaryBringsItsOwnDrafts) {
    SummaryWorld w;
    FakeResponse slow = entry("jt-1", "");
    slow.delay = 200ms;
    w.service.on("PATCH", "/api/job-times/jt-1", slow);
    w.service.on("GET", "/api/job-times/jt-1", entry("jt-1", ""));
    SummaryView& view = w.show(stopped("jt-1"));
    click(view, "Aufrunden, Rundungsrichtung");
    click(view, "Zeit ist abrechenbar");
    StoppedSummary second = stopped("jt-2");
    second.timeRoundDirection = QStringLiteral("closest");
    second.timeRoundValueMinutes = 5;
    w.store().setLastStoppedSummary(second);
    EXPECT_EQ(view.drafts(), drafts(true, "closest", 5));
    EXPECT_FALSE(view.figures().unsaved);

    // Saving the first, the second takes its place: the first's save ends
    // without closing the second's summary.
    w.store().setLastStoppedSummary(stopped("jt-1"));
    click(view, "Abrunden, Rundungsrichtung");
    click(view, "Zeit ist abrechenbar");
    click(view, "Speichern");
    ASSERT_TRUE(view.isSaving());
    w.store().setLastStoppedSummary(second);
    ASSERT_TRUE(test::eventuallyTrue([&] { return !view.isSaving(); }));
    EXPECT_EQ(w.done, 0);
    EXPECT_EQ(w.store().lastStoppedSummary(), second);
    EXPECT_EQ(view.drafts(), drafts(true, "closest", 5));
}

TEST(SummaryView, ASaveEndingAfterAnotherStopLeavesThatSummaryAlone) {
    // The earlier entry's save fails, or succeeds, once a later stop's summary
    // is up: no text of it lands there, and that one can be saved meanwhile.
    for (const int status : {500, 200}) {
        SummaryWorld w;
        FakeResponse slow = status == 200 ? entry("jt-1", "") : FakeResponse::json(status, "{}");
        slow.delay = 400ms;
        w.service.on("PATCH", "/api/job-times/jt-1", slow);
        w.service.on("GET", "/api/job-times/jt-1", entry("jt-1", ""));
        w.service.on("PATCH", "/api/job-times/jt-2", entry("jt-2", ""));
        w.service.on("GET", "/api/job-times/jt-2", entry("jt-2", ""));
        SummaryView& view = w.show(stopped("jt-1"));
        click(view, "Zeit ist abrechenbar");
        click(view, "Speichern");
        ASSERT_TRUE(view.isSaving());
        const StoppedSummary second = stopped("jt-2");
        w.store().setLastStoppedSummary(second);
        EXPECT_FALSE(view.isSaving()) << status;
        click(view, "Aufrunden, Rundungsrichtung");
        QAbstractButton* save = button(view, "Speichern");
        ASSERT_NE(save, nullptr);
        EXPECT_TRUE(save->isEnabled()) << status;
        ASSERT_TRUE(test::eventuallyTrue(
            [&] { return !w.service.requestsTo("PATCH", "/api/job-times/jt-1").empty(); }));
        ASSERT_TRUE(test::answersArrived()); // the earlier save's
        EXPECT_EQ(view.saveError(), std::nullopt) << status;
        EXPECT_EQ(w.done, 0);
        EXPECT_EQ(view.drafts(), drafts(true, "up", 1));
        QTest::mouseClick(save, Qt::LeftButton);
        ASSERT_TRUE(test::eventuallyTrue([&] { return w.done == 1; })) << status;
        EXPECT_EQ(w.service.requestsTo("PATCH", "/api/job-times/jt-2").size(), 1u);
    }
}

TEST(SummaryView, HostileValuesStayInThePanel) {
    SummaryWorld w;
    StoppedSummary s = stopped();
    s.clientName = QString(4000, u'K');
    s.jobTitle = QString(4000, u'J');
    s.taskTitle = QString(4000, u'T');
    s.clientInitials = QString(50, u'W');
    s.elapsedSecs = kMax;
    s.projectTrackedSecs = kMax;
    s.projectBudgetSecs = kMax;
    s.timeRoundValueMinutes = kMax;
    SummaryView& view = w.show(s);
    EXPECT_LE(view.minimumSizeHint().width(), 384);
    EXPECT_FALSE(view.grab().isNull());
    EXPECT_EQ(view.drafts().roundValue, kMax);
    EXPECT_EQ(view.findChild<QComboBox*>()->count(), 7);
    click(view, "Aufrunden, Rundungsrichtung");
    EXPECT_EQ(view.figures().previewSecs, kMax);
    EXPECT_FALSE(view.grab().isNull());
}

TEST(SummaryView, TheGridPickerIsAMenuButtonWithItsChoiceAtTheTrailingEdge) {
    SummaryWorld w;
    StoppedSummary s = stopped();
    s.timeRoundValueMinutes = 15;
    SummaryView& view = w.show(s);
    auto* grid = view.findChild<QComboBox*>();
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->currentText(), "15 Min");
    EXPECT_GE(grid->width(), 100);
    // Drawn alone on a known ground: no box, the text and chevrons trailing.
    grid->clearFocus();
    QImage picture(grid->size(), QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    grid->render(&picture, {}, {}, QWidget::DrawChildren);
    int leadingInk = 0, trailingInk = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (qAlpha(picture.pixel(x, y)) > 0)
                ++(x < picture.width() / 3 ? leadingInk : trailingInk);
    EXPECT_EQ(leadingInk, 0) << "nothing drawn at the leading third";
    EXPECT_GT(trailingInk, 20);
    // Its list comes in the panel's colours.
    EXPECT_EQ(grid->view()->palette().color(QPalette::Base), Palette::bgElevated());
    EXPECT_EQ(grid->view()->palette().color(QPalette::Text), Palette::textPrimary());
}

TEST(SummaryView, TheDurationCardGrowsWithItsTextsAtAnyHeight) {
    for (const int height : {520, 1000}) {
        SCOPED_TRACE(height);
        SummaryWorld w;
        StoppedSummary s = stopped();
        s.timeRoundValueMinutes = 15;
        s.taskTitle = QStringLiteral("Startseite gestalten");
        s.clientName = QStringLiteral("Bäckerei Sonnenschein");
        s.jobTitle = QStringLiteral("Shop-Relaunch");
        SummaryView& view = w.show(s);
        view.resize(384, height);
        click(view, "Kaufmännisch, Rundungsrichtung");
        QApplication::processEvents(); // one turn: what the next frame shows
        DigitText* duration = nullptr;
        for (auto* d : view.findChildren<DigitText*>())
            if (d->text() == view.figures().durationText)
                duration = d;
        ASSERT_NE(duration, nullptr);
        QWidget* card = duration->parentWidget();
        std::vector<QWidget*> below; // task title, then the rounding sentence
        for (auto* t : card->findChildren<TextBlock*>())
            if (t->y() > duration->y())
                below.push_back(t);
        ASSERT_EQ(below.size(), 2u);
        std::sort(below.begin(), below.end(),
                  [](QWidget* a, QWidget* b) { return a->y() < b->y(); });
        EXPECT_EQ(duration->height(), duration->sizeHint().height());
        EXPECT_EQ(below[0]->y(), duration->geometry().bottom() + 1 + 6);
        EXPECT_EQ(below[1]->y(), below[0]->geometry().bottom() + 1 + 4);
        for (QWidget* text : below)
            EXPECT_EQ(text->height(), text->heightForWidth(text->width()));
        for (auto* t : card->findChildren<TextBlock*>()) // names as common as these fit whole
            EXPECT_FALSE(t->shownText().contains(u'…')) << t->text().toStdString();
        EXPECT_LE(below[1]->geometry().bottom() + 20, card->height() - 1);
    }
}

// The rounding group is one stop, at its chosen option.
TEST(SummaryView, TabGoesFromControlToControlAndNeverToTheScrollingArea) {
    for (const auto& [direction, option] :
         {std::pair("down", "Abrunden"), {"closest", "Kaufmännisch"}}) {
        SummaryWorld w;
        StoppedSummary s = stopped();
        s.timeRoundDirection = QString::fromUtf8(direction);
        SummaryView& view = w.show(s);
        view.setFocus();
        const QStringList walked = test::tabWalk(6);
        EXPECT_EQ(walked.join(u',').toStdString(),
                  "Schließen,Zeit ist abrechenbar," + std::string(option) +
                      ", Rundungsrichtung,Minuten-Raster,Fertig,Schließen");
    }
}

TEST(SummaryView, WithoutASummaryItShowsNothing) {
    SummaryWorld w;
    SummaryView view(w.store(), [&] { ++w.done; });
    view.show();
    EXPECT_EQ(button(view, "Fertig"), nullptr);
    w.store().setLastStoppedSummary(stopped());
    EXPECT_NE(button(view, "Fertig"), nullptr);
    EXPECT_EQ(view.drafts(), drafts(true, "down", 1));
}

// The figures as sentences, the rounding as a group of radio buttons with the
// chosen one checked and in sight of the keyboard, the grid labelled.
TEST(SummaryView, AScreenReaderHearsTheFiguresAndTheChosenRounding) {
    SummaryWorld w;
    StoppedSummary s = stopped();
    s.projectBudgetSecs = 36000;
    s.projectTrackedSecs = 9000;
    SummaryView& view = w.show(s);
    EXPECT_EQ(test::heard(view.findChildren<StatCard*>().value(2)),
              std::pair(QAccessible::StaticText,
                        QStringLiteral("Budget genutzt 25%, 7 Stunden 30 frei")));
    EXPECT_EQ(test::heard(button(view, "Abrunden, Rundungsrichtung")->parent()),
              std::pair(QAccessible::Grouping, QStringLiteral("Rundung")));
    for (const char* chosen : {"Abrunden", "Aufrunden"}) {
        click(view, QString::fromUtf8(chosen) + QStringLiteral(", Rundungsrichtung"), true);
        for (auto* option : view.findChildren<QAbstractButton*>())
            if (auto* i = QAccessible::queryAccessibleInterface(option);
                i->role() == QAccessible::RadioButton) {
                EXPECT_EQ(i->state().checked, i->text(QAccessible::Name).startsWith(chosen));
            }
    }
    // The screen reader's action chooses as a click does.
    QAccessibleActionInterface* press =
        QAccessible::queryAccessibleInterface(button(view, "Kaufmännisch, Rundungsrichtung"))
            ->actionInterface();
    press->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(view.drafts().roundDirection, "closest");
    QAccessibleInterface* grid =
        QAccessible::queryAccessibleInterface(view.findChild<QComboBox*>());
    EXPECT_EQ(grid->relations(QAccessible::Label).value(0).first->text(QAccessible::Name),
              "Minuten-Raster");
    view.setDraftRoundValue(15);
    EXPECT_EQ(grid->text(QAccessible::Description), "15 Minuten");
    // What the panel says as it arrives.
    EXPECT_EQ(
        QAccessible::queryAccessibleInterface(&view)->text(QAccessible::Description).toStdString(),
        "Gebucht: 15 Minuten, Design, Kundin, Website. Gerundet: auf 15 Minuten kaufmännisch "
        "(nächster Wert). Start 09:00, heute. Ende 09:16, heute. Budget genutzt 2%, 9 "
        "Stunden 45 frei. Projekt gesamt 15 Minuten von 10 Stunden. Zeit wurde dem "
        "Projekt zugebucht.");
    for (const char* name : {"Schließen", "Aufrunden, Rundungsrichtung"}) {
        QAbstractButton* b = button(view, QString::fromUtf8(name));
        view.setFocus();
        const QImage before = b->grab().toImage();
        b->setFocus(Qt::TabFocusReason);
        EXPECT_NE(b->grab().toImage(), before) << name;
    }
}
