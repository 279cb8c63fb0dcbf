#include "views/popover/popover_root_view.h"

#include "platform/clock.h"
#include "views/kit/accessibility.h"
#include "views/kit/chrome.h"
#include "views/kit/fonts.h"
#include "views/kit/palette.h"
#include "views/kit/scroll_indicator.h"
#include "views/kit/shadow.h"
#include "views/kit/symbols.h"
#include "views/kit/text_block.h"

#include <QAbstractButton>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QApplication>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>
#include <QVariantAnimation>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

QColor darkBackground() {
    return QColor(15, 16, 24);
}

QColor dimColor(bool light) {
    return QColor(0, 0, 0, light ? 56 : 128); // 0.22 / 0.5
}

// The frame of each panel: its size rule, outer padding and shadow.
struct PanelFrame {
    int width;
    int minHeight; // 0: as the content needs
    int maxHeight;
    int padding;
    QColor shadow;
    qreal shadowRadius;
    qreal shadowY;
};

PanelFrame frameOf(OverlayPanel panel) {
    switch (panel) {
    case OverlayPanel::SessionFlow:
        return {380, 500, 520, 10, QColor(0, 0, 0, 115), 20, 10};
    case OverlayPanel::MultiTimer:
        return {380, 0, 540, 10, QColor(0, 0, 0, 102), 18, 8};
    case OverlayPanel::Summary:
        return {384, 500, 520, 8, QColor(0, 0, 0, 115), 20, 10};
    case OverlayPanel::None:
        break;
    }
    return {380, 0, 540, 10, QColor(0, 0, 0, 0), 0, 0};
}

// The full-area click target between content and panel; it also casts the
// panel's shadow, so that the shadow takes no clicks.
class DimLayer : public QWidget {
public:
    DimLayer(ChromeSetting& chrome, std::function<void()> onClick, QWidget* parent)
        : QWidget(parent), chrome_(chrome), onClick_(std::move(onClick)) {
        setAccessibleName(QStringLiteral("Schließen"));
        connect(&chrome, &ChromeSetting::changed, this, [this] {
            shadow_ = QImage();
            update();
        });
    }
    void setPanel(const QRect& panel, const PanelFrame& frame) {
        panel_ = panel;
        frame_ = frame;
        shadow_ = QImage();
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), dimColor(chrome_.light()));
        if (panel_.isEmpty() || frame_.shadowRadius <= 0)
            return;
        // Painted again under every frame of a slide in the panel: blurred
        // once per panel and size.
        const qreal ratio = devicePixelRatioF();
        if (shadow_.size() != size() * ratio) {
            shadow_ = QImage(size() * ratio, QImage::Format_ARGB32_Premultiplied);
            shadow_.setDevicePixelRatio(ratio);
            shadow_.fill(Qt::transparent);
            QPainter blur(&shadow_);
            blur.setRenderHint(QPainter::Antialiasing);
            QPainterPath shape;
            shape.addRoundedRect(QRectF(panel_), kPanelCornerRadius, kPanelCornerRadius);
            drawShadow(blur, shape, frame_.shadow, frame_.shadowRadius, QPointF(0, frame_.shadowY));
        }
        p.drawImage(QPointF(0, 0), shadow_);
    }
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        shadow_ = QImage();
    }
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            onClick_();
    }

private:
    ChromeSetting& chrome_;
    std::function<void()> onClick_;
    QRect panel_;
    PanelFrame frame_ = frameOf(OverlayPanel::None);
    QImage shadow_;
};

// A panel's rounded ground; the panel sits on it.
class OverlayFrame : public QWidget {
public:
    OverlayFrame(ChromeSetting& chrome, QWidget* parent) : QWidget(parent), chrome_(chrome) {
        connect(&chrome, &ChromeSetting::changed, this, [this] { update(); });
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), kPanelCornerRadius, kPanelCornerRadius);
        p.fillPath(shape, chrome_.light() ? QColor(Qt::white) : darkBackground());
    }

