#include "app/popover_window.h"
#include "store/app_store.h"
#include "support/await.h"
#include "support/store_world.h"
#include "views/flow/summary_view.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QTest>

#include <gtest/gtest.h>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

StoppedSummary stopped() {
    StoppedSummary s;
    s.id = QUuid::createUuid();
    s.jobTimeServerId = QStringLiteral("jt-1");
    s.startedAt = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);
    s.endedAt = s.startedAt.addSecs(960);
    s.elapsedSecs = 960;
    return s;
}

int visibleWindows() {
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        count += w->isVisible() ? 1 : 0;
    return count;
}

} // namespace

// The grid's pop-up and the unsaved-changes question must not take the
// popover down: a lost activation closes it.
TEST(SummaryInPopover, TheGridPickerAndTheQuestionKeepThePopoverOpen) {
    test::StoreWorld w;
    w.store().setIsLoggedIn(true);
    w.store().setLastStoppedSummary(stopped());
    PopoverWindow popover;
    auto* summary = new SummaryView(w.store(), [] {});
    popover.setContent(summary);
    popover.openAt(QRect(600, 0, 20, 20));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&popover));

    auto* grid = summary->findChild<QComboBox*>();
    ASSERT_NE(grid, nullptr);
    grid->showPopup();
    ASSERT_NE(QApplication::activePopupWidget(), nullptr);
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(&popover, &deactivate);
    EXPECT_TRUE(popover.isVisible());
    QTest::keyClick(grid->view(), Qt::Key_Down);
    QTest::keyClick(grid->view(), Qt::Key_Return);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_TRUE(popover.isVisible());
    EXPECT_EQ(summary->drafts().roundValue, 5);

    const int windows = visibleWindows();
    for (auto* b : summary->findChildren<QAbstractButton*>())
        if (b->accessibleName() == QStringLiteral("Fertig"))
            QTest::mouseClick(b, Qt::LeftButton);
    ASSERT_TRUE(summary->isConfirming());
    EXPECT_EQ(visibleWindows(), windows); // drawn inside, no window of its own
    EXPECT_TRUE(popover.isVisible());
}

// Where the platform hands the activation to a pop-up only once it has
// closed again (a quick pick), the popover stays open.
TEST(SummaryInPopover, APopUpsLateActivationKeepsThePopoverOpen) {
    test::StoreWorld w;
    w.store().setIsLoggedIn(true);
    w.store().setLastStoppedSummary(stopped());
    PopoverWindow popover;
    auto* summary = new SummaryView(w.store(), [] {});
    popover.setContent(summary);
    popover.openAt(QRect(600, 0, 20, 20));
    ASSERT_TRUE(QTest::qWaitForWindowActive(&popover));

    auto* grid = summary->findChild<QComboBox*>();
    ASSERT_NE(grid, nullptr);
    grid->showPopup();
    QTest::keyClick(grid->view(), Qt::Key_Down);
    QTest::keyClick(grid->view(), Qt::Key_Return);
    ASSERT_EQ(QApplication::activePopupWidget(), nullptr);
    test::spin(100ms);
    EXPECT_TRUE(popover.isVisible());
    EXPECT_EQ(summary->drafts().roundValue, 5);
}
