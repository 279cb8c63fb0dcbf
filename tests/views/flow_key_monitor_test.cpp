#include "views/flow/flow_key_monitor.h"

#include <QApplication>
#include <QLineEdit>
#include <QShortcut>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

#include <gtest/gtest.h>

namespace orvane {
namespace {

// A window with a focused search field and the monitor anchored in it.
struct MonitoredWindow {
    QWidget window;
    QLineEdit* field = new QLineEdit(&window);
    QWidget* anchor = new QWidget(&window);
    QStringList calls;
    FlowKeyMonitor monitor{callbacks("")};

    MonitoredWindow() {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(field);
        layout->addWidget(anchor);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        field->setFocus();
        monitor.attach(anchor);
    }
    FlowKeyMonitor::Callbacks callbacks(const QString& tag) {
        return {.onArrowUp = [this, tag] { calls << tag + "up"; },
                .onArrowDown = [this, tag] { calls << tag + "down"; },
                .onReturn = [this, tag] { calls << tag + "return"; },
                .onEscape = [this, tag] { calls << tag + "escape"; }};
    }
};

TEST(FlowKeyMonitor, FiveKeysRunTheirCallbackOnceAndNeverReachTheField) {
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        QString call;
    } cases[] = {
        {Qt::Key_Up, Qt::NoModifier, "up"},
        {Qt::Key_Down, Qt::NoModifier, "down"},
        {Qt::Key_Return, Qt::NoModifier, "return"},
        {Qt::Key_Enter, Qt::KeypadModifier, "return"},
        {Qt::Key_Escape, Qt::NoModifier, "escape"},
        {Qt::Key_Down, Qt::ControlModifier, "down"},
        {Qt::Key_Return, Qt::ShiftModifier | Qt::AltModifier, "return"},
    };
    MonitoredWindow w;
    QSignalSpy submitted(w.field, &QLineEdit::returnPressed);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call.toStdString());
        w.calls.clear();
        w.field->setText("ab");
        w.field->setCursorPosition(1);
        QTest::keyClick(w.field, c.key, c.modifiers);
        // The window's own path as the platform delivers it.
        QTest::keyClick(w.window.windowHandle(), c.key, c.modifiers);
        EXPECT_EQ(w.calls, QStringList({c.call, c.call}));
        EXPECT_EQ(w.field->cursorPosition(), 1); // Up and Down would move it
    }
    EXPECT_EQ(submitted.count(), 0);
}

TEST(FlowKeyMonitor, TypingAndOtherKeysPassThroughToTheField) {
    MonitoredWindow w;
    QTest::keyClicks(w.field, "Ac 1");
    QTest::keyClick(w.field, Qt::Key_Left);
    QTest::keyClick(w.field, Qt::Key_Backspace);
    QTest::keyClick(w.field, Qt::Key_Right);
    QTest::keyClick(w.field, Qt::Key_Tab);
    QTest::keyClick(w.field, Qt::Key_Delete);
    EXPECT_EQ(w.field->text(), "Ac1");
    EXPECT_TRUE(w.calls.isEmpty());
}

TEST(FlowKeyMonitor, ShortcutsOfTheWindowKeepTheirLettersButNotTheFlowKeys) {
    MonitoredWindow w;
    QShortcut escape(QKeySequence(Qt::Key_Escape), &w.window);
    QShortcut newFlow(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N), &w.window);
    QSignalSpy escapes(&escape, &QShortcut::activated);
    QSignalSpy opens(&newFlow, &QShortcut::activated);
    QTest::keyClick(w.field, Qt::Key_Escape);
    QTest::keyClick(w.field, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(escapes.count(), 0);
    EXPECT_EQ(opens.count(), 1);
    EXPECT_EQ(w.calls, QStringList{"escape"});
}

// Installed before the flow's, like the popover's own key handling.
class EarlierFilter : public QObject {
public:
    int keys = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        keys += event->type() == QEvent::KeyPress;
        return false;
    }
};

TEST(FlowKeyMonitor, SeesItsKeysBeforeFiltersInstalledEarlier) {
    EarlierFilter earlier;
    qApp->installEventFilter(&earlier);
    {
        MonitoredWindow w;
        QTest::keyClick(w.field, Qt::Key_Escape);
        EXPECT_EQ(earlier.keys, 0);
        QTest::keyClick(w.field, Qt::Key_A);
        EXPECT_EQ(earlier.keys, 1);
        // The other filter registered again later; attaching again puts the
        // flow's first once more.
        qApp->installEventFilter(&earlier);
        w.monitor.attach(w.anchor);
        QTest::keyClick(w.field, Qt::Key_Escape);
        EXPECT_EQ(earlier.keys, 1);
        EXPECT_EQ(w.calls, QStringList({"escape", "escape"}));
    }
    qApp->removeEventFilter(&earlier);
}

TEST(FlowKeyMonitor, KeysOfAnotherWindowPassUntouched) {
    MonitoredWindow w;
    QWidget other;
    auto* field = new QLineEdit(&other);
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    field->setFocus();
    QSignalSpy submitted(field, &QLineEdit::returnPressed);
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Down);
    EXPECT_EQ(submitted.count(), 1);
    EXPECT_TRUE(w.calls.isEmpty());
}

TEST(FlowKeyMonitor, AfterDetachingOrWhileHiddenTheWindowGetsTheKeysAgain) {
    const struct {
        const char* name;
        void (*leave)(MonitoredWindow&);
    } cases[] = {
        {"detached", [](MonitoredWindow& w) { w.monitor.detach(); }},
        {"anchor hidden", [](MonitoredWindow& w) { w.anchor->hide(); }},
        {"anchor gone", [](MonitoredWindow& w) { delete w.anchor; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MonitoredWindow w;
        c.leave(w);
        QSignalSpy submitted(w.field, &QLineEdit::returnPressed);
        QTest::keyClick(w.field, Qt::Key_Return);
        QTest::keyClick(w.field, Qt::Key_Escape);
        EXPECT_EQ(submitted.count(), 1);
        EXPECT_TRUE(w.calls.isEmpty());
    }
}

TEST(FlowKeyMonitor, ReplacedCallbacksRunFromTheNextKeyOn) {
    MonitoredWindow w;
    QTest::keyClick(w.field, Qt::Key_Up);
    w.monitor.setCallbacks(w.callbacks("new "));
    QTest::keyClick(w.field, Qt::Key_Up);
    // Attaching again keeps one filter: one call per key.
    w.monitor.attach(w.anchor);
    QTest::keyClick(w.field, Qt::Key_Down);
    EXPECT_EQ(w.calls, QStringList({"up", "new up", "new down"}));
    EXPECT_TRUE(w.monitor.isAttached());
}

} // namespace
} // namespace orvane