private:
    ChromeSetting& chrome_;
};

// Draws the panel and its ground through their rounded outline with smooth
// edges; a widget mask could only cut whole pixels.
class RoundedClip : public QGraphicsEffect {
public:
    using QGraphicsEffect::QGraphicsEffect;

protected:
    void draw(QPainter* painter) override {
        // Only the corners need the picture cut to the outline. A redraw clear
        // of them (a clock in the panel, the card's dot breathing beneath it)
        // draws its own part alone, not the whole panel for every frame.
        if (clearOfCorners(painter))
            return drawSource(painter);
        QPoint offset;
        const QPixmap source = sourcePixmap(Qt::LogicalCoordinates, &offset, NoPad);
        if (source.isNull())
            return;
        QImage picture = source.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        picture.setDevicePixelRatio(source.devicePixelRatio());
        if (mask_.size() != picture.size() ||
            mask_.devicePixelRatio() != picture.devicePixelRatio()) {
            mask_ = QImage(picture.size(), QImage::Format_ARGB32_Premultiplied);
            mask_.setDevicePixelRatio(picture.devicePixelRatio());
            mask_.fill(Qt::transparent);
            QPainter shape(&mask_);
            shape.setRenderHint(QPainter::Antialiasing);
            QPainterPath outline;
            outline.addRoundedRect(QRectF(QPointF(0, 0), picture.deviceIndependentSize()),
                                   kPanelCornerRadius, kPanelCornerRadius);
            shape.fillPath(outline, Qt::black);
        }
        {
            QPainter cut(&picture);
            cut.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            cut.drawImage(QPointF(0, 0), mask_);
        }
        painter->drawImage(offset, picture);
    }

private:
    // Qt hands an effect the region to redraw as the engine's clip.
    bool clearOfCorners(QPainter* painter) const {
        const QRegion dirty = painter->paintEngine()->systemClip();
        if (dirty.isEmpty())
            return false;
        const QRect box = sourceBoundingRect().toAlignedRect();
        const int r = int(std::ceil(kPanelCornerRadius)) + 1;
        QRegion corners;
        for (const QPoint at :
             {box.topLeft(), box.topRight() - QPoint(r - 1, 0), box.bottomLeft() - QPoint(0, r - 1),
              box.bottomRight() - QPoint(r - 1, r - 1)})
            corners += QRect(at, QSize(r, r));
        const QTransform toPanel = painter->deviceTransform().inverted();
        for (const QRect& part : dirty)
            if (corners.intersects(toPanel.mapRect(QRectF(part)).toAlignedRect()))
                return false;
        return true;
    }

    QImage mask_; // the outline at the last size, kept while the size holds
};

// The picture of the overlay as it was, fading out over what is now.
void fadeOut(QWidget* root, const QPixmap& before) {
    auto* fade = new QLabel(root);
    fade->setAttribute(Qt::WA_TransparentForMouseEvents);
    fade->setGeometry(root->rect());
    fade->setPixmap(before);
    auto* effect = new QGraphicsOpacityEffect(fade);
    fade->setGraphicsEffect(effect);
    fade->show();
    fade->raise();
    auto* animation = new QVariantAnimation(fade);
    animation->setDuration(200);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->setStartValue(1.0);
    animation->setEndValue(0.0);
    QObject::connect(animation, &QVariantAnimation::valueChanged, effect,
                     [effect](const QVariant& v) { effect->setOpacity(v.toReal()); });
    QObject::connect(animation, &QVariantAnimation::finished, fade, &QObject::deleteLater);
    animation->start();
}

