#include "views/flow/multi_timer_choice_sheet.h"

#include "platform/clock.h"
#include "platform/haptics.h"
#include "store/app_store.h"
#include "store/time_money_helpers.h"
#include "views/kit/accessibility.h"
#include "views/kit/chrome.h"
#include "views/kit/client_tile.h"
#include "views/kit/digit_text.h"
#include "views/kit/fonts.h"
#include "views/kit/palette.h"
#include "views/kit/symbols.h"
#include "views/kit/text_block.h"

#include <QAbstractButton>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <array>
#include <cmath>

namespace orvane {

namespace {

QColor withAlpha(QColor color, qreal alpha) {
    color.setAlphaF(float(alpha));
    return color;
}

QFont tracked(QFont font, qreal tracking) {
    font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return font;
}

QPainterPath roundedRect(const QRectF& rect, qreal radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

} // namespace

ChoicePanelColors choicePanelColors(bool light) {
    ChoicePanelColors c;
    if (light) {
        c.background = Qt::white; // the control background of light chrome
        c.handle = withAlpha(Qt::black, 0.12);
        c.ink = QColor(17, 24, 39);
        c.muted = QColor(107, 114, 128);
        c.faint = QColor(156, 163, 175);
        c.green = QColor(5, 150, 105);
        c.runningTop = QColor(238, 242, 255);
        c.runningBottom = QColor(253, 242, 248);
        c.runningStroke = withAlpha(QColor(199, 210, 254), 0.9);
        c.pendingFill = Qt::white;
        c.pendingStroke = withAlpha(Qt::black, 0.1);
        c.badgeFill = withAlpha(Qt::black, 0.06);
        c.keepFill = Qt::white;
        c.keepStroke = withAlpha(Qt::black, 0.1);
    } else {
        c.background = QColor(15, 16, 24);
        c.handle = withAlpha(Qt::white, 0.15);
        c.ink = Palette::textPrimary();
        c.muted = Palette::textTertiary();
        c.faint = Palette::textSecondary();
        c.green = Palette::mint();
        c.runningTop = withAlpha(Palette::indigo(), 0.18);
        c.runningBottom = withAlpha(Palette::pink(), 0.12);
        c.runningStroke = withAlpha(QColor(139, 92, 246), 0.3);
        c.pendingFill = withAlpha(Qt::white, 0.04);
        c.pendingStroke = withAlpha(Qt::white, 0.08);
        c.badgeFill = withAlpha(Qt::white, 0.06);
        c.keepFill = Palette::bgElevated();
        c.keepStroke = Palette::hairline();
    }
    return c;
}

QString pendingClientName(const ClientDTO& client) {
    if (client.customerName)
        return *client.customerName;
    return client.companyName.value_or(QString());
}

ChoiceCard runningChoiceCard(const TimerSession& session) {
    return {session.clientColorHex, session.clientInitials, session.taskTitle,
            session.clientDisplayName + QStringLiteral(" · ") + session.jobTitle};
}

ChoiceCard pendingChoiceCard(const PendingStart& pick) {
    const QString name = pendingClientName(pick.client);
    return {clientColorHex(pick.client.id), clientInitials(name),
            pick.task.title.value_or(QString()),
            name + QStringLiteral(" · ") + pick.job.title.value_or(QString())};
}

// ---- Cards ----

class ChoiceCardView : public QWidget {
public:
    enum class Kind { Running, Pending };

