// The timer roads through the real windows: shortcuts, the session flow,
// the multi-timer choice, the summary, a quit and a new start, and a service
// that goes away for a while; the panel item's label as the panel reads it.

#include "e2e_ui/app_world.h"

#include "support/await.h"
#include "views/flow/flow_step_page.h"
#include "views/flow/flow_widgets.h"
#include "views/flow/multi_timer_choice_sheet.h"
#include "views/flow/session_flow_view.h"
#include "views/flow/summary_view.h"
#include "views/popover/active_session_card.h"
#include "views/popover/recent_section.h"
#include "views/popover/today_card.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::e2e;

namespace {

constexpr auto kCtrlShift = Qt::ControlModifier | Qt::ShiftModifier;

class TimerRoad : public ::testing::Test {
protected:
    void SetUp() override {
        step("launch and sign in", [&] {
            world.launch();
            world.signInThroughView(kDemoEmail);
            ASSERT_NE(world.todayCard(), nullptr);
        });
    }

    // Types where the keyboard focus is.
    void typeKeys(const QString& text) { QTest::keyClicks(QApplication::focusWidget(), text); }
    SessionFlowView* flow() { return world.panel<SessionFlowView>(); }
    // The flow has moved to `step` and has its list.
    bool flowAt(int step) {
        return test::eventuallyTrue([&] {
            return flow() && flow()->state().step() == step && !flow()->state().loadingClients() &&
                   !flow()->state().loadingJobs() && !flow()->state().loadingTasks();
        });
    }
    QString jobTimeOnService(const QString& id, const char* member) {
        const QJsonObject entry =
            world.call("/api/job-times/" + id.toStdString()).second.value("data").toObject();
        return entry.value(QLatin1String(member)).toVariant().toString();
    }

    AppWorld world;
};

} // namespace

TEST_F(TimerRoad, TheShortcutPicksClientJobAndTaskByKeyboardAndTheClockRuns) {
    if (!step("Ctrl+Shift+N", [&] {
            world.press(Qt::Key_N, kCtrlShift);
            ASSERT_TRUE(flowAt(0)) << "the session flow with its clients";
            ASSERT_TRUE(test::eventuallyTrue([&] {
                return QApplication::focusWidget() == flow()->searchField();
            })) << "the keyboard is in the search field";
        }))
        return;
    if (!step("client", [&] {
            typeKeys(QStringLiteral("nord"));
            world.press(Qt::Key_Return);
            ASSERT_TRUE(flowAt(1));
            EXPECT_EQ(flow()->subtitleLabel()->text(), "Nordlicht Design");
        }))
        return;
    if (!step("job", [&] {
            world.press(Qt::Key_Down); // Logo-Überarbeitung, then Geschäftsausstattung
            world.press(Qt::Key_Return);
            ASSERT_TRUE(flowAt(2));
            EXPECT_EQ(flow()->subtitleLabel()->text(), "Nordlicht Design · Geschäftsausstattung");
        }))
        return;
    if (!step("task", [&] {
            world.press(Qt::Key_Return); // the first: Visitenkarten
            ASSERT_TRUE(test::eventuallyTrue([&] { return !flow(); })) << "the flow stays open";
            ASSERT_TRUE(test::eventuallyTrue([&] { return world.cardTask() == "Visitenkarten"; }));
            world.settle();
        }))
        return;
    step("the running clock", [&] {
        EXPECT_EQ(world.sessionCard()->content().clientLine,
                  "Nordlicht Design · Geschäftsausstattung");
        EXPECT_TRUE(world.labelShows("00:00:00"));
        world.advance(75s);
        EXPECT_TRUE(world.labelShows("00:01:15"));
        EXPECT_EQ(world.sessionCard()->content().elapsedText, "01:15");
        const auto running = world.runningOnService();
        ASSERT_EQ(running.size(), 1u);
        EXPECT_EQ(running.front().value("jobtask_id").toString(), "403");
    });
}

TEST_F(TimerRoad, ASecondStartAsksAndStopAndStartLeavesOneTimerRunning) {
    QString first;
    if (!step("first timer", [&] {
            world.startRecent(QStringLiteral("Entwürfe"));
            ASSERT_EQ(world.runningOnService().size(), 1u);
            first = world.runningOnService().front().value("id").toString();
            world.advance(10min);
        }))
        return;
    if (!step("a second start from a recent task", [&] {
            world.playRecent(QStringLiteral("Produktseiten"));
            ASSERT_TRUE(test::eventuallyTrue([&] { return world.panel<MultiTimerChoiceSheet>(); }))
                << "no choice";
            auto* sheet = world.panel<MultiTimerChoiceSheet>();
            EXPECT_EQ(sheet->runningCard()->title, "Entwürfe");
            EXPECT_EQ(sheet->pendingCard()->title, "Produktseiten");
            EXPECT_EQ(world.cardTask(), "Entwürfe") << "the first runs on meanwhile";
        }))
        return;
    if (!step("stop and start", [&] {
            world.click(world.button(QStringLiteral("Laufenden Timer beenden")));
            ASSERT_TRUE(test::eventuallyTrue([&] { return world.cardTask() == "Produktseiten"; }));
            EXPECT_TRUE(test::eventuallyTrue([&] { return !world.root().isOverlayPresented(); }));
            world.settle();
            EXPECT_TRUE(world.labelShows("00:00:00")) << "the new timer's clock";
        }))
        return;
    step("on the stand-in", [&] {
        const auto running = world.runningOnService();
        ASSERT_EQ(running.size(), 1u) << "one timer runs";
        EXPECT_EQ(running.front().value("jobtask_id").toString(), "404");
        EXPECT_FALSE(jobTimeOnService(first, "end_time").isEmpty()) << "the first is stopped";
    });
}

