#include "app/popover_window.h"

#include "views/kit/palette.h"

#include <QApplication>
#include <QBackingStore>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include "app/popover_placement.h"

namespace orvane {

PopoverWindow::PopoverWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      slide_(this, "pos") {
    setObjectName(QStringLiteral("popover"));
    setWindowTitle(QStringLiteral("Orvane"));
    setFixedSize(kSize);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    slide_.setDuration(200);
    slide_.setEasingCurve(QEasingCurve::InOutQuad);
    // Closing as the application goes inactive covers desktops that send no
    // deactivation to a tool window.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s != Qt::ApplicationActive && isVisible() && !QApplication::activePopupWidget())
            closeByItself();
    });
}

void PopoverWindow::setContent(QWidget* content) {
    if (content_)
        content_->deleteLater();
    content_ = content;
    if (content)
        layout()->addWidget(content);
}

void PopoverWindow::openAt(const QRect& anchor) {
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), kSize);
    slide_.stop();
    move(popoverOrigin(anchor, size(), available));
    show();
    raise();
    // Without a window manager nothing gives a tool window the focus.
    activateWindow();
    if (content_)
        content_->setFocus(Qt::PopupFocusReason);
    Q_EMIT shownChanged(true);
}

void PopoverWindow::dismiss() {
    slide_.stop();
    if (!isVisible())
        return;
    hide();
    // The closed popover gives back the pixels behind it; the next opening
    // draws anew.
    if (QBackingStore* store = backingStore())
        store->resize(QSize(1, 1));
    Q_EMIT shownChanged(false);
}

void PopoverWindow::closeByItself() {
    closedByItself_.start();
    dismiss();
}

bool PopoverWindow::justClosedByItself() const {
    return closedByItself_.isValid() && closedByItself_.elapsed() < kToggleGraceMs;
}

void PopoverWindow::slideBy(int dx) {
    const QPoint from = sliding() ? slide_.endValue().toPoint() : pos();
    slide_.stop();
    slide_.setStartValue(pos());
    slide_.setEndValue(from + QPoint(dx, 0));
    slide_.start();
}

bool PopoverWindow::event(QEvent* event) {
    // A combo box's or menu's pop-up takes the activation without closing us,
    // also when the platform hands it over only after the pop-up closed.
    const QWidget* active = QApplication::activeWindow();
    const bool toOwnPopup = active && active->windowType() == Qt::Popup;
    if (event->type() == QEvent::WindowDeactivate && isVisible() &&
        !QApplication::activePopupWidget() && !toOwnPopup)
        closeByItself();
    return QWidget::event(event);
}

void PopoverWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Palette::bgDeep());
}

} // namespace orvane
