#include "views/popover/active_session_card.h"

#include "platform/clock.h"
#include "platform/haptics.h"
#include "store/app_store.h"
#include "store/time_money_helpers.h"
#include "views/kit/duration_text.h"
#include "views/kit/fonts.h"
#include "views/kit/palette.h"
#include "views/kit/pulsing_dot.h"
#include "views/kit/symbols.h"

#include <QAbstractButton>
#include <QFontMetricsF>
#include <QImage>
#include <QLinearGradient>
#include <QLocale>
#include <QPainter>
#include <QPaintEvent>
#include <QPainterPath>
#include <QRegion>

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

constexpr qreal kPadding = 14;
constexpr qreal kRowSpacing = 8;
constexpr qreal kCornerRadius = 16;
constexpr qreal kRateLineGap = 10;
constexpr qreal kRateLineInset = 4;
constexpr qreal kStopHeight = 32;
constexpr qreal kBarHeight = 5;

QFont tracked(QFont font, qreal tracking) {
    font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return font;
}

QFont badgeFont() {
    return tracked(systemFont(10, FontWeight::Bold), 0.6);
}
QFont clientLineFont() {
    return systemFont(12, FontWeight::Medium);
}
QFont taskFont() {
    return systemFont(16, FontWeight::Bold);
}
QFont budgetLabelFont() {
    return tracked(systemFont(10, FontWeight::Bold), 0.5);
}
QFont budgetPercentFont() {
    return systemFont(11, FontWeight::Semibold);
}
QFont budgetRemainingFont() {
    return systemFont(11);
}
QFont elapsedFont() {
    return systemFont(28, FontWeight::Medium);
}
QFont rateFont() {
    return systemFont(11);
}
QFont earnedFont() {
    return systemFont(11, FontWeight::Semibold);
}
QFont stopTextFont() {
    return systemFont(12, FontWeight::Bold);
}

qreal lineHeight(const QFont& font) {
    return QFontMetricsF(font).height();
}

// Draws one line of text vertically centred in `row`, starting at `x`.
void drawCentred(QPainter& p, const QFont& font, const QString& text, qreal x, const QRectF& row) {
    const QFontMetricsF m(font);
    p.setFont(font);
    p.drawText(QPointF(x, row.top() + (row.height() - m.height()) / 2 + m.ascent()), text);
}

void drawCentredDigits(QPainter& p, const QFont& font, const QString& text, qreal x,
                       const QRectF& row) {
    const QFontMetricsF m(font);
    drawDigitCellText(p, QPointF(x, row.top() + (row.height() - m.height()) / 2 + m.ascent()), font,
                      text);
}

QPainterPath capsule(const QRectF& rect) {
    QPainterPath path;
    const qreal r = std::min(rect.width(), rect.height()) / 2;
    path.addRoundedRect(rect, r, r);
    return path;
}

} // namespace

// ---- Decisions ----

CardChromeColors cardChromeColors(bool light) {
    if (light)
        return {QColor(75, 85, 99),
                QColor(17, 24, 39),
                QColor(224, 238, 255),
                QColor(255, 228, 240),
                QColor::fromRgbF(0, 0, 0, 0.08f),
                QColor::fromRgbF(0, 0, 0, 0.08f)};
    return {QColor::fromRgbF(1, 1, 1, 0.7f),
            QColor(Qt::white),
            QColor(45, 31, 74),
            QColor(26, 26, 46),
            QColor(Qt::transparent),
            QColor::fromRgbF(1, 1, 1, 0.1f)};
}

bool isRunningState(const TimerSession& session) {
    return session.running && !session.onBreak;
}

QColor sessionStatusColor(const TimerSession& session, bool light) {
    return isRunningState(session) ? Palette::pink() : cardChromeColors(light).secondaryText;
}

QString sessionBadgeText(const TimerSession& session) {
    if (isRunningState(session))
        return QStringLiteral("LÄUFT · SEIT ") + formatClockTime(session.startedAt);
    if (session.onBreak)
        return QStringLiteral("PAUSE");
    return QStringLiteral("PAUSIERT");
}

