#include "app/popover_window.h"

#include "views/kit/palette.h"

#include <QApplication>
#include <QBackingStore>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <qpa/qplatformscreen.h>

#include "app/desktop_window.h"
#include "app/popover_placement.h"

namespace orvane {

QRect popoverAreaOf(const QScreen& screen, const std::optional<DesktopPanels>& panels) {
    const QPlatformScreen* platform = screen.handle();
    if (!platform)
        return screen.availableGeometry();
    // Panels and the window manager speak in the window system's pixels.
    QRect native = platform->availableGeometry();
    if (panels)
        native = panelFreeArea(platform->geometry(), native, *panels);
    const QPoint logicalOrigin = screen.geometry().topLeft();
    return placementArea(screen.availableGeometry().translated(-logicalOrigin),
                         native.translated(-platform->geometry().topLeft()),
                         screen.devicePixelRatio())
        .translated(logicalOrigin);
}

PopoverWindow::PopoverWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      slide_(this, "pos") {
    setObjectName(QStringLiteral("popover"));
    setWindowTitle(QStringLiteral("Orvane"));
    setFixedSize(kSize);
    keepHiddenWindowsHidden();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    slide_.setDuration(200);
    slide_.setEasingCurve(QEasingCurve::InOutQuad);
    // Closing as the application goes inactive covers desktops that send no
    // deactivation to a tool window.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s != Qt::ApplicationActive && isVisible() && !dismissing_ &&
            !QApplication::activePopupWidget())
            closeBecauseInactive();
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
    available_ = screen ? popoverAreaOf(*screen, desktopPanels()) : QRect(QPoint(0, 0), kSize);
    slide_.stop();
    move(popoverOrigin(anchor, size(), available_));
    followed_ = pos();
    // A window minimised once (from a taskbar) would be shown minimised again.
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    const bool wasVisible = isVisible();
    if (!wasVisible)
        keepOffTaskbar(this, DesktopPresence::CurrentWorkspace, false);
    show();
    keepOffTaskbar(this, DesktopPresence::CurrentWorkspace, true);
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
    // Our own hiding takes the activation away: that is no close by itself.
    dismissing_ = true;
    hide();
    dismissing_ = false;
    // The closed popover gives back the pixels behind it; the next opening
    // draws anew.
    if (QBackingStore* store = backingStore())
        store->resize(QSize(1, 1));
    Q_EMIT shownChanged(false);
}

void PopoverWindow::closeBecauseInactive() {
    closedByItself_.start();
    dismiss();
    Q_EMIT closedByItself();
}

bool PopoverWindow::justClosedByItself() const {
    return closedByItself_.isValid() && closedByItself_.elapsed() < kToggleGraceMs;
}

void PopoverWindow::slideBy(int dx) {
    // Moves add up where the anchor would put the popover; only what shows
    // is kept on the screen, so a move out and back again ends where it began.
    followed_ += QPoint(dx, 0);
    const QPoint to = available_.isValid() ? keptInside(followed_, size(), available_) : followed_;
    if (to == slideTarget())
        return;
    slide_.stop();
    slide_.setStartValue(pos());
    slide_.setEndValue(to);
    slide_.start();
}

QPoint PopoverWindow::slideTarget() const {
    return sliding() ? slide_.endValue().toPoint() : pos();
}

bool PopoverWindow::event(QEvent* event) {
    // A combo box's or menu's pop-up takes the activation without closing us,
    // also when the platform hands it over only after the pop-up closed.
    const QWidget* active = QApplication::activeWindow();
    const bool toOwnPopup = active && active->windowType() == Qt::Popup;
    if (event->type() == QEvent::WindowDeactivate && isVisible() && !dismissing_ &&
        !QApplication::activePopupWidget() && !toOwnPopup)
        closeBecauseInactive();
    return QWidget::event(event);
}

void PopoverWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Minimised by the desktop (a taskbar, a key of the window manager): that
    // is a close, and the next opening shows it again.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && isVisible())
        dismiss();
}

void PopoverWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier &&
        (!escapeCloses_ || escapeCloses_())) {
        dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PopoverWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Palette::bgDeep());
}

} // namespace orvane