    ChoiceCardView(Kind kind, QWidget* parent) : QWidget(parent), m_kind(kind) {
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(14, 14, 14, 14);
        row->setSpacing(12);
        m_tile = new ClientTile(36, 11, 11, this);
        row->addWidget(m_tile, 0, Qt::AlignVCenter);
        auto* labels = new QVBoxLayout;
        labels->setSpacing(2);
        m_title = new TextBlock(QString(), systemFont(13, FontWeight::Semibold), Qt::black,
                                TextBlock::Wrap::Lines, this);
        // The running card keeps its second line to one; the waiting one wraps.
        m_subtitle = new TextBlock(
            QString(), systemFont(11), Qt::black,
            kind == Kind::Running ? TextBlock::Wrap::OneLine : TextBlock::Wrap::Lines, this);
        // The two lines stay together, centred beside the taller tile.
        labels->addStretch(1);
        labels->addWidget(m_title);
        labels->addWidget(m_subtitle);
        labels->addStretch(1);
        row->addLayout(labels, 1);
        if (kind == Kind::Running) {
            m_elapsed = new DigitText(systemFont(14, FontWeight::Medium), Qt::black, this);
            m_elapsed->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
            row->addWidget(m_elapsed, 0, Qt::AlignVCenter);
        } else {
            const QFont font = tracked(systemFont(10, FontWeight::Bold), 0.6);
            const QSizeF text(QFontMetricsF(font).horizontalAdvance(QStringLiteral("NEU")),
                              QFontMetricsF(font).height());
            m_badge = new QWidget(this);
            m_badge->setFixedSize(int(std::ceil(text.width() + 16)),
                                  int(std::ceil(text.height() + 8)));
            row->addWidget(m_badge, 0, Qt::AlignVCenter);
            m_badge->installEventFilter(this);
            m_badge->setAccessibleName(QStringLiteral("NEU"));
        }
    }

    void present(const ChoiceCard& card, const ChoicePanelColors& colors) {
        // Every tick of the clock brings the same card again.
        if (card == m_shown && colors == m_colors)
            return;
        m_shown = card;
        m_colors = colors;
        m_tile->setClient(card.colorHex, card.initials);
        m_title->setText(card.title);
        m_title->setColor(colors.ink);
        m_subtitle->setText(card.subtitle);
        m_subtitle->setColor(colors.muted);
        if (m_elapsed)
            m_elapsed->setColor(colors.green);
        update();
    }
    void setElapsed(qint64 secs) {
        if (!m_elapsed)
            return;
        m_elapsed->setText(formatDuration(secs));
        // To the minute, as the popover's card says it.
        m_elapsed->setSpokenText(spokenHoursMinutes(secs));
    }
    TextBlock* title() const { return m_title; }
    TextBlock* subtitle() const { return m_subtitle; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_badge && event->type() == QEvent::Paint) {
            QPainter p(m_badge);
            p.setRenderHint(QPainter::Antialiasing);
            const QRectF box(m_badge->rect());
            p.fillPath(roundedRect(box, box.height() / 2), m_colors.badgeFill);
            p.setPen(m_colors.faint);
            p.setFont(tracked(systemFont(10, FontWeight::Bold), 0.6));
            p.drawText(box, Qt::AlignCenter, QStringLiteral("NEU"));
            return true;
        }
        return QWidget::eventFilter(watched, event);
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const QPainterPath shape = roundedRect(box, 16);
        if (m_kind == Kind::Running) {
            QLinearGradient fill(box.topLeft(), box.bottomRight());
            fill.setColorAt(0, m_colors.runningTop);
            fill.setColorAt(1, m_colors.runningBottom);
            p.fillPath(shape, fill);
            p.setPen(QPen(m_colors.runningStroke, 1));
        } else {
            p.fillPath(shape, m_colors.pendingFill);
            p.setPen(QPen(m_colors.pendingStroke, 1));
        }
        p.drawPath(shape);
    }

private:
    Kind m_kind;
    std::optional<ChoiceCard> m_shown;
    ChoicePanelColors m_colors = choicePanelColors(false);
    ClientTile* m_tile;
    TextBlock* m_title;
    TextBlock* m_subtitle;
    DigitText* m_elapsed = nullptr;
    QWidget* m_badge = nullptr;
};

// ---- Choice buttons: the whole card is the button ----

class ChoiceButton : public QAbstractButton {
public:
    enum class Kind { Stop, Keep };