std::optional<double> sessionHourlyRate(const std::optional<JobTaskDTO>& taskForRate,
                                        const QString& clientId,
                                        const std::vector<ClientDTO>& clients,
                                        const std::optional<APIUser>& user) {
    std::optional<QString> taskRate;
    std::optional<QString> clientRate;
    if (taskForRate) {
        taskRate = taskForRate->rate;
        if (taskForRate->job && taskForRate->job->client && taskForRate->job->client->hourlyRate)
            clientRate = taskForRate->job->client->hourlyRate;
    }
    if (!clientRate) {
        const auto listed = std::find_if(clients.begin(), clients.end(),
                                         [&](const ClientDTO& c) { return c.id == clientId; });
        if (listed != clients.end())
            clientRate = listed->hourlyRate;
    }
    return firstDecimal(taskRate, clientRate, user ? user->defaultHourlyRate : std::nullopt);
}

std::optional<qint64> earnedCents(std::optional<double> rate, qint64 liveSecs) {
    if (!rate)
        return std::nullopt;
    // Multiplied before dividing, so that exact halves stay exact.
    return saturatingRound(double(liveSecs) * *rate * 100.0 / 3600.0);
}

namespace {

// "92,5": German decimals, no trailing zeros.
QString rateNumberText(double rate) {
    QString number = QLocale(QLocale::German, QLocale::Germany).toString(rate, 'f', 2);
    if (number.isEmpty())
        number = QString::asprintf("%.2f", rate);
    else if (const qsizetype comma = number.lastIndexOf(u','); comma >= 0) {
        while (number.endsWith(u'0'))
            number.chop(1);
        if (number.endsWith(u','))
            number.chop(1);
    }
    return number;
}

} // namespace

QString hourlyRateText(double rate) {
    return rateNumberText(rate) + QStringLiteral(" €/h · abrechenbar");
}

QString earnedText(qint64 cents) {
    return QStringLiteral("+") + formatEuro(cents);
}

std::optional<BudgetFigures> budgetFigures(const TimerSession& session, const QDateTime& at) {
    if (session.budgetSecs < 1)
        return std::nullopt;
    BudgetFigures f;
    f.usedSecs =
        std::max<qint64>(saturatingAdd(session.trackedBeforeSecs, session.liveElapsedSecs(at)), 0);
    f.fraction = double(f.usedSecs) / double(session.budgetSecs);
    const double percent = std::trunc(f.fraction * 100.0);
    f.percent = percent >= 100.0 ? 100 : int(percent);
    f.remainingSecs = std::max<qint64>(session.budgetSecs - f.usedSecs, 0);
    return f;
}

QColor budgetColor(int percent) {
    const double k = std::clamp(percent / 100.0, 0.0, 1.0);
    return QColor::fromRgbF(float(0.20392 + 0.75294 * k), float(0.85098 - 0.60392 * k),
                            float(0.6 - 0.23137 * k));
}

CardContent cardContent(const TimerSession& session, bool light, std::optional<double> rate,
                        const QDateTime& now) {
    CardContent c;
    c.running = isRunningState(session);
    c.statusColor = sessionStatusColor(session, light);
    c.badge = sessionBadgeText(session);
    c.clientLine = session.clientDisplayName + QStringLiteral(" · ") + session.jobTitle;
    c.taskTitle = session.taskTitle;
    c.budget = budgetFigures(session, now);
    if (c.budget) {
        c.budgetPercentText = QString::number(c.budget->percent) + u'%';
        c.budgetRemainingText = QStringLiteral("· ") + hoursMinutesText(c.budget->remainingSecs) +
                                QStringLiteral(" frei");
    }
    const qint64 live = session.liveElapsedSecs(now);
    c.elapsedText = formatDuration(live);
    c.elapsedSecs = live;
    c.rate = rate;
    if (rate) {
        c.rateText = hourlyRateText(*rate);
        c.earnedCents = earnedCents(rate, live);
        if (c.earnedCents)
            c.earnedText = earnedText(*c.earnedCents);
    }
    return c;
}

