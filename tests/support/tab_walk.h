#pragma once

#include <QApplication>
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

} // namespace orvane::test
