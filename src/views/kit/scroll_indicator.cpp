#include "views/kit/scroll_indicator.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QScrollArea>
#include <QScrollBar>

namespace orvane {

namespace {

// Keeps the overlay in step with the area's hidden bar and at its edge.
class OverlayIndicator : public QScrollBar {
public:
    OverlayIndicator(QAbstractScrollArea* area, int width)
        : QScrollBar(Qt::Vertical, area), area_(area), width_(width) {
        QScrollBar* source = area->verticalScrollBar();
        area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setFocusPolicy(Qt::NoFocus);
        follow();
        connect(source, &QScrollBar::rangeChanged, this, [this] { follow(); });
        connect(source, &QScrollBar::valueChanged, this, &QScrollBar::setValue);
        connect(this, &QScrollBar::valueChanged, source, &QScrollBar::setValue);
        area->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == area_ &&
            (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
            follow();
        return QScrollBar::eventFilter(watched, event);
    }

private:
    void follow() {
        const QScrollBar* source = area_->verticalScrollBar();
        setPageStep(source->pageStep());
        setSingleStep(source->singleStep());
        setRange(source->minimum(), source->maximum());
        setValue(source->value());
        const QRect box = area_->contentsRect();
        setGeometry(box.right() + 1 - width_, box.top(), width_, box.height());
        setVisible(source->maximum() > source->minimum());
        raise();
    }

    QAbstractScrollArea* area_;
    int width_;
};

} // namespace

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

QScrollBar* overlayScrollIndicator(QAbstractScrollArea* area, int width) {
    return new OverlayIndicator(area, width);
}

} // namespace orvane