QString cardSpokenText(const TimerSession& session, const CardContent& c) {
    QString text = c.running ? QStringLiteral("Läuft seit ") + formatClockTime(session.startedAt)
                   : session.onBreak ? QStringLiteral("Pause")
                                     : QStringLiteral("Pausiert");
    // Blank titles are left out, not read as empty pauses.
    QStringList parts;
    QString what = c.taskTitle.trimmed();
    if (const QString client = session.clientDisplayName.trimmed(); !client.isEmpty())
        what += (what.isEmpty() ? QStringLiteral("für ") : QStringLiteral(" für ")) + client;
    if (!what.isEmpty())
        parts << what;
    if (const QString job = session.jobTitle.trimmed(); !job.isEmpty())
        parts << job;
    parts << spokenHoursMinutes(c.elapsedSecs);
    text += QStringLiteral(": ") + parts.join(QStringLiteral(", ")) + u'.';
    if (c.budget)
        text += QStringLiteral(" Budget ") + c.budgetPercentText + QStringLiteral(" genutzt, ") +
                spokenHoursMinutes(c.budget->remainingSecs) + QStringLiteral(" frei.");
    if (c.rate) {
        text += u' ' + rateNumberText(*c.rate) + QStringLiteral(" € pro Stunde abrechenbar");
        if (c.earnedCents)
            text += QStringLiteral(", bisher ") + formatEuro(*c.earnedCents);
        text += u'.';
    }
    return text;
}

CardLiveChange cardLiveChange(const CardContent& before, const CardContent& now, qreal barWidth) {
    const auto barEnd = [barWidth](const CardContent& c) {
        return c.budget ? std::llround(std::min(c.budget->fraction, 1.0) * barWidth * 4) : -1;
    };
    return {.elapsed = before.elapsedText != now.elapsedText,
            .budget = before.budgetPercentText != now.budgetPercentText ||
                      before.budgetRemainingText != now.budgetRemainingText ||
                      before.budget.has_value() != now.budget.has_value() ||
                      barEnd(before) != barEnd(now),
            .rate = before.rateText != now.rateText || before.earnedText != now.earnedText};
}

// ---- The stop button ----

class CardStopButton : public QAbstractButton {
public:
    explicit CardStopButton(QWidget* parent) : QAbstractButton(parent) {
        setText(QStringLiteral("Stoppen"));
        setAccessibleName(QStringLiteral("Stoppen"));
        pressOnReturn(this);
        setFocusPolicy(Qt::TabFocus);
        setCursor(Qt::PointingHandCursor);
    }
    QSize sizeHint() const override {
        const qreal textWidth = QFontMetricsF(stopTextFont()).horizontalAdvance(text());
        return QSize(int(std::ceil(14 + 10 + 6 + textWidth + 14)), int(kStopHeight));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF box = rect();
        QLinearGradient fill(box.topLeft(), box.topRight());
        fill.setColorAt(0, Palette::pink());
        fill.setColorAt(1, QColor(139, 92, 246));
        QPainterPath shape;
        shape.addRoundedRect(box, 9, 9);
        p.fillPath(shape, fill);
        if (isDown())
            p.fillPath(shape, QColor::fromRgbF(0, 0, 0, 0.15f));
        if (hasFocus()) {
            p.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.8f), 1.5));
            p.drawPath(shape);
        }
        const QFont font = stopTextFont();
        const qreal textWidth = QFontMetricsF(font).horizontalAdvance(text());
        const qreal x = (box.width() - (10 + 6 + textWidth)) / 2;
        drawSymbol(p, u"stop.fill", QPointF(x + 5, box.center().y()), 10, Qt::white,
                   FontWeight::Bold);
        p.setPen(Qt::white);
        drawCentred(p, font, text(), x + 16, box);
    }
};

// The card's sentence as a text of its own: a screen reader's review reads
// the texts in a group, never the group's name.
class CardSpeech : public QWidget, public SpokenText {
public:
    explicit CardSpeech(const ActiveSessionCard& card, QWidget* parent)
        : QWidget(parent), m_card(card) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAccessibleRole(this, QAccessible::StaticText);
    }
    QString spokenText() const override { return m_card.spokenText(); }