// The close mark of the error line.
class CloseMark : public QAbstractButton {
public:
    explicit CloseMark(QWidget* parent) : QAbstractButton(parent) {
        setFixedSize(16, 16);
        setCursor(Qt::PointingHandCursor);
        setAccessibleName(QStringLiteral("Meldung schließen"));
        setFocusPolicy(Qt::TabFocus);
        pressOnReturn(this);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        drawSymbol(p, u"xmark", QRectF(rect()).adjusted(4, 4, -4, -4), Palette::rose());
        if (hasFocus())
            strokeKeyboardFocus(p, QRectF(rect()), 4);
    }
};

} // namespace

struct PopoverRootView::SyncRun {
    bool cancelled = false;
    std::shared_ptr<platform::ClockSleep> sleep;
};

PopoverRootView::PopoverRootView(AppStore& store, platform::ModelContext* modelContext,
                                 PopoverViews views, QWidget* parent)
    : QWidget(parent), store_(&store), modelContext_(modelContext), views_(std::move(views)) {
    setObjectName(QStringLiteral("popoverRoot"));
    // It holds the keyboard whenever no control does (on opening, after a
    // panel went): a screen reader names it there.
    setAccessibleRole(this, QAccessible::Pane);
    setAccessibleName(QStringLiteral("Orvane"));
    setFixedSize(kSize);
    followChrome(this, chrome_);
    connect(&chrome_, &ChromeSetting::changed, this, [this] {
        update();
        updateCard();
    });
    connect(&store, &AppStore::changed, this, &PopoverRootView::onStoreChanged);
    // Every return to the application refreshes, for as long as the root lives.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s == Qt::ApplicationActive && store_)
            store_->refreshOnPopoverOpen();
    });

    dimLayer_ = new DimLayer(
        chrome_, [this] { dismissOverlayAnimated(); }, this);
    dimLayer_->hide();
    // Never hidden, only shrunk to nothing: a widget shown again tells screen
    // readers "showing" but not "visible", so one that read the frame while it
    // was hidden would keep every later panel in it out of its review.
    overlayFrame_ = new OverlayFrame(chrome_, this);
    overlayFrame_->setGraphicsEffect(new RoundedClip(overlayFrame_));
    overlayFrame_->setGeometry(QRect());

    rebuildMainPanel();
    updateOverlay();
}

PopoverRootView::~PopoverRootView() {
    keyHandler_.stop();
    if (syncRun_) {
        syncRun_->cancelled = true;
        if (syncRun_->sleep)
            syncRun_->sleep->cancel();
    }
}

std::optional<TimerSession> PopoverRootView::currentSession() const {
    if (!store_)
        return std::nullopt;
    if (const TimerSession* s = displayedSession(store_->sessions(), store_->activeSessionId()))
        return *s;
    return std::nullopt;
}

bool PopoverRootView::isOverlayPresented() const {
    return store_ && (showSessionFlow_ || store_->showMultiTimerSheet() ||
                      store_->lastStoppedSummary().has_value());
}

bool PopoverRootView::dimLayerShown() const {
    return !dimLayer_->isHidden();
}

QString PopoverRootView::errorLineText() const {
    return errorLine_ && !errorLine_->isHidden() ? errorText_->text() : QString();
}

// ---- Store changes ----

void PopoverRootView::onStoreChanged(AppStore::Property property) {
    switch (property) {
    case AppStore::Property::IsLoggedIn:
        // A flow left open over the sign-in view would cover it; the store
        // drops the other panels with the sign-out itself.
        if (store_ && !store_->isLoggedIn())
            showSessionFlow_ = false;
        rebuildMainPanel();
        updateOverlay();
        refreshOnLogin();
        scheduleSyncLoop();
        break;
    case AppStore::Property::Sessions:
        updateCard();
        scheduleSyncLoop();
        break;
    case AppStore::Property::ActiveSessionId:
        updateCard();
        break;
    case AppStore::Property::ShowMultiTimerSheet:
    case AppStore::Property::LastStoppedSummary:
        updateOverlay();
        break;
    case AppStore::Property::LoginError:
        updateErrorLine();
        break;
    default:
        break;
    }
}

