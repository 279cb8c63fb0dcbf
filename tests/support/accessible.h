#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace orvane::test {

// A widget as a screen reader hears it: the role and name Qt hands on.
inline std::pair<QAccessible::Role, QString> heard(QObject* object) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    if (!iface)
        return {QAccessible::NoRole, QStringLiteral("(not accessible)")};
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
    if (alive) {
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(alive, &repeat);
    }
    return int(clicked.count());
}

} // namespace orvane::test