private:
    const ActiveSessionCard& m_card;
};

// ---- The card ----

struct ActiveSessionCard::Geometry {
    QRectF card;
    QRectF statusRow;
    QRectF clientLine;
    QRectF taskLine;
    std::optional<QRectF> budgetHeader;
    QRectF bar;
    QRectF bottomRow;
    QRectF stopButton;
    std::optional<QRectF> rateLine;
    qreal height = 0;
    // Where the figures that move by themselves are drawn; empty when absent.
    QRect elapsedArea;
    QRect budgetArea;
    QRect rateArea;
};

ActiveSessionCard::Geometry ActiveSessionCard::geometry(qreal width) const {
    const CardContent c = content();
    Geometry g;
    const qreal inner = std::max<qreal>(width - 2 * kPadding, 0);
    qreal y = kPadding;
    g.statusRow =
        QRectF(kPadding, y, inner, std::max<qreal>(PulsingDot::kSide, lineHeight(badgeFont())));
    y = g.statusRow.bottom() + kRowSpacing;
    g.clientLine = QRectF(kPadding, y, inner, lineHeight(clientLineFont()));
    y = g.clientLine.bottom() + 2;
    g.taskLine = QRectF(kPadding, y, inner, lineHeight(taskFont()));
    y = g.taskLine.bottom();
    if (c.budget) {
        y += kRowSpacing;
        g.budgetHeader = QRectF(kPadding, y, inner,
                                std::max(lineHeight(budgetLabelFont()), lineHeight(rateFont())));
        y = g.budgetHeader->bottom() + 4;
        g.bar = QRectF(kPadding, y, inner, kBarHeight);
        y = g.bar.bottom();
    }
    y += kRowSpacing;
    g.bottomRow = QRectF(kPadding, y, inner, std::max(lineHeight(elapsedFont()), kStopHeight));
    const QSize stop = m_stopButton->sizeHint();
    g.stopButton = QRectF(g.bottomRow.right() - stop.width(),
                          g.bottomRow.top() + (g.bottomRow.height() - stop.height()) / 2,
                          stop.width(), stop.height());
    y = g.bottomRow.bottom() + kPadding;
    g.card = QRectF(0, 0, width, y);
    if (c.rateText) {
        g.rateLine = QRectF(kRateLineInset, y + kRateLineGap,
                            std::max<qreal>(width - 2 * kRateLineInset, 0), lineHeight(rateFont()));
        y = g.rateLine->bottom();
    }
    g.height = y;
    g.elapsedArea =
        QRectF(g.bottomRow.left(), g.bottomRow.top(),
               std::max<qreal>(g.stopButton.left() - g.bottomRow.left(), 0), g.bottomRow.height())
            .toAlignedRect();
    if (g.budgetHeader)
        g.budgetArea = g.budgetHeader->united(g.bar).toAlignedRect();
    if (g.rateLine)
        g.rateArea = g.rateLine->toAlignedRect();
    return g;
}

ActiveSessionCard::ActiveSessionCard(AppStore& store, QWidget* parent)
    : QWidget(parent), m_store(store), m_dot(new PulsingDot(Qt::white, false, this)),
      m_stopButton(new CardStopButton(this)), m_speech(new CardSpeech(*this, this)) {
    m_speech->lower(); // read first, as drawn
    m_dot->setUnderlay([this](QPainter& p, QPoint at) { p.drawPixmap(QPointF(-at), backdrop(p)); });
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleRole(this, QAccessible::Grouping);
    setAccessibleDescription(QStringLiteral("Laufende Session"));
    connect(m_stopButton, &QAbstractButton::clicked, this, &ActiveSessionCard::stop);
    connect(&m_store, &AppStore::changed, this, [this](AppStore::Property property) {
        if (property == AppStore::Property::Clients || property == AppStore::Property::CurrentUser)
            contentChanged();
    });
    contentChanged();
}

CardContent ActiveSessionCard::content() const {
    const std::optional<double> rate = sessionHourlyRate(m_taskForRate, m_session.clientId,
                                                         m_store.clients(), m_store.currentUser());
    return cardContent(m_session, m_useLight, rate, platform::Clock::shared().now());
}