// ---- Main panel ----

void PopoverRootView::keepKeyboardFrom(QWidget* leaving) {
    // Hiding the keyboard's widget would hand the keyboard on to the next
    // control, where a held or repeated key acts again: the root keeps it.
    if (leaving && (leaving == QApplication::focusWidget() ||
                    leaving->isAncestorOf(QApplication::focusWidget())))
        setFocus(Qt::OtherFocusReason);
}

void PopoverRootView::rebuildMainPanel() {
    const MainPanel kind = mainPanelFor(store_ && store_->isLoggedIn());
    if (mainKind_ == kind)
        return;
    mainKind_ = kind;
    // The keyboard kept from the leaving panel stays with the root itself.
    setFocusProxy(nullptr);
    if (mainPanel_) {
        keepKeyboardFrom(mainPanel_);
        mainPanel_->hide();
        mainPanel_->deleteLater();
    }
    card_ = nullptr;
    scrollColumn_ = nullptr;
    errorLine_ = nullptr;
    errorText_ = nullptr;
    // A sign-out stops no timer, and a sign-in says the one that runs.
    announcedSession_.reset();
    announcedError_.reset();

    auto* panel = new QWidget(this);
    // A plain container, but one that can be kept from screen readers while
    // a panel covers it.
    setAccessibleRole(panel, QAccessible::Client);
    panel->setObjectName(kind == MainPanel::SignIn ? QStringLiteral("signInPanel")
                                                   : QStringLiteral("mainColumn"));
    mainPanel_ = panel;
    contentMovedSincePress_ = true;
    if (kind == MainPanel::SignIn) {
        auto* layout = new QVBoxLayout(panel);
        layout->setContentsMargins(0, 0, 0, 0);
        if (views_.login)
            if (QWidget* login = views_.login(*this, panel)) {
                login->setMinimumSize(300, 380);
                layout->addWidget(login);
                // The opened popover's keyboard goes to the sign-in form.
                setFocusProxy(login);
            }
    } else {
        auto* column = new QVBoxLayout(panel);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);

        auto* header = new QWidget(panel);
        auto* headerLayout = new QHBoxLayout(header);
        headerLayout->setContentsMargins(14, 10, 14, 8);
        if (views_.header)
            if (QWidget* content = views_.header(*this, header))
                headerLayout->addWidget(content, 0, Qt::AlignTop);
        column->addWidget(header);

        // Failures while signed in reach the user here.
        errorLine_ = new QWidget(panel);
        errorLine_->setObjectName(QStringLiteral("errorLine"));
        auto* errorLayout = new QHBoxLayout(errorLine_);
        errorLayout->setContentsMargins(14, 0, 14, 6);
        errorLayout->setSpacing(6);
        // A message of many lines (the service's own text may carry line
        // breaks) must not push the sections out of the popover.
        errorText_ = new TextBlock(QString(), systemFont(11), Palette::rose(),
                                   TextBlock::Wrap::Lines, errorLine_);
        errorText_->setMaximumLines(kMostErrorLines);
        auto* close = new CloseMark(errorLine_);
        connect(close, &QAbstractButton::clicked, this, [this] {
            if (store_)
                store_->setLoginError(std::nullopt);
        });
        errorLayout->addWidget(errorText_, 1);
        errorLayout->addWidget(close, 0, Qt::AlignTop);
        column->addWidget(errorLine_);

        auto* scroll = new QScrollArea(panel);
        scroll->setObjectName(QStringLiteral("sections"));
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        // It draws no focus of its own; Tab goes to its buttons, and it
        // scrolls to the one that takes the keyboard.
        scroll->setFocusPolicy(Qt::NoFocus);
        scroll->viewport()->setAutoFillBackground(false);
        useThinScrollIndicator(scroll, chrome_.light());
        connect(&chrome_, &ChromeSetting::changed, scroll,
                [scroll](bool light) { useThinScrollIndicator(scroll, light); });
        auto* content = new QWidget;
        content->setAutoFillBackground(false);
        scrollColumn_ = new QVBoxLayout(content);
        scrollColumn_->setContentsMargins(14, 8, 14, 10);
        scrollColumn_->setSpacing(14);
        for (const PopoverViews::Make& make : {views_.todayCard, views_.quickStart, views_.recent})
            if (make)
                if (QWidget* section = make(*this, content))
                    scrollColumn_->addWidget(section);
        scrollColumn_->addStretch(1);
        scroll->setWidget(content);
        column->addWidget(scroll, 1);

        auto* footer = new QWidget(panel);
        footer->setObjectName(QStringLiteral("footer"));
        auto* footerLayout = new QHBoxLayout(footer);
        footerLayout->setContentsMargins(10, 10, 10, 10);
        if (views_.footer)
            if (QWidget* hints = views_.footer(*this, footer))
                footerLayout->addWidget(hints, 0, Qt::AlignLeft | Qt::AlignVCenter);
        footerLayout->addStretch(1);
        column->addWidget(footer);

        updateCard();
        updateErrorLine();
    }
    panel->setGeometry(rect());
    panel->show();
    panel->lower();
    setHiddenFromScreenReaders(panel, isOverlayPresented());
}

