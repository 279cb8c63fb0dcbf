#include "app/pill_window.h"

#include "app/desktop_window.h"
#include "views/kit/palette.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

namespace orvane {

namespace {
constexpr qreal kRadius = 9;
}

PillWindow::PillWindow(AppStore& store, std::function<void()> onTap)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      pill_(new MenuBarPillView(store, std::move(onTap), this)) {
    setObjectName(QStringLiteral("pill"));
    setWindowTitle(QStringLiteral("Orvane"));
    setAccessibleName(QStringLiteral("Orvane"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Wayland ignores a mask, and every Wayland compositor blends: there the
    // corners are transparent pixels instead.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        setAttribute(Qt::WA_TranslucentBackground);
    keepHiddenWindowsHidden();
    pill_->move(kPaddingX, kPaddingY);
    pill_->resize(pill_->sizeHint());
    setItemLength(pill_->sizeHint().width());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        connect(screen, &QScreen::availableGeometryChanged, this, &PillWindow::place);
}

void PillWindow::setItemLength(int length) {
    pill_->resize(length, pill_->sizeHint().height());
    const QSize size(length + 2 * kPaddingX, pill_->height() + 2 * kPaddingY);
    if (size == this->size())
        return;
    setFixedSize(size);
    if (!testAttribute(Qt::WA_TranslucentBackground)) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), kRadius, kRadius);
        setMask(QRegion(shape.toFillPolygon().toPolygon()));
    }
    place();
}

void PillWindow::place() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    placedAt_ = QPoint(available.right() + 1 - kMargin - width(),
                       available.bottom() + 1 - kMargin - height());
    move(placedAt_);
}

void PillWindow::setVisible(bool visible) {
    const bool showing = visible && !isVisible();
    if (showing)
        keepOffTaskbar(this, DesktopPresence::EveryWorkspace, false);
    QWidget::setVisible(visible);
    if (showing)
        keepOffTaskbar(this, DesktopPresence::EveryWorkspace, true);
}

QRect PillWindow::anchor() const {
    return QRect(placedAt_, size());
}

QPoint PillWindow::pillCenter() const {
    return placedAt_ + pill_->geometry().center();
}

void PillWindow::mouseReleaseEvent(QMouseEvent* event) {
    if ((event->button() == Qt::LeftButton || event->button() == Qt::RightButton) &&
        rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

void PillWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    Q_EMIT geometryChanged();
}

void PillWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Q_EMIT geometryChanged();
}

void PillWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (testAttribute(Qt::WA_TranslucentBackground)) {
        // No mask where the compositor blends: the rounded shape is painted.
        QPainterPath outline;
        outline.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kRadius, kRadius);
        painter.fillPath(outline, Palette::bgDeep());
        painter.setPen(QPen(Palette::border(), 1));
        painter.drawPath(outline);
        return;
    }
    // The mask cuts whole device pixels; at a fractional scale an outline
    // stroked along the edge falls beside them as stray lines. The border is
    // the mask's own edge instead, one pixel in from it, scaled as the mask is.
    // A window whose scaled size is rounded up has a last pixel column and
    // row beyond its logical rect: they are painted too.
    const QRect all = rect().adjusted(0, 0, 1, 1);
    const QRegion shape = mask().isEmpty() ? QRegion(all) : mask();
    painter.fillRect(all, Palette::bgDeep());
    painter.fillRect(all, Palette::border());
    painter.setClipRegion(shape & shape.translated(1, 0) & shape.translated(-1, 0) &
                          shape.translated(0, 1) & shape.translated(0, -1));
    painter.fillRect(all, Palette::bgDeep());
}

} // namespace orvane