QString ActiveSessionCard::spokenText() const {
    return cardSpokenText(m_session, content());
}

void ActiveSessionCard::setSession(const TimerSession& session) {
    // The store counts a running session's seconds up every second; that
    // moves only the live figures.
    TimerSession counted = m_session;
    counted.elapsedSecs = session.elapsedSecs;
    if (counted == session) {
        m_session = session;
        clockTick();
        return;
    }
    const bool otherTask = session.taskId != m_session.taskId;
    m_session = session;
    if (otherTask) {
        // The old task's rate must not show for the new one, not even while
        // the new one loads.
        m_taskForRate.reset();
        m_rateLoadedFor.reset();
        ++m_rateLoads;
        if (isVisible())
            loadTaskForRateIfNeeded();
    }
    if (isVisible())
        followClocks();
    contentChanged();
}

void ActiveSessionCard::setUseLight(bool useLight) {
    if (useLight == m_useLight)
        return;
    m_useLight = useLight;
    contentChanged();
}

void ActiveSessionCard::contentChanged() {
    const CardContent c = content();
    m_dot->setColor(c.statusColor);
    m_dot->setAnimate(c.running);
    const bool hasRateLine = c.rateText.has_value();
    const bool hasBudget = c.budget.has_value();
    if (hasRateLine != m_hadRateLine || hasBudget != m_hadBudget) {
        m_hadRateLine = hasRateLine;
        m_hadBudget = hasBudget;
        updateGeometry();
    }
    m_geometry.reset();
    m_backdrop = QPixmap();
    m_live = c;
    placeChildren();
    update();
    announceNameChange(this);
    announceNameChange(m_speech);
}

// Between content changes only the live figures move: each of the store's
// ticks (a new session value) redraws those that changed, so an open popover
// paints a few small rectangles a second instead of the whole card.
void ActiveSessionCard::clockTick() {
    if (!m_elapsedLive)
        return; // a show draws everything anyway; a stopped clock moves nothing
    const CardContent now = content();
    const Geometry& g = currentGeometry();
    const CardLiveChange change = cardLiveChange(m_live, now, g.bar.width());
    // Screen readers hear of the sentence's change by the minute; they read
    // its cents when they read it.
    if (now.elapsedSecs / 60 != m_live.elapsedSecs / 60) {
        announceNameChange(this);
        announceNameChange(m_speech);
    }
    m_live = now;
    if (!change.any())
        return;
    QRegion dirty;
    if (change.elapsed)
        dirty += g.elapsedArea;
    if (change.budget)
        dirty += g.budgetArea;
    if (change.rate)
        dirty += g.rateArea;
    if (!dirty.isEmpty())
        update(dirty);
}

void ActiveSessionCard::stop() {
    platform::Haptics::shared().perform(platform::HapticPattern::LevelChange);
    // The store removes the session and publishes the summary; the card
    // waits for nothing, and may be gone by then.
    m_store.stopSession(m_session.id);
}

void ActiveSessionCard::followClocks() {
    m_elapsedLive = isVisible() && isRunningState(m_session);
    m_budgetLive = m_elapsedLive && m_session.budgetSecs >= 1;
}

void ActiveSessionCard::loadTaskForRateIfNeeded() {
    if (m_rateLoadedFor == m_session.taskId)
        return;
    m_rateLoadedFor = m_session.taskId;
    ++m_rateLoads;
    if (m_session.taskId.trimmed().isEmpty())
        return; // nothing to ask for: the client and user rates stand
    loadTaskForRate(m_session.taskId, m_rateLoads);
}

QCoro::Task<void> ActiveSessionCard::loadTaskForRate(QString taskId, quint64 load) {
    const QPointer<ActiveSessionCard> self(this);
    std::optional<JobTaskDTO> task;
    try {
        task = co_await m_store.api().fetchJobTask(taskId, false);
    } catch (...) {
    }
    if (!self)
        co_return;
    // A reply for a task shown earlier arrives late: it is not this one's.
    if (load != m_rateLoads || taskId != m_session.taskId)
        co_return;
    m_taskForRate = std::move(task);
    contentChanged();
}