void PopoverRootView::updateCard() {
    if (!scrollColumn_)
        return;
    const std::optional<TimerSession> session = currentSession();
    announceTimer(std::exchange(announcedSession_, session));
    if (!session) {
        if (card_) {
            keepKeyboardFrom(card_);
            card_->hide();
            card_->deleteLater();
            card_ = nullptr;
            contentMovedSincePress_ = true;
        }
        return;
    }
    if (!card_ && views_.card) {
        card_ = views_.card(*this, scrollColumn_->parentWidget());
        if (card_) {
            scrollColumn_->insertWidget(0, card_);
            card_->lower(); // first for screen readers too, as drawn
            contentMovedSincePress_ = true;
            orderColumnFocus();
        }
    }
    if (card_ && views_.updateCard)
        views_.updateCard(card_, *session, chrome_.light());
}

void PopoverRootView::announceTimer(const std::optional<TimerSession>& before) {
    if (!announcedSession_ && before) {
        // A timer that follows within this turn is said instead, and a
        // summary already up says the stop itself.
        QTimer::singleShot(0, this, [this, before] {
            if (!announcedSession_ && store_ && store_->isLoggedIn())
                if (const auto text = timerAnnouncement(before, std::nullopt,
                                                        store_->lastStoppedSummary().has_value()))
                    announce(this, *text);
        });
        return;
    }
    if (const auto text = timerAnnouncement(before, announcedSession_, false))
        announce(this, *text);
}

void PopoverRootView::orderColumnFocus() {
    // The card is made after the sections below it: Tab would reach its
    // buttons last. The column's buttons follow the header's in the order
    // they are drawn.
    QWidget* content = scrollColumn_ ? scrollColumn_->parentWidget() : nullptr;
    if (!content)
        return;
    QWidget* previous = content;
    do
        previous = previous->previousInFocusChain();
    while (previous != content && !(previous->focusPolicy() & Qt::TabFocus));
    if (previous == content)
        return;
    for (int i = 0; i < scrollColumn_->count(); ++i) {
        QWidget* section = scrollColumn_->itemAt(i)->widget();
        if (!section)
            continue;
        QList<QWidget*> stops;
        for (QWidget* w = section->nextInFocusChain(); section->isAncestorOf(w);
             w = w->nextInFocusChain())
            if (w->focusPolicy() & Qt::TabFocus)
                stops << w;
        for (QWidget* stop : stops) {
            QWidget::setTabOrder(previous, stop);
            previous = stop;
        }
    }
}

