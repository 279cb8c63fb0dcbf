#pragma once

#include <QWidget>

namespace orvane::test {

// What the announcer of `within`'s window says to screen readers now; empty
// when it says nothing.
inline QString announced(const QWidget* within) {
    const auto* bar = within->window()->findChild<QWidget*>(QStringLiteral("orvaneAnnouncer"),
                                                            Qt::FindDirectChildrenOnly);
    const auto* said = bar ? bar->findChild<QWidget*>() : nullptr;
    return said && said->isVisible() ? said->accessibleName() : QString();
}

} // namespace orvane::test