QSize ActiveSessionCard::sizeHint() const {
    return QSize(372, int(std::ceil(geometry(372).height)));
}

QSize ActiveSessionCard::minimumSizeHint() const {
    return QSize(220, int(std::ceil(geometry(220).height)));
}

const ActiveSessionCard::Geometry& ActiveSessionCard::currentGeometry() {
    if (!m_geometry || m_geometry->card.width() != width())
        m_geometry = std::make_shared<const Geometry>(geometry(width()));
    return *m_geometry;
}

void ActiveSessionCard::placeChildren() {
    const Geometry& g = currentGeometry();
    m_dot->setGeometry(int(g.statusRow.left()),
                       int(std::round(g.statusRow.center().y() - PulsingDot::kSide / 2.0)),
                       PulsingDot::kSide, PulsingDot::kSide);
    m_stopButton->setGeometry(g.stopButton.toRect());
    m_speech->setGeometry(g.card.toAlignedRect());
}

void ActiveSessionCard::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_backdrop = QPixmap();
    placeChildren();
}

void ActiveSessionCard::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    followClocks();
    loadTaskForRateIfNeeded();
}

void ActiveSessionCard::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_elapsedLive = m_budgetLive = false;
    // The popover stays closed most of the day; the next show draws anew.
    m_backdrop = QPixmap();
}

const QPixmap& ActiveSessionCard::backdrop(const QPainter& p) {
    // The device's own scale: a snapshot may draw the card at another one
    // than its screen.
    const qreal dpr = std::max(std::abs(p.deviceTransform().m11()), qreal(1));
    if (m_backdrop.isNull() || m_backdrop.devicePixelRatio() != dpr) {
        m_backdrop = QPixmap((QSizeF(size()) * dpr).toSize());
        m_backdrop.setDevicePixelRatio(dpr);
        m_backdrop.fill(Qt::transparent);
        QPainter backdrop(&m_backdrop);
        paintBackdrop(backdrop, m_live, currentGeometry());
    }
    return m_backdrop;
}

void ActiveSessionCard::paintEvent(QPaintEvent* event) {
    // The pulsing dot draws its own square over the backdrop; its frames
    // never come here.
    const Geometry& g = currentGeometry();
    QPainter p(this);
    p.drawPixmap(QPointF(0, 0), backdrop(p));
    const QRegion region = event->region() & (QRegion(g.elapsedArea) + g.budgetArea + g.rateArea);
    if (!region.isEmpty())
        paintLive(p, content(), g, region);
}

void ActiveSessionCard::paintBackdrop(QPainter& p, const CardContent& c, const Geometry& g) const {
    const CardChromeColors colors = cardChromeColors(m_useLight);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QPainterPath shape;
    shape.addRoundedRect(g.card.adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius, kCornerRadius);
    QLinearGradient fill(g.card.topLeft(), g.card.bottomRight());
    fill.setColorAt(0, colors.gradientTop);
    fill.setColorAt(1, colors.gradientBottom);
    p.fillPath(shape, fill);
    if (colors.border.alpha() > 0) {
        p.setPen(QPen(colors.border, 1));
        p.drawPath(shape);
    }
    p.setClipPath(shape);

    // Status row: the dot is a child; the badge follows it.
    p.setPen(c.statusColor);
    drawCentred(p, badgeFont(), c.badge, g.statusRow.left() + PulsingDot::kSide + 6, g.statusRow);

    // Titles, one line each.
    p.setPen(colors.secondaryText);
    const QFontMetricsF clientMetrics(clientLineFont());
    drawCentred(p, clientLineFont(),
                clientMetrics.elidedText(c.clientLine, Qt::ElideRight, g.clientLine.width()),
                g.clientLine.left(), g.clientLine);
    p.setPen(colors.titleText);
    const QFontMetricsF taskMetrics(taskFont());
    drawCentred(p, taskFont(),
                taskMetrics.elidedText(c.taskTitle, Qt::ElideRight, g.taskLine.width()),
                g.taskLine.left(), g.taskLine);

    if (c.budget && g.budgetHeader) {
        p.setPen(colors.secondaryText);
        drawCentred(p, budgetLabelFont(), QStringLiteral("BUDGET"), g.budgetHeader->left(),
                    *g.budgetHeader);
        p.fillPath(capsule(g.bar), colors.budgetTrack);
    }
}