void PopoverRootView::updateErrorLine() {
    if (!errorLine_)
        return;
    const std::optional<QString> error = store_ ? store_->loginError() : std::nullopt;
    const bool show = error && !error->trimmed().isEmpty();
    errorText_->setText(show ? error->trimmed() : QString());
    if (const auto news = changedText(announcedError_, show ? error : std::nullopt))
        announce(this, *news);
    announcedError_ = show ? error : std::nullopt;
    if (show == errorLine_->isHidden())
        contentMovedSincePress_ = true; // the sections below move with it
    errorLine_->setVisible(show);
}

// ---- Overlay ----

void PopoverRootView::updateOverlay() {
    const OverlayPanel kind = store_
                                  ? overlayPanelFor(showSessionFlow_, store_->showMultiTimerSheet(),
                                                    store_->lastStoppedSummary().has_value())
                                  : OverlayPanel::None;
    dimLayer_->setVisible(isOverlayPresented());
    if (mainPanel_)
        setHiddenFromScreenReaders(mainPanel_, isOverlayPresented());
    if (kind != overlayKind_) {
        if (overlayPanel_) {
            keepKeyboardFrom(overlayPanel_);
            overlayPanel_->hide();
            overlayPanel_->deleteLater();
            overlayPanel_ = nullptr;
        }
        overlayKind_ = kind;
        contentMovedSincePress_ = true;
        QWidget* panel = nullptr;
        const QPointer<PopoverRootView> self(this);
        switch (kind) {
        case OverlayPanel::SessionFlow:
            if (views_.sessionFlow)
                panel = views_.sessionFlow(
                    *this,
                    [self](std::optional<QUuid> started) {
                        if (self)
                            self->closeSessionFlow(started);
                    },
                    overlayFrame_);
            break;
        case OverlayPanel::MultiTimer:
            if (views_.multiTimer)
                panel = views_.multiTimer(*this, overlayFrame_);
            break;
        case OverlayPanel::Summary:
            if (views_.summary)
                panel = views_.summary(
                    *this,
                    [self] {
                        if (self)
                            self->closeSummary();
                    },
                    overlayFrame_);
            break;
        case OverlayPanel::None:
            break;
        }
        overlayPanel_ = panel;
        layoutOverlay();
        if (panel) {
            panel->show();
            // The keyboard goes to the panel, away from what the dim layer covers.
            panel->setFocus(Qt::OtherFocusReason);
            if (QWidget* first = panel->nextInFocusChain();
                first && panel->isAncestorOf(first) && first->focusPolicy() & Qt::TabFocus)
                first->setFocus(Qt::TabFocusReason);
        }
        Q_EMIT overlayChanged(kind);
    }
    dimLayer_->raise();
    overlayFrame_->raise();
}

void PopoverRootView::layoutOverlay() {
    dimLayer_->setGeometry(rect());
    if (overlayKind_ == OverlayPanel::None) {
        static_cast<DimLayer*>(dimLayer_)->setPanel(QRect(), frameOf(OverlayPanel::None));
        overlayFrame_->setGeometry(QRect());
        return;
    }
    const PanelFrame frame = frameOf(overlayKind_);
    const QRect area =
        rect().adjusted(frame.padding, frame.padding, -frame.padding, -frame.padding);
    const int width = std::min(frame.width, area.width());
    int wanted = frame.minHeight;
    if (overlayPanel_) {
        const int forWidth = overlayPanel_->hasHeightForWidth()
                                 ? overlayPanel_->heightForWidth(width)
                                 : overlayPanel_->sizeHint().height();
        wanted = std::max(wanted, forWidth);
    }
    const int height = std::clamp(wanted, std::min(frame.minHeight, area.height()),
                                  std::min(frame.maxHeight, area.height()));
    QRect panelRect(0, 0, width, height);
    panelRect.moveCenter(area.center());
    overlayFrame_->setGeometry(panelRect);
    static_cast<DimLayer*>(dimLayer_)->setPanel(panelRect, frame);
    if (overlayPanel_) {
        overlayPanel_->setGeometry(QRect(QPoint(0, 0), panelRect.size()));
    }
}

