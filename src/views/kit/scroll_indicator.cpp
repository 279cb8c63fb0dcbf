#include "views/kit/scroll_indicator.h"

#include <QScrollArea>
#include <QScrollBar>

namespace orvane {

void useThinScrollIndicator(QScrollArea* area, bool lightGround) {
    const QString handle = lightGround ? QStringLiteral("rgba(0, 0, 0, 70)")
                                       : QStringLiteral("rgba(255, 255, 255, 60)");
    area->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 8px; margin: 2px; }"
                       "QScrollBar::handle:vertical { background: %1; border-radius: 2px;"
                       " min-height: 24px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical {"
                       " background: none; }")
            .arg(handle));
}

} // namespace orvane