    ChoiceButton(Kind kind, QWidget* parent) : QAbstractButton(parent), m_kind(kind) {
        const bool stop = kind == Kind::Stop;
        setText(stop ? QStringLiteral("Laufenden Timer beenden")
                     : QStringLiteral("Laufenden Timer behalten"));
        setAccessibleName(text());
        setFocusPolicy(Qt::TabFocus);
        setCursor(Qt::PointingHandCursor);
        QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(14, 14, 14, 14);
        row->setSpacing(12);
        m_tile = new QWidget(this);
        m_tile->setFixedSize(34, 34);
        m_tile->installEventFilter(this);
        row->addWidget(m_tile, 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(4);
        m_title = new TextBlock(text(), systemFont(14, FontWeight::Bold), Qt::white,
                                TextBlock::Wrap::Lines, this);
        m_subtitle = new TextBlock(stop ? QStringLiteral("Aktuelle Session speichern, neue starten")
                                        : QStringLiteral("Neue Session startet nicht; der "
                                                         "bisherige läuft weiter."),
                                   systemFont(11), Qt::white, TextBlock::Wrap::Lines, this);
        texts->addWidget(m_title);
        texts->addWidget(m_subtitle);
        row->addLayout(texts, 1);
        for (QWidget* part :
             {m_tile, static_cast<QWidget*>(m_title), static_cast<QWidget*>(m_subtitle)})
            part->setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    void setLook(const ChoicePanelColors& colors, AccentStyle accent) {
        m_colors = colors;
        m_accent = accent;
        const bool stop = m_kind == Kind::Stop;
        m_title->setColor(stop ? QColor(Qt::white) : colors.ink);
        m_subtitle->setColor(stop ? withAlpha(Qt::white, 0.72) : colors.muted);
        update();
    }

    QSize sizeHint() const override {
        return QSize(MultiTimerChoiceSheet::kWidth - 44,
                     heightForWidth(MultiTimerChoiceSheet::kWidth - 44));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_tile && event->type() == QEvent::Paint) {
            QPainter p(m_tile);
            p.setRenderHint(QPainter::Antialiasing);
            const QRectF box = QRectF(m_tile->rect()).adjusted(0.5, 0.5, -0.5, -0.5);
            const QPainterPath shape = roundedRect(box, 11);
            if (m_kind == Kind::Stop) {
                p.fillPath(shape, withAlpha(Qt::white, 0.18));
                drawSymbol(p, u"stop.fill", box.center(), 12, Qt::white);
            } else {
                p.fillPath(shape, withAlpha(Palette::mint(), 0.12));
                p.setPen(QPen(m_colors.keepStroke, 1));
                p.drawPath(shape);
                drawSymbol(p, u"timer", box.center(), 15, m_colors.green, FontWeight::Semibold);
            }
            return true;
        }
        return QAbstractButton::eventFilter(watched, event);
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        // While the stop runs both choices are off, and look it.
        if (!isEnabled())
            p.setOpacity(0.55);
        const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const QPainterPath shape = roundedRect(box, 16);
        if (m_kind == Kind::Stop) {
            fillAccent(p, shape, m_accent);
        } else {
            p.fillPath(shape, m_colors.keepFill);
            p.setPen(QPen(m_colors.keepStroke, 1));
            p.drawPath(shape);
        }
        if (isDown())
            p.fillPath(shape, withAlpha(Qt::black, 0.12));
        if (hasFocus()) {
            p.setPen(QPen(withAlpha(Palette::indigo(), 0.9), 2));
            p.drawPath(roundedRect(box.adjusted(1, 1, -1, -1), 15));
        }
    }
    void changeEvent(QEvent* event) override {
        QAbstractButton::changeEvent(event);
        if (event->type() == QEvent::EnabledChange)
            update();
    }

private:
    Kind m_kind;
    ChoicePanelColors m_colors = choicePanelColors(false);
    AccentStyle m_accent = AccentStyle::Gradient;
    QWidget* m_tile;
    TextBlock* m_title;
    TextBlock* m_subtitle;
};

// ---- The panel ----

namespace {

// The decorative handle at the top.
class Handle : public QWidget {
public:
    explicit Handle(QWidget* parent) : QWidget(parent) { setFixedSize(40, 4); }
    QColor color;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(roundedRect(QRectF(rect()), 2), color);
    }
};

QWidget* gap(int height, QWidget* parent) {
    auto* w = new QWidget(parent);
    w->setFixedHeight(height);
    return w;
}

} // namespace

MultiTimerChoiceSheet::MultiTimerChoiceSheet(AppStore& store, ChromeSetting& chrome,
                                             QWidget* parent)
    : QWidget(parent), m_store(store), m_chrome(chrome) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setAccessibleRole(this, QAccessible::Dialog);
    setAccessibleName(QStringLiteral("Timer läuft bereits"));
    followChrome(this, chrome);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(22, 20, 22, 32);
    column->setSpacing(0);
    auto* handle = new Handle(this);
    handle->setObjectName(QStringLiteral("handle"));
    column->addWidget(handle, 0, Qt::AlignHCenter);
    column->addSpacing(18);
    auto* header = new TextBlock(QStringLiteral("TIMER LÄUFT BEREITS"),
                                 tracked(systemFont(11, FontWeight::Bold), 1.4), Palette::amber(),
                                 TextBlock::Wrap::OneLine, this);
    header->setAlignment(Qt::AlignHCenter);
    column->addWidget(header);
    column->addSpacing(6);
    m_question =
        new TextBlock(QStringLiteral("Was jetzt?"), tracked(systemFont(22, FontWeight::Bold), -0.4),
                      Qt::black, TextBlock::Wrap::OneLine, this);
    column->addWidget(m_question);
    column->addSpacing(6);
    m_explanation = new TextBlock(
        QStringLiteral("Es kann nur ein Timer laufen. Beenden und neuen starten – oder den "
                       "laufenden behalten (dann startet der neue Wunsch nicht)."),
        systemFont(14), Qt::black, TextBlock::Wrap::Lines, this);
    column->addWidget(m_explanation);
    setAccessibleDescription(m_question->text() + u' ' + m_explanation->text());
    m_runningGap = gap(18, this);
    column->addWidget(m_runningGap);
    m_running = new ChoiceCardView(ChoiceCardView::Kind::Running, this);
    column->addWidget(m_running);
    m_pendingGap = gap(10, this);
    column->addWidget(m_pendingGap);
    m_pending = new ChoiceCardView(ChoiceCardView::Kind::Pending, this);
    column->addWidget(m_pending);
    column->addSpacing(20);
    m_stop = new ChoiceButton(ChoiceButton::Kind::Stop, this);
    m_keep = new ChoiceButton(ChoiceButton::Kind::Keep, this);
    column->addWidget(m_stop);
    column->addSpacing(10);
    column->addWidget(m_keep);
    column->addSpacing(8);
    column->addStretch(1);

