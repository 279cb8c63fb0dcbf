#include "views/flow/flow_step_stage.h"

#include <QMouseEvent>
#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

// The page that was: drawn from its picture; clicks on it end here.
class OutgoingPicture : public QWidget {
public:
    using QWidget::QWidget;
    void setPicture(QPixmap picture) {
        picture_ = std::move(picture);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (picture_.isNull())
            return;
        QPainter p(this);
        p.drawPixmap(0, 0, picture_);
    }
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override { event->accept(); }
    void mouseDoubleClickEvent(QMouseEvent* event) override { event->accept(); }

private:
    QPixmap picture_;
};

// Position of an over-damped spring released at rest one unit
// away, t seconds later: its two roots from mass 0.5, stiffness 170, damping 22.
qreal springAt(qreal t) {
    constexpr qreal mass = 0.5, stiffness = 170, damping = 22;
    const qreal omega = std::sqrt(stiffness / mass);
    const qreal zeta = damping / (2 * std::sqrt(stiffness * mass));
    const qreal root = std::sqrt(zeta * zeta - 1);
    const qreal r1 = -omega * (zeta - root);
    const qreal r2 = -omega * (zeta + root);
    return 1 - (r2 * std::exp(r1 * t) - r1 * std::exp(r2 * t)) / (r2 - r1);
}

qreal springEasing(qreal t) {
    return FlowStepStage::springProgress(t);
}

} // namespace

qreal FlowStepStage::springProgress(qreal t) {
    const qreal seconds = kSpringMs / 1000.0;
    // Scaled so the last frame lands exactly: the spring has settled to
    // within a few tenths of a percent by then.
    return springAt(std::clamp<qreal>(t, 0, 1) * seconds) / springAt(seconds);
}

FlowStepStage::FlowStepStage(QWidget* parent)
    : QWidget(parent), ghost_(new OutgoingPicture(this)), slide_(new QVariantAnimation(this)) {
    setFocusPolicy(Qt::NoFocus);
    ghost_->hide();
    slide_->setStartValue(0.0);
    slide_->setEndValue(1.0);
    connect(slide_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { place(value.toReal()); });
    connect(slide_, &QVariantAnimation::finished, this, &FlowStepStage::finish);
}

void FlowStepStage::addPage(QWidget* page) {
    page->setParent(this);
    page->setGeometry(rect());
    page->setVisible(pages_.empty());
    pages_.push_back(page);
    ghost_->raise();
}

QWidget* FlowStepStage::currentPage() const {
    return pages_.empty() ? nullptr : pages_[std::size_t(current_)];
}

bool FlowStepStage::isSliding() const {
    return slide_->state() != QAbstractAnimation::Stopped;
}

void FlowStepStage::setCurrentIndex(int index, Motion motion) {
    if (index < 0 || std::size_t(index) >= pages_.size() || index == current_)
        return;
    if (isSliding()) {
        slide_->stop();
        finish();
    }
    QWidget* outgoing = pages_[std::size_t(current_)];
    const bool animate = isVisible() && width() > 0 && height() > 0;
    if (animate)
        static_cast<OutgoingPicture*>(ghost_)->setPicture(outgoing->grab());
    direction_ = index > current_ ? 1 : -1;
    current_ = index;
    outgoing->hide();
    QWidget* incoming = pages_[std::size_t(index)];
    incoming->show();
    if (!animate) {
        finish();
        return;
    }
    ghost_->show();
    ghost_->raise();
    place(0);
    if (motion == Motion::Spring) {
        slide_->setDuration(kSpringMs);
        QEasingCurve curve;
        curve.setCustomType(&springEasing);
        slide_->setEasingCurve(curve);
    } else {
        slide_->setDuration(kDefaultMs);
        slide_->setEasingCurve(QEasingCurve::InOutQuad);
    }
    slide_->start();
}

void FlowStepStage::place(qreal progress) {
    progress_ = progress;
    const int w = width();
    const int incomingX = int(std::lround(direction_ * w * (1 - progress)));
    const int outgoingX = int(std::lround(-direction_ * w * progress));
    if (QWidget* page = currentPage())
        page->setGeometry(QRect(QPoint(incomingX, 0), size()));
    ghost_->setGeometry(QRect(QPoint(outgoingX, 0), size()));
}

void FlowStepStage::finish() {
    progress_ = 1;
    ghost_->hide();
    static_cast<OutgoingPicture*>(ghost_)->setPicture(QPixmap());
    if (QWidget* page = currentPage())
        page->setGeometry(rect());
}

void FlowStepStage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    for (QWidget* page : pages_)
        if (page != currentPage())
            page->setGeometry(rect());
    if (isSliding())
        place(progress_);
    else if (QWidget* page = currentPage())
        page->setGeometry(rect());
}

} // namespace orvane