void PopoverRootView::openSessionFlow() {
    if (showSessionFlow_)
        return;
    showSessionFlow_ = true;
    updateOverlay();
}

void PopoverRootView::closeSessionFlow(std::optional<QUuid>) {
    if (!showSessionFlow_)
        return;
    showSessionFlow_ = false;
    updateOverlay();
}

void PopoverRootView::dismissTopOverlay() {
    if (!store_)
        return;
    switch (dismissalFor(showSessionFlow_, store_->showMultiTimerSheet(),
                         store_->lastStoppedSummary().has_value())) {
    case Dismissal::CloseSessionFlow:
        showSessionFlow_ = false;
        updateOverlay();
        break;
    case Dismissal::DropPendingStart:
        store_->setPendingPick(std::nullopt);
        store_->setShowMultiTimerSheet(false);
        break;
    case Dismissal::CloseSummary:
        closeSummary();
        break;
    case Dismissal::Nothing:
        break;
    }
}

void PopoverRootView::dismissOverlayAnimated() {
    if (overlayPanel_ && views_.dimLayerInert && views_.dimLayerInert(overlayPanel_))
        return;
    const QPixmap before = isVisible() ? grab() : QPixmap();
    dismissTopOverlay();
    if (!before.isNull())
        fadeOut(this, before);
}

void PopoverRootView::closeSummary() {
    if (!store_)
        return;
    store_->setLastStoppedSummary(std::nullopt);
    store_->setPendingPick(std::nullopt);
    store_->setShowMultiTimerSheet(false);
    if (store_->isLoggedIn())
        store_->refreshDashboardAndRecentTasks();
}

void PopoverRootView::startOrStop() {
    if (!store_)
        return;
    const std::optional<TimerSession> session = currentSession();
    switch (startOrStopAction(store_->isLoggedIn(), session ? &*session : nullptr)) {
    case StartStopAction::OpenSessionFlow:
        openSessionFlow();
        break;
    case StartStopAction::ResumeFromBreak:
        store_->resumeFromBreak(session->id, false);
        break;
    case StartStopAction::Stop:
        stopSessionTask(*session);
        break;
    case StartStopAction::Nothing:
        break;
    }
}

void PopoverRootView::stopSessionTask(TimerSession session) {
    // A task of its own: it runs to its end whatever becomes of the view.
    if (store_)
        store_->stopSession(session.id);
}

// ---- On screen ----

void PopoverRootView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (QWindow* handle = window()->windowHandle(); handle && handle != pointerWindow_) {
        if (pointerWindow_)
            pointerWindow_->removeEventFilter(this);
        handle->installEventFilter(this);
        pointerWindow_ = handle;
    }
    if (store_ && modelContext_)
        store_->setModelContext(modelContext_);
    keyHandler_.store = store_;
    const QPointer<PopoverRootView> self(this);
    keyHandler_.openNewSession = [self] {
        if (self)
            self->openSessionFlow();
    };
    keyHandler_.runStartStop = [self] {
        if (self)
            self->startOrStop();
    };
    keyHandler_.start();
    refreshOnLogin();
    scheduleSyncLoop();
    // Screen readers read the focus on opening, not the running card above it.
    QTimer::singleShot(0, this, [self] {
        if (self && self->card_ && self->isVisible() && !self->isOverlayPresented())
            if (QAccessibleInterface* card = QAccessible::queryAccessibleInterface(self->card_))
                announce(self, card->text(QAccessible::Name));
    });
}

void PopoverRootView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    keyHandler_.stop();
    scheduleSyncLoop();
}

void PopoverRootView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (mainPanel_)
        mainPanel_->setGeometry(rect());
    layoutOverlay();
}