TEST_F(TimerRoad, StopShowsTheSummaryWhoseSaveReachesTheServiceAndTheFiguresFollow) {
    QString id;
    if (!step("a timer of 25 minutes", [&] {
            world.startRecent(QStringLiteral("Entwürfe"));
            id = world.runningOnService().front().value("id").toString();
            world.advance(25min + 10s);
        }))
        return;
    if (!step("Ctrl+Shift+T", [&] {
            world.press(Qt::Key_T, kCtrlShift);
            ASSERT_TRUE(test::eventuallyTrue([&] { return world.panel<SummaryView>(); }))
                << "no summary";
            EXPECT_EQ(world.sessionCard(), nullptr);
            EXPECT_TRUE(world.runningOnService().empty());
            // Nordlicht books up to 15 minutes.
            EXPECT_EQ(world.panel<SummaryView>()->figures().durationText, "0:30");
        }))
        return;
    if (!step("billable and rounding", [&] {
            world.click(world.button(QStringLiteral("Zeit ist abrechenbar")));
            world.click(world.button(QStringLiteral("Kaufmännisch, Rundungsrichtung")));
            auto* grid = world.panel<SummaryView>()->findChild<QComboBox*>();
            world.click(grid);
            ASSERT_TRUE(test::eventuallyTrue([] { return QApplication::activePopupWidget(); }));
            QTest::keyClick(grid->view(), Qt::Key_Down); // 15 → 30
            QTest::keyClick(grid->view(), Qt::Key_Return);
            EXPECT_TRUE(world.popoverShown()) << "the grid's pop-up closed the popover";
            EXPECT_EQ(world.panel<SummaryView>()->drafts(), (SummaryDrafts{false, "closest", 30}));
        }))
        return;
    if (!step("save", [&] {
            world.click(world.button(QStringLiteral("Speichern")));
            ASSERT_TRUE(test::eventuallyTrue([&] { return !world.panel<SummaryView>(); }))
                << "the summary stays";
            world.settle();
            EXPECT_EQ(jobTimeOnService(id, "billable"), "false");
            EXPECT_EQ(jobTimeOnService(id, "round_direction"), "closest");
            EXPECT_EQ(jobTimeOnService(id, "round_value"), "30");
        }))
        return;
    step("the figures follow", [&] {
        ASSERT_TRUE(world.popoverShown());
        EXPECT_TRUE(test::eventuallyTrue([&] {
            return world.todayCard()->figures().counts == "2 Sessions · 2 Projekte";
        })) << world.todayCard()->figures().counts.toStdString();
        // The billable sum comes with a reply of its own, maybe after the counts.
        const QString billable = QString::fromUtf16(u"+137,50\u00a0€ abrechenbar");
        EXPECT_TRUE(test::eventuallyTrue([&] {
            return world.todayCard()->figures().billable == billable;
        })) << "the new half hour is not billable: "
            << world.todayCard()->figures().billable.toStdString();
        EXPECT_TRUE(world.labelShows("01:45:00")) << "today's total with the half hour";
    });
}

TEST_F(TimerRoad, AServiceThatGoesAwayShowsTheErrorAndLosesNoTimer) {
    const int port = world.service().port();
    if (!step("a timer runs", [&] {
            world.startRecent(QStringLiteral("Entwürfe"));
            world.advance(1min);
            EXPECT_TRUE(world.labelShows("00:01:00"));
        }))
        return;
    if (!step("the service goes away; a sync fails", [&] {
            world.service().stop();
            world.advance(22s); // the popover's sync loop
            test::spin(300ms);
            EXPECT_EQ(world.cardTask(), "Entwürfe") << "a failed sync drops nothing";
            EXPECT_TRUE(world.labelShows("00:01:22"));
        }))
        return;
    if (!step("a stop fails with the store's text", [&] {
            QElapsedTimer took;
            took.start();
            world.press(Qt::Key_T, kCtrlShift);
            ASSERT_TRUE(test::eventuallyTrue([&] {
                return !world.root().errorLineText().isEmpty();
            })) << "no error line";
            // Long before the request timeouts (a minute): a refused
            // connection is a failure at once, not after a wait.
            EXPECT_LT(took.elapsed(), 20000) << "the failure took its time";
            EXPECT_EQ(world.root().errorLineText(),
                      "Es konnte keine Verbindung zum Server hergestellt werden.");
            EXPECT_EQ(world.cardTask(), "Entwürfe") << "the timer runs on";
            EXPECT_EQ(world.panel<SummaryView>(), nullptr);
            world.advance(1s);
            EXPECT_TRUE(world.labelShows("00:01:23")) << "the clock goes on";
        }))
        return;
    if (!step("the service is back; the next sync", [&] {
            world.service().start(QStringLiteral("127.0.0.1"), port);
            world.advance(22s);
            world.settle();
            EXPECT_EQ(world.cardTask(), "Entwürfe");
            EXPECT_TRUE(world.labelShows("00:01:45"));
            EXPECT_EQ(world.runningOnService().size(), 1u) << "still running on the stand-in";
        }))
        return;
    step("and the stop goes through", [&] {
        world.press(Qt::Key_T, kCtrlShift);
        ASSERT_TRUE(test::eventuallyTrue([&] { return world.panel<SummaryView>(); }));
        EXPECT_TRUE(world.root().errorLineText().isEmpty());
        EXPECT_TRUE(world.runningOnService().empty());
    });
}