    connect(m_stop, &QAbstractButton::clicked, this, &MultiTimerChoiceSheet::stopAndStartPending);
    connect(m_keep, &QAbstractButton::clicked, this, &MultiTimerChoiceSheet::keepRunning);
    connect(&m_chrome, &ChromeSetting::changed, this, [this] { applyChrome(); });
    connect(&m_store, &AppStore::changed, this, [this](AppStore::Property property) {
        switch (property) {
        case AppStore::Property::Sessions:
        case AppStore::Property::PendingPick:
            refresh();
            break;
        case AppStore::Property::AccentStyle:
            applyChrome();
            break;
        default:
            break;
        }
    });
    applyChrome();
}

std::optional<ChoiceCard> MultiTimerChoiceSheet::runningCard() const {
    if (m_store.sessions().empty() || !m_store.pendingPick())
        return std::nullopt;
    return runningChoiceCard(m_store.sessions().front());
}

std::optional<ChoiceCard> MultiTimerChoiceSheet::pendingCard() const {
    if (m_store.sessions().empty() || !m_store.pendingPick())
        return std::nullopt;
    return pendingChoiceCard(*m_store.pendingPick());
}

std::optional<qint64> MultiTimerChoiceSheet::runningElapsedSecs() const {
    if (m_store.sessions().empty())
        return std::nullopt;
    return m_store.sessions().front().liveElapsedSecs(platform::Clock::shared().now());
}

QString MultiTimerChoiceSheet::runningElapsedText() const {
    const std::optional<qint64> secs = runningElapsedSecs();
    return secs ? formatDuration(*secs) : QString();
}

void MultiTimerChoiceSheet::applyChrome() {
    const ChoicePanelColors colors = choicePanelColors(m_chrome.light());
    findChild<Handle*>(QStringLiteral("handle"))->color = colors.handle;
    m_question->setColor(colors.ink);
    m_explanation->setColor(colors.muted);
    m_stop->setLook(colors, m_store.accentStyle());
    m_keep->setLook(colors, m_store.accentStyle());
    refresh();
    update();
}

