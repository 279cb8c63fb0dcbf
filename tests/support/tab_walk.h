#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace orvane::test {

// Where `steps` presses of Tab take the keyboard from the focused widget: each
// stop by its accessible name, or its class where it has none.
inline QStringList tabWalk(int steps) {
    QStringList walked;
    for (int i = 0; i < steps; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        const QWidget* focused = QApplication::focusWidget();
        if (!focused) {
            ADD_FAILURE() << "the keyboard went nowhere after " << i + 1 << " presses";
            break;
        }
        walked << (focused->accessibleName().isEmpty()
                       ? QString::fromLatin1(focused->metaObject()->className())
                       : focused->accessibleName());
    }
    return walked;
}

// A widget as a screen reader hears it: the role and name Qt hands on.
inline std::pair<QAccessible::Role, QString> heard(QObject* object) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    return {iface->role(), iface->text(QAccessible::Name)};
}

// Return, then its held repeat, on a focused button: how often it pressed.
inline int pressesOnReturn(QAbstractButton* button) {
    const QPointer<QAbstractButton> alive(button);
    button->window()->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(button->window()));
    button->setFocus(Qt::TabFocusReason);
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    QTest::keyClick(button, Qt::Key_Return);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    if (alive)
        QApplication::sendEvent(alive, &repeat);
    return int(clicked.count());
}

} // namespace orvane::test