TEST(NotReadyRoad, TheClientStepShowsTheServicesReasonAndNothingStarts) {
    AppWorld world;
    if (!step("launch and sign in", [&] {
            world.launch();
            world.signInThroughView(kNotReadyEmail);
            ASSERT_NE(world.todayCard(), nullptr) << "the account signs in; only work is refused";
        }))
        return;
    if (!step("Ctrl+Shift+N", [&] {
            world.press(Qt::Key_N, kCtrlShift);
            ASSERT_TRUE(test::eventuallyTrue([&] {
                auto* flow = world.panel<SessionFlowView>();
                return flow && !flow->state().loadingClients();
            }));
        }))
        return;
    if (!step("the client step", [&] {
            FlowStepPage* clients = world.panel<SessionFlowView>()->page(0);
            EXPECT_EQ(clients->content(), StepContent::Failed);
            EXPECT_EQ(clients->headline()->text(), "Kunden konnten nicht geladen werden");
            EXPECT_EQ(clients->errorLine()->text(),
                      "Bitte unterzeichne den Auftragsverarbeitungsvertrag (AVV) im Web in deinem "
                      "Profil.");
        }))
        return;
    step("nothing starts", [&] {
        world.press(Qt::Key_Return);
        world.press(Qt::Key_Escape);
        EXPECT_TRUE(test::eventuallyTrue([&] { return !world.panel<SessionFlowView>(); }));
        ASSERT_TRUE(test::answersArrived()); // of a start the keys would have asked for
        world.advance(1min);
        // Past the next tick of a clock that would run: timers due earlier fire first.
        bool pastTheNextTick = false;
        QObject marker;
        QTimer::singleShot(1005, Qt::PreciseTimer, &marker, [&] { pastTheNextTick = true; });
        ASSERT_TRUE(test::eventuallyTrue([&] { return pastTheNextTick; }));
        EXPECT_EQ(world.sessionCard(), nullptr);
        EXPECT_EQ(world.panelLabel(), "00:00:00") << "no clock runs";
    });
}

// "Angemeldet bleiben" decides whether the next start signs in by itself
// and brings the running timer back.
TEST(RestartRoad, TheNextStartRestoresSignInAndTimerOnlyWhenRemembered) {
    for (const bool remember : {true, false}) {
        SCOPED_TRACE(remember ? "Angemeldet bleiben on" : "Angemeldet bleiben off");
        AppWorld world;
        if (!step("sign in", [&] {
                world.launch();
                world.openPopover();
                auto* row = world.named<QAbstractButton>("rememberMe");
                ASSERT_NE(row, nullptr);
                EXPECT_EQ(row->text(), "Angemeldet bleiben");
                EXPECT_TRUE(row->isChecked()) << "on unless switched off";
                if (!remember)
                    world.click(row);
                EXPECT_EQ(row->isChecked(), remember);
                world.signInThroughView(kDemoEmail);
                ASSERT_NE(world.todayCard(), nullptr);
            }))
            continue;
        if (!step("a timer runs", [&] {
                world.startRecent(QStringLiteral("Entwürfe"));
                world.advance(5min);
                EXPECT_TRUE(world.labelShows("00:05:00"));
            }))
            continue;
        if (!step("quit and start again", [&] {
                world.settle();
                world.quit();
                world.advance(1min);
                world.launch();
                world.settle();
            }))
            continue;
        step("the next start", [&] {
            world.openPopover();
            if (remember) {
                EXPECT_TRUE(world.labelShows("00:06:00")) << world.panelLabel().toStdString();
                EXPECT_EQ(world.loginView(), nullptr) << "no sign-in asked";
                EXPECT_EQ(world.cardTask(), "Entwürfe");
                EXPECT_EQ(world.runningOnService().size(), 1u);
            } else {
                EXPECT_EQ(world.panelLabel(), "Orvane") << "signed out: never empty";
                EXPECT_NE(world.loginView(), nullptr);
            }
        });
    }
}