void PopoverRootView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), chrome_.light() ? QColor(Qt::white) : darkBackground());
    if (mainKind_ == MainPanel::MainColumn && mainPanel_)
        if (auto* footer = mainPanel_->findChild<QWidget*>(QStringLiteral("footer"))) {
            const QRect bar(footer->mapTo(this, QPoint(0, 0)), footer->size());
            p.fillRect(bar, QColor(0, 0, 0, chrome_.light() ? 10 : 51)); // 0.04 / 0.2
        }
}

bool PopoverRootView::eventFilter(QObject* watched, QEvent* event) {
    if (watched != pointerWindow_)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        // The second press of a double-click whose first click raised a panel
        // or moved the content belongs to what was under the pointer before:
        // it must not press what lies there now (say, the choice to stop the
        // running timer, or the dim layer that drops the pick just made).
        swallowingClick_ = contentMovedSincePress_ && (static_cast<QMouseEvent*>(event)->flags() &
                                                       Qt::MouseEventCreatedDoubleClick);
        contentMovedSincePress_ = false;
        return swallowingClick_;
    case QEvent::MouseButtonDblClick:
        return swallowingClick_;
    case QEvent::MouseButtonRelease:
        if (swallowingClick_) {
            swallowingClick_ = false;
            return true;
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

bool PopoverRootView::focusNextPrevChild(bool next) {
    // While a panel is up, Tab goes round inside it only.
    if (!overlayPanel_ || !isOverlayPresented())
        return QWidget::focusNextPrevChild(next);
    QWidget* current = focusWidget();
    if (!current || !overlayPanel_->isAncestorOf(current))
        current = overlayPanel_;
    QWidget* candidate = current;
    for (int guard = 0; guard < 1000; ++guard) {
        candidate = next ? candidate->nextInFocusChain() : candidate->previousInFocusChain();
        if (candidate == current)
            break;
        if (overlayPanel_->isAncestorOf(candidate) && candidate->isVisibleTo(overlayPanel_) &&
            candidate->isEnabled() && (candidate->focusPolicy() & Qt::TabFocus)) {
            candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return true;
}

// ---- Keeping the store fresh ----

void PopoverRootView::refreshOnLogin() {
    if (isVisible() && store_ && store_->isLoggedIn())
        store_->refreshAll();
}

void PopoverRootView::scheduleSyncLoop() {
    // Several changes within one turn (a read-back opening several sessions)
    // restart the loop once.
    if (syncRestartPending_)
        return;
    syncRestartPending_ = true;
    QTimer::singleShot(0, this, [this] {
        syncRestartPending_ = false;
        applySyncLoopKey();
    });
}

void PopoverRootView::applySyncLoopKey() {
    const QString key = isVisible() && store_
                            ? syncLoopKey(store_->isLoggedIn(), store_->sessions().size())
                            : QString();
    if (key == syncKey_)
        return;
    if (syncRun_) {
        syncRun_->cancelled = true;
        if (syncRun_->sleep)
            syncRun_->sleep->cancel();
        syncRun_.reset();
    }
    syncKey_ = key;
    if (key.isEmpty())
        return;
    syncRun_ = std::make_shared<SyncRun>();
    syncLoop(store_, syncRun_);
}

QCoro::Task<void> PopoverRootView::syncLoop(QPointer<AppStore> store,
                                            std::shared_ptr<SyncRun> run) {
    // Touches nothing of the view: it may be gone at any wait.
    if (!store || !store->isLoggedIn())
        co_return;
    while (!run->cancelled && store && store->isLoggedIn()) {
        run->sleep = platform::Clock::shared().sleep(syncLoopInterval(store->sessions().size()));
        // A cut-short wait still syncs once: the loop ends at its next head.
        co_await platform::waitFor(run->sleep);
        run->sleep.reset();
        if (!store || !store->isLoggedIn())
            co_return;
        co_await store->syncWithServer();
    }
}

} // namespace orvane