void MultiTimerChoiceSheet::refresh() {
    const ChoicePanelColors colors = choicePanelColors(m_chrome.light());
    const std::optional<ChoiceCard> running = runningCard();
    const std::optional<ChoiceCard> pending = pendingCard();
    // The two cards come and go together.
    const bool cards = running && pending;
    m_runningGap->setVisible(cards);
    m_running->setVisible(cards);
    m_pendingGap->setVisible(cards);
    m_pending->setVisible(cards);
    const std::optional<qint64> secs = runningElapsedSecs();
    const QString elapsed = secs ? formatDuration(*secs) : QString();
    if (cards) {
        m_running->present(*running, colors);
        m_running->setElapsed(secs.value_or(0));
        m_pending->present(*pending, colors);
    }
    m_stop->setEnabled(!m_stopping);
    m_keep->setEnabled(!m_stopping);
    // The clock's tick changes no name: the names are fitted again only when
    // they or the clock's width change.
    const Fitted fitted{running, pending, elapsed.size()};
    if (fitted != m_fitted) {
        m_fitted = fitted;
        fitNames();
    }
}

void MultiTimerChoiceSheet::fitNames() {
    // Where the popover gives less height than the content asks for, the
    // names give way, whole lines at a time: the waiting client's line first,
    // then the two task titles. The panel's own texts stay whole.
    const std::array<TextBlock*, 3> givers{m_pending->subtitle(), m_pending->title(),
                                           m_running->title()};
    // The card's height follows at once, not at its next layout.
    const auto setLines = [](TextBlock* text, int lines) {
        text->setMaximumLines(lines);
        text->parentWidget()->updateGeometry();
    };
    for (TextBlock* text : givers)
        setLines(text, 0);
    layout()->activate();
    m_natural = {width(), layout()->totalHeightForWidth(width())};
    // Until it shows, it has no height of its own to fit.
    if (!isVisible() || !m_running->isVisibleTo(this))
        return;
    for (TextBlock* text : givers) {
        int excess = layout()->totalHeightForWidth(width()) - height();
        if (excess <= 0)
            return;
        const int lines = text->lineCount();
        const qreal spacing = QFontMetricsF(text->textFont()).lineSpacing();
        int keep = std::max(1, lines - int(std::ceil(excess / spacing)));
        setLines(text, keep);
        // A line less may give less than its height where the card's tile is taller.
        while (keep > 1 && layout()->totalHeightForWidth(width()) > height())
            setLines(text, --keep);
    }
}

void MultiTimerChoiceSheet::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitNames();
}

void MultiTimerChoiceSheet::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    fitNames();
}

void MultiTimerChoiceSheet::stopAndStartPending() {
    if (m_stopping)
        return;
    platform::Haptics::shared().perform(platform::HapticPattern::Generic);
    m_stopping = true;
    refresh();
    runStop();
}

QCoro::Task<void> MultiTimerChoiceSheet::runStop() {
    const QPointer<MultiTimerChoiceSheet> self(this);
    co_await m_store.stopAllAndStartPending();
    if (!self)
        co_return;
    // Refused at once (no pick, or another start under way): the panel
    // stays, so the choices come back.
    if (m_store.showMultiTimerSheet()) {
        m_stopping = false;
        refresh();
    }
}

void MultiTimerChoiceSheet::keepRunning() {
    if (m_stopping)
        return;
    platform::Haptics::shared().perform(platform::HapticPattern::Generic);
    m_store.setPendingPick(std::nullopt);
    m_store.setShowMultiTimerSheet(false);
}

QSize MultiTimerChoiceSheet::sizeHint() const {
    return QSize(kWidth, heightForWidth(kWidth));
}

int MultiTimerChoiceSheet::heightForWidth(int width) const {
    if (width == m_natural.width)
        return m_natural.height;
    return layout()->totalHeightForWidth(width);
}

void MultiTimerChoiceSheet::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), choicePanelColors(m_chrome.light()).background);
}

} // namespace orvane