void ActiveSessionCard::paintLive(QPainter& p, const CardContent& c, const Geometry& g,
                                  const QRegion& region) const {
    const CardChromeColors colors = cardChromeColors(m_useLight);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    // Inside the card's padding the rounded corners cut nothing off.
    p.save();
    p.setClipRect(g.card.adjusted(kPadding / 2, kPadding / 2, -kPadding / 2, -kPadding / 2));

    if (c.budget && g.budgetHeader && region.intersects(g.budgetArea)) {
        const QRectF& header = *g.budgetHeader;
        const qreal remainingWidth =
            digitCellTextWidth(budgetRemainingFont(), c.budgetRemainingText);
        const qreal percentWidth = digitCellTextWidth(budgetPercentFont(), c.budgetPercentText);
        const QColor tint = budgetColor(c.budget->percent);
        p.setPen(colors.secondaryText);
        drawCentredDigits(p, budgetRemainingFont(), c.budgetRemainingText,
                          header.right() - remainingWidth, header);
        p.setPen(tint);
        drawCentredDigits(p, budgetPercentFont(), c.budgetPercentText,
                          header.right() - remainingWidth - 6 - percentWidth, header);
        const qreal filled = g.bar.width() * std::min(c.budget->fraction, 1.0);
        if (filled > 0)
            p.fillPath(capsule(QRectF(g.bar.topLeft(), QSizeF(filled, g.bar.height()))), tint);
    }

    // The live time in the indigo-to-pink fill; it keeps its width, the titles give way.
    if (region.intersects(g.elapsedArea)) {
        // Drawn in one colour and then tinted: a gradient pen blends every
        // glyph pixel by pixel, which Qt spreads over its thread pool each
        // second the clock turns.
        const QFont elapsed = elapsedFont();
        const qreal elapsedWidth = digitCellTextWidth(elapsed, c.elapsedText);
        const QRectF box(0, 0, std::ceil(elapsedWidth) + 2, g.bottomRow.height());
        const qreal dpr = std::max(std::abs(p.deviceTransform().m11()), qreal(1));
        QImage text((box.size() * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
        text.setDevicePixelRatio(dpr);
        text.fill(Qt::transparent);
        {
            QPainter tp(&text);
            tp.setRenderHint(QPainter::TextAntialiasing);
            tp.setPen(Qt::white);
            drawCentredDigits(tp, elapsed, c.elapsedText, 0, box);
            QLinearGradient ink(QPointF(0, 0), QPointF(elapsedWidth, 0));
            ink.setColorAt(0, Palette::indigo());
            ink.setColorAt(1, Palette::pink());
            tp.setCompositionMode(QPainter::CompositionMode_SourceIn);
            tp.fillRect(box, ink);
        }
        p.drawImage(g.bottomRow.topLeft(), text);
    }
    p.restore();

    if (c.rateText && g.rateLine && region.intersects(g.rateArea)) {
        const QRectF& line = *g.rateLine;
        const QFontMetricsF rateMetrics(rateFont());
        const QFontMetricsF earnedMetrics(earnedFont());
        qreal earnedWidth = 0;
        if (c.earnedText) {
            earnedWidth = earnedMetrics.horizontalAdvance(*c.earnedText);
            p.setPen(Palette::mint());
            p.setFont(earnedFont());
            p.drawText(QPointF(line.right() - earnedWidth, line.top() + rateMetrics.ascent()),
                       *c.earnedText);
        }
        p.setPen(colors.secondaryText);
        p.setFont(rateFont());
        const qreal room = std::max<qreal>(line.width() - earnedWidth - 8, 0);
        p.drawText(QPointF(line.left(), line.top() + rateMetrics.ascent()),
                   rateMetrics.elidedText(*c.rateText, Qt::ElideRight, room));
    }
}

} // namespace orvane
