#include "views/flow/summary_view.h"

#include "platform/clock.h"
#include "platform/haptics.h"
#include "store/app_store.h"
#include "store/error_text.h"
#include "store/time_money_helpers.h"
#include "views/kit/accessibility.h"
#include "views/kit/chrome.h"
#include "views/kit/client_tile.h"
#include "views/kit/digit_text.h"
#include "views/kit/duration_text.h"
#include "views/kit/fonts.h"
#include "views/kit/palette.h"
#include "views/kit/stat_card.h"
#include "views/kit/symbols.h"
#include "views/kit/text_block.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetricsF>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvane {

// ---- Decisions ----

QString normalizedRoundDirection(const StoppedSummary& summary) {
    const QString direction = summary.timeRoundDirection.value_or(QString()).toLower();
    if (direction == u"up" || direction == u"down" || direction == u"closest")
        return direction;
    return QStringLiteral("down");
}

qint64 savedRoundValue(const StoppedSummary& summary) {
    const qint64 value = summary.timeRoundValueMinutes.value_or(0);
    return value >= 2 ? value : 1;
}

SummaryDrafts draftsFromSummary(const StoppedSummary& summary) {
    return {summary.billable, normalizedRoundDirection(summary), savedRoundValue(summary)};
}

bool roundingDiffers(const SummaryDrafts& drafts, const StoppedSummary& summary) {
    return drafts.roundDirection != normalizedRoundDirection(summary) ||
           drafts.roundValue != savedRoundValue(summary);
}

bool hasUnsavedChanges(const SummaryDrafts& drafts, const StoppedSummary& summary) {
    return drafts.billable != summary.billable || roundingDiffers(drafts, summary);
}

qint64 previewDurationSecs(const StoppedSummary& summary, const SummaryDrafts& drafts) {
    if (!roundingDiffers(drafts, summary))
        return summary.elapsedSecs;
    // The store's grid rule: whole minutes, "up" books at least one step,
    // and a grid step too large for the range saturates.
    return minuteGridRoundedSecs(summary.startedAt, summary.endedAt, drafts.roundDirection,
                                 drafts.roundValue);
}

std::vector<qint64> minuteGridOptions(qint64 draftRoundValue) {
    std::vector<qint64> options{1, 5, 10, 15, 30, 60};
    if (draftRoundValue >= 2 &&
        std::find(options.begin(), options.end(), draftRoundValue) == options.end()) {
        options.push_back(draftRoundValue);
        std::sort(options.begin(), options.end());
    }
    return options;
}

QString roundingDescription(const std::optional<QString>& direction,
                            std::optional<qint64> minutes) {
    if (!minutes || *minutes < 1)
        return QStringLiteral(
            "Start und Ende werden auf volle Minuten gekappt; kein Minuten-Raster.");
    const QString number = QString::number(*minutes);
    const QString dir = direction.value_or(QString()).toLower();
    if (dir == u"up")
        return QStringLiteral("Gerundet: aufrunden auf ") + number + QStringLiteral(" Minuten.");
    if (dir == u"closest")
        return QStringLiteral("Gerundet: auf ") + number +
               QStringLiteral(" Minuten kaufmännisch (nächster Wert).");
    return QStringLiteral("Gerundet: abrunden auf ") + number + QStringLiteral(" Minuten.");
}

QString dayLabel(const QDateTime& date, const QDateTime& now) {
    const QDateTime local = date.toLocalTime();
    if (local.date() == now.toLocalTime().date())
        return QStringLiteral("heute");
    return QLocale(QLocale::German, QLocale::Germany)
        .toString(local, QStringLiteral("ddd · d. MMM"));
}

QString saveErrorText(const QString& description) {
    if (description.contains(QStringLiteral("405")) &&
        description.contains(QStringLiteral("PATCH"), Qt::CaseInsensitive))
        return QStringLiteral("Auf diesem Server fehlt noch die Schnittstelle zum Speichern "
                              "(PATCH auf die Job-Zeit). Bitte im Backend ergänzen – bis dahin "
                              "werden Änderungen am Server nicht übernommen.");
    return description;
}

QColor summaryBudgetTint(int percent) {
    const double p = std::clamp(percent / 100.0, 0.0, 1.0);
    return QColor::fromRgbF(float((52 + 192 * p) / 255), float((217 - 154 * p) / 255),
                            float((153 - 59 * p) / 255));
}

namespace {

qint64 saturatingSub(qint64 a, qint64 b) {
    qint64 out = 0;
    if (!__builtin_sub_overflow(a, b, &out))
        return out;
    return b < 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

} // namespace

SummaryFigures summaryFigures(const StoppedSummary& summary, const SummaryDrafts& drafts,
                              const QDateTime& now) {
    SummaryFigures f;
    f.unsaved = hasUnsavedChanges(drafts, summary);
    f.previewSecs = previewDurationSecs(summary, drafts);
    f.projectTotalSecs =
        roundingDiffers(drafts, summary)
            ? saturatingAdd(summary.trackedBeforeExcludingThisEntrySecs, f.previewSecs)
            : summary.projectTrackedSecs;
    f.budgetSet = summary.projectBudgetSecs > 0;
    if (f.budgetSet) {
        const double percent =
            std::trunc(double(f.projectTotalSecs) / double(summary.projectBudgetSecs) * 100.0);
        f.budgetUsedPercent = percent >= 100 ? 100 : percent <= 0 ? 0 : int(percent);
        f.remainingSecs =
            std::max<qint64>(saturatingSub(summary.projectBudgetSecs, f.projectTotalSecs), 0);
    }
    f.durationText = hoursMinutesText(f.previewSecs);
    f.roundingText = roundingDescription(drafts.roundDirection, drafts.roundValue);
    f.startTime = formatClockTime(summary.startedAt);
    f.startDay = dayLabel(summary.startedAt, now);
    f.endTime = formatClockTime(summary.endedAt);
    f.endDay = dayLabel(summary.endedAt, now);
    if (f.budgetSet) {
        f.budgetValue = QString::number(f.budgetUsedPercent) + u'%';
        f.budgetSubtitle = hoursMinutesText(f.remainingSecs) + QStringLiteral(" frei");
        f.budgetTint = summaryBudgetTint(f.budgetUsedPercent);
        f.projectSubtitle = QStringLiteral("von ") + hoursMinutesText(summary.projectBudgetSecs);
    } else {
        f.budgetValue = QStringLiteral("—");
        f.budgetSubtitle = QStringLiteral("Kein Soll definiert");
        f.projectSubtitle = QStringLiteral("ohne Budget-Obergrenze");
    }
    f.projectValue = hoursMinutesText(f.projectTotalSecs);
    f.startSpoken = statCardSpokenText(QStringLiteral("Start"), f.startTime, f.startDay);
    f.endSpoken = statCardSpokenText(QStringLiteral("Ende"), f.endTime, f.endDay);
    const QString projectTotal =
        QStringLiteral("Projekt gesamt ") + spokenHoursMinutes(f.projectTotalSecs);
    if (f.budgetSet) {
        f.budgetSpoken = QStringLiteral("Budget genutzt ") + f.budgetValue + QStringLiteral(", ") +
                         spokenHoursMinutes(f.remainingSecs) + QStringLiteral(" frei");
        f.projectSpoken =
            projectTotal + QStringLiteral(" von ") + spokenHoursMinutes(summary.projectBudgetSecs);
    } else {
        f.budgetSpoken = QStringLiteral("Budget genutzt: kein Soll definiert");
        f.projectSpoken = projectTotal + QStringLiteral(", ohne Budget-Obergrenze");
    }
    f.statusText = summary.billable
                       ? QStringLiteral("Zeit wurde dem Projekt zugebucht.")
                       : QStringLiteral("Die Zeit ist als nicht abrechenbar markiert und bleibt "
                                        "im Projekt erfasst.");
    return f;
}

QString summarySpokenText(const StoppedSummary& summary, const SummaryFigures& f) {
    QString text = QStringLiteral("Gebucht: ") + spokenHoursMinutes(f.previewSecs);
    // Blank titles are left out, not read as empty pauses.
    QStringList what;
    if (const QString task = summary.taskTitle.trimmed(); !task.isEmpty())
        what << task;
    if (const QString client = summary.clientName.trimmed(); !client.isEmpty())
        what << client;
    if (const QString job = summary.jobTitle.trimmed(); !job.isEmpty())
        what << job;
    if (!what.isEmpty())
        text += QStringLiteral(", ") + what.join(QStringLiteral(", "));
    return text + QStringLiteral(". ") + f.roundingText + u' ' +
           QStringList{f.startSpoken, f.endSpoken, f.budgetSpoken, f.projectSpoken}.join(
               QStringLiteral(". ")) +
           QStringLiteral(". ") + f.statusText;
}

QString gridSpokenValue(qint64 minutes) {
    return QString::number(minutes) +
           (minutes == 1 ? QStringLiteral(" Minute") : QStringLiteral(" Minuten"));
}

// ---- Parts of the panel ----

namespace {

QFont tracked(QFont font, qreal tracking) {
    font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return font;
}

QColor withAlpha(QColor color, qreal alpha) {
    color.setAlphaF(float(alpha));
    return color;
}

QPainterPath roundedRect(const QRectF& rect, qreal radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// A container that paints its own background and holds a layout.
class Backdrop : public QWidget {
public:
    using Paint = std::function<void(QPainter&, const QRectF&)>;
    Backdrop(Paint paint, QWidget* parent = nullptr) : QWidget(parent), m_paint(std::move(paint)) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        m_paint(p, QRectF(rect()));
    }

private:
    Paint m_paint;
};

Backdrop::Paint cardPaint(QColor fill, QColor outline, qreal radius) {
    return [fill, outline, radius](QPainter& p, const QRectF& box) {
        const QPainterPath shape = roundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), radius);
        p.fillPath(shape, fill);
        p.setPen(QPen(outline, 1));
        p.drawPath(shape);
    };
}

// The header's close control.
class CloseButton : public QAbstractButton {
public:
    explicit CloseButton(QWidget* parent) : QAbstractButton(parent) {
        setFixedSize(40, 44);
        setAccessibleName(QStringLiteral("Schließen"));
        setFocusPolicy(Qt::TabFocus);
        setCursor(Qt::PointingHandCursor);
        pressOnReturn(this);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(rect(), withAlpha(Qt::white, isDown() ? 0.12 : 0.06));
        drawSymbol(p, u"xmark", QRectF(rect()).center(), 14, Palette::textSecondary(),
                   FontWeight::Medium);
        if (hasFocus())
            strokeKeyboardFocus(p, QRectF(rect()), 4);
    }
};

// The minute grid's picker, drawn as a menu button: the choice and its
// up-down chevrons at the trailing edge, no box; its list in the panel's
// colours.
class GridPicker : public QComboBox {
public:
    static constexpr int kMinimumWidth = 100;

    explicit GridPicker(QWidget* parent) : QComboBox(parent) {
        setFont(systemFont(11));
        setMinimumWidth(kMinimumWidth);
        setFocusPolicy(Qt::TabFocus);
        setCursor(Qt::PointingHandCursor);
        setAccessibleName(QStringLiteral("Minuten-Raster"));
        QPalette list = palette();
        for (const QPalette::ColorRole role : {QPalette::Window, QPalette::Base})
            list.setColor(role, Palette::bgElevated());
        for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text})
            list.setColor(role, Palette::textPrimary());
        list.setColor(QPalette::Highlight, Palette::indigo());
        list.setColor(QPalette::HighlightedText, Qt::white);
        view()->setPalette(list);
        if (QWidget* popup = view()->parentWidget())
            popup->setPalette(list);
    }
    QSize sizeHint() const override {
        const QFontMetrics metrics(font());
        int widest = 0;
        for (int i = 0; i < count(); ++i)
            widest = std::max(widest, metrics.horizontalAdvance(itemText(i)));
        return {std::max(kMinimumWidth, widest + kChevronRoom + 2 * kInset), metrics.height() + 6};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF box(rect());
        const QColor ink = Palette::textPrimary();
        if (hasFocus()) {
            p.setPen(QPen(withAlpha(Palette::indigo(), 0.8), 1.5));
            p.drawPath(roundedRect(box.adjusted(1, 1, -1, -1), 5));
        }
        // Chevrons up and down, 7 wide, at the trailing edge.
        const qreal cx = box.right() - kInset - 3.5;
        const qreal cy = box.center().y();
        QPainterPath chevrons;
        chevrons.moveTo(cx - 3, cy - 1.5);
        chevrons.lineTo(cx, cy - 4.5);
        chevrons.lineTo(cx + 3, cy - 1.5);
        chevrons.moveTo(cx - 3, cy + 1.5);
        chevrons.lineTo(cx, cy + 4.5);
        chevrons.lineTo(cx + 3, cy + 1.5);
        QPen pen(ink, 1.3);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        p.setPen(pen);
        p.drawPath(chevrons);
        p.setPen(ink);
        p.setFont(font());
        const QRectF text = box.adjusted(kInset, 0, -(kInset + kChevronRoom), 0);
        p.drawText(text, Qt::AlignRight | Qt::AlignVCenter,
                   fontMetrics().elidedText(currentText(), Qt::ElideRight, int(text.width())));
    }

private:
    static constexpr int kInset = 4;
    static constexpr int kChevronRoom = 7 + 5; // the chevrons and their gap to the text
};

// A wide button on the accent fill: "Speichern" (with its progress
// indicator while saving) and "Fertig".
class AccentButton : public QAbstractButton {
public:
    AccentButton(const QString& title, AccentStyle style, QWidget* parent)
        : QAbstractButton(parent), m_style(style) {
        setText(title);
        setAccessibleName(title);
        setFocusPolicy(Qt::TabFocus);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        pressOnReturn(this);
        m_spin.setInterval(40);
        connect(&m_spin, &QTimer::timeout, this, [this] {
            m_angle = (m_angle + 30) % 360;
            update();
        });
    }
    void setAccentStyle(AccentStyle style) {
        m_style = style;
        update();
    }
    // The small progress indicator and the dimmed look of a running save.
    void setBusy(bool busy) {
        m_busy = busy;
        followSpin();
        update();
    }
    bool busy() const { return m_busy; }
    QSize sizeHint() const override {
        return QSize(200, int(std::ceil(QFontMetricsF(font15()).height() + 28)));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setOpacity(m_busy ? 0.65 : 1.0);
        const QPainterPath shape = roundedRect(QRectF(rect()), 16);
        fillAccent(p, shape, m_style);
        if (isDown())
            p.fillPath(shape, withAlpha(Qt::black, 0.15));
        if (hasFocus()) {
            p.setPen(QPen(withAlpha(Qt::white, 0.8), 1.5));
            p.drawPath(shape);
        }
        const QFont font = font15();
        const qreal textWidth = QFontMetricsF(font).horizontalAdvance(text());
        constexpr qreal kSpinner = 14;
        const qreal total = textWidth + (m_busy ? kSpinner + 8 : 0);
        qreal x = (width() - total) / 2;
        if (m_busy) {
            const QRectF ring(x, (height() - kSpinner) / 2, kSpinner, kSpinner);
            p.setPen(QPen(withAlpha(Qt::white, 0.3), 2));
            p.drawEllipse(ring.adjusted(1, 1, -1, -1));
            p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
            p.drawArc(ring.adjusted(1, 1, -1, -1), -m_angle * 16, 100 * 16);
            x += kSpinner + 8;
        }
        p.setPen(Qt::white);
        p.setFont(font);
        p.drawText(QRectF(x, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    }
    void showEvent(QShowEvent* event) override {
        QAbstractButton::showEvent(event);
        followSpin();
    }
    void hideEvent(QHideEvent* event) override {
        QAbstractButton::hideEvent(event);
        m_spin.stop();
    }

private:
    static QFont font15() { return systemFont(15, FontWeight::Bold); }
    void followSpin() {
        if (m_busy && isVisible())
            m_spin.start();
        else
            m_spin.stop();
    }

    AccentStyle m_style;
    bool m_busy = false;
    int m_angle = 0;
    QTimer m_spin;
};

// A labelled switch in the plain platform look, tinted indigo when on; the
// whole row takes the click.
class BillableSwitch : public QAbstractButton {
public:
    explicit BillableSwitch(QWidget* parent) : QAbstractButton(parent) {
        setCheckable(true);
        setText(QStringLiteral("Zeit ist abrechenbar"));
        setAccessibleName(text());
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        pressOnReturn(this);
    }
    QSize sizeHint() const override {
        return QSize(200, int(std::max<qreal>(22, QFontMetricsF(labelFont()).height())));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setFont(labelFont());
        p.setPen(Palette::textPrimary());
        constexpr qreal kTrackW = 32, kTrackH = 18;
        const QRectF track(width() - kTrackW - 1, (height() - kTrackH) / 2, kTrackW, kTrackH);
        p.drawText(QRectF(0, 0, track.left() - 8, height()), Qt::AlignVCenter | Qt::AlignLeft,
                   QFontMetricsF(labelFont())
                       .elidedText(text(), Qt::ElideRight, std::max<qreal>(track.left() - 8, 0)));
        const QPainterPath trackShape = roundedRect(track, kTrackH / 2);
        p.fillPath(trackShape, isChecked() ? Palette::indigo() : withAlpha(Qt::white, 0.16));
        if (hasFocus()) {
            p.setPen(QPen(withAlpha(Palette::indigo(), 0.9), 2));
            p.drawPath(roundedRect(track.adjusted(-2, -2, 2, 2), kTrackH / 2 + 2));
        }
        const qreal knob = kTrackH - 4;
        const qreal knobX = isChecked() ? track.right() - 2 - knob : track.left() + 2;
        p.setPen(Qt::NoPen);
        p.setBrush(withAlpha(Qt::black, 0.25));
        p.drawEllipse(QRectF(knobX, track.top() + 2.5, knob, knob));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(knobX, track.top() + 2, knob, knob));
    }

private:
    static QFont labelFont() { return systemFont(14, FontWeight::Medium); }
};

// One choice of the direction bar. The three are one exclusive group, so a
// screen reader hears them as radio buttons with the chosen one checked.
class DirectionButton : public QAbstractButton {
public:
    DirectionButton(const QString& title, const QString& value, QWidget* parent)
        : QAbstractButton(parent), m_value(value) {
        // Its screen reader action chooses it as a click does.
        setAccessibleRole(this, QAccessible::RadioButton);
        setText(title);
        setAccessibleName(title + QStringLiteral(", Rundungsrichtung"));
        setCheckable(true);
        setAutoExclusive(true);
        setFocusPolicy(Qt::TabFocus);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setMinimumHeight(30);
        pressOnReturn(this);
    }
    QString value() const { return m_value; }
    void setSelected(bool selected) {
        // Tab enters the group at its chosen option; arrows move between them.
        setFocusPolicy(selected ? Qt::TabFocus : Qt::NoFocus);
        if (selected == isChecked())
            return;
        // An exclusive group keeps one checked: the drafts decide which.
        setAutoExclusive(false);
        setChecked(selected);
        setAutoExclusive(true);
    }
    bool selected() const { return isChecked(); }
    QSize sizeHint() const override { return QSize(60, 30); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const bool selected = isChecked();
        if (selected)
            p.fillPath(roundedRect(QRectF(rect()), 5), Palette::indigo());
        if (hasFocus()) {
            // On the chosen option's indigo an indigo ring would not show.
            p.setPen(QPen(selected ? QColor(Qt::white) : withAlpha(Palette::indigo(), 0.9), 1.5));
            p.drawPath(roundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 5));
        }
        p.setPen(selected ? QColor(Qt::white) : Palette::textPrimary());
        const QRectF box = QRectF(rect()).adjusted(3, 0, -3, 0);
        // Shrinks to 65 % before it gives up a line.
        QFont font = systemFont(10, FontWeight::Semibold);
        for (qreal size = 10; size >= 6.5; size -= 0.5) {
            font.setPixelSize(std::max(1, qRound(size)));
            const QRectF need =
                QFontMetricsF(font).boundingRect(box, Qt::AlignCenter | Qt::TextWordWrap, text());
            if (need.width() <= box.width() &&
                need.height() <= 2 * QFontMetricsF(font).lineSpacing() + 0.5)
                break;
        }
        p.setFont(font);
        p.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, text());
    }

private:
    QString m_value;
};

// Buttons of the in-panel question.
class QuestionButton : public QAbstractButton {
public:
    enum class Role { Default, Destructive, Cancel };
    QuestionButton(const QString& title, Role role, QWidget* parent)
        : QAbstractButton(parent), m_role(role) {
        setText(title);
        setAccessibleName(title);
        setFocusPolicy(Qt::StrongFocus);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        pressOnReturn(this);
    }
    QSize sizeHint() const override { return QSize(200, 32); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QPainterPath shape = roundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8);
        p.fillPath(shape, m_role == Role::Default ? Palette::indigo() : withAlpha(Qt::white, 0.08));
        if (isDown())
            p.fillPath(shape, withAlpha(Qt::black, 0.2));
        if (hasFocus()) {
            p.setPen(QPen(withAlpha(Qt::white, 0.7), 1.5));
            p.drawPath(shape);
        }
        p.setPen(m_role == Role::Destructive ? Palette::rose() : Palette::textPrimary());
        p.setFont(systemFont(13, FontWeight::Semibold));
        p.drawText(QRectF(rect()), Qt::AlignCenter, text());
    }

private:
    Role m_role;
};

// The question over the panel; it keeps the keyboard while it shows.
class QuestionLayer : public QWidget {
public:
    std::function<void()> onEscape;

    explicit QuestionLayer(QWidget* parent) : QWidget(parent) {
        // A dialog for screen readers, reached through its buttons: no Tab
        // stop of its own.
        setAccessibleRole(this, QAccessible::Dialog);
        setAccessibleName(QStringLiteral("Änderungen nicht gespeichert"));
        setAccessibleDescription(
            QStringLiteral("Rundung oder Abrechenbarkeit sind noch nicht am Server gespeichert."));
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape && onEscape) {
            onEscape();
            return;
        }
        QWidget::keyPressEvent(event);
    }
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), withAlpha(Qt::black, 0.55));
    }
};

Backdrop::Paint durationCardPaint() {
    return [](QPainter& p, const QRectF& box) {
        const QPainterPath shape = roundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 18);
        QLinearGradient base(box.topLeft(), box.bottomRight());
        base.setColorAt(0, Palette::bgCard());
        base.setColorAt(1, QColor(26, 27, 46));
        p.fillPath(shape, base);
        QRadialGradient glow(box.left() + 0.88 * box.width(), box.top() + 0.12 * box.height(), 100);
        glow.setColorAt(0, withAlpha(QColor(99, 102, 241), 0.22));
        glow.setColorAt(0.5, withAlpha(QColor(139, 92, 246), 0.12));
        glow.setColorAt(1, Qt::transparent);
        p.fillPath(shape, glow);
        p.setPen(QPen(Palette::hairline(), 1));
        p.drawPath(shape);
    };
}

struct DirectionChoice {
    const char16_t* title;
    const char16_t* value;
};
constexpr DirectionChoice kDirections[] = {
    {u"Abrunden", u"down"}, {u"Aufrunden", u"up"}, {u"Kaufmännisch", u"closest"}};

} // namespace

class SummaryView::Parts {
public:
    QWidget* content = nullptr; // header, scroll area and footer: inert under the question
    ClientTile* badge = nullptr;
    TextBlock* clientName = nullptr;
    TextBlock* clientAndJob = nullptr;
    DigitText* duration = nullptr;
    TextBlock* taskTitle = nullptr;
    TextBlock* rounding = nullptr;
    StatCard* start = nullptr;
    StatCard* end = nullptr;
    StatCard* budget = nullptr;
    StatCard* project = nullptr;
    BillableSwitch* billable = nullptr;
    std::vector<DirectionButton*> directions;
    QComboBox* grid = nullptr;
    TextBlock* statusText = nullptr;
    TextBlock* error = nullptr;
    QWidget* errorGap = nullptr;
    AccentButton* save = nullptr;
    QWidget* saveGap = nullptr;
    AccentButton* done = nullptr;
    CloseButton* close = nullptr;
    QScrollArea* scroll = nullptr;
    QuestionLayer* question = nullptr;
    QuestionButton* questionSave = nullptr;
    std::vector<qint64> gridOptions;
};

SummaryView::SummaryView(AppStore& store, std::function<void()> onDone, QWidget* parent)
    : QWidget(parent), m_store(store), m_onDone(std::move(onDone)), m_parts(new Parts) {
    Parts& parts = *m_parts;
    // The summary has only the dark look, whatever the chrome.
    setPalette(chromePalette(false));
    setAutoFillBackground(false);
    setAccessibleName(QStringLiteral("Session beendet"));
    const AccentStyle accent = m_store.accentStyle();

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    parts.content = new QWidget(this);
    // Under the question it is kept from screen readers too.
    setAccessibleRole(parts.content, QAccessible::Client);
    outer->addWidget(parts.content);
    auto* column = new QVBoxLayout(parts.content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Header bar.
    auto* header = new QHBoxLayout;
    header->setContentsMargins(20, 12, 20, 6);
    header->setSpacing(0);
    header->addSpacing(40);
    auto* title = new TextBlock(QStringLiteral("SESSION BEENDET"),
                                tracked(systemFont(11, FontWeight::Bold), 2),
                                Palette::textTertiary(), TextBlock::Wrap::OneLine, parts.content);
    title->setAlignment(Qt::AlignHCenter);
    setAccessibleRole(title, QAccessible::Heading);
    header->addWidget(title, 1, Qt::AlignVCenter);
    parts.close = new CloseButton(parts.content);
    header->addWidget(parts.close);
    column->addLayout(header);

    // Scrolling cards.
    parts.scroll = new QScrollArea(parts.content);
    parts.scroll->setFrameShape(QFrame::NoFrame);
    parts.scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    parts.scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // It draws no focus of its own; it scrolls to the control that takes the keyboard.
    parts.scroll->setFocusPolicy(Qt::NoFocus);
    parts.scroll->setWidgetResizable(true);
    parts.scroll->viewport()->setAutoFillBackground(false);
    auto* cards = new QWidget;
    cards->setAutoFillBackground(false);
    auto* cardsColumn = new QVBoxLayout(cards);
    cardsColumn->setContentsMargins(20, 0, 20, 8);
    cardsColumn->setSpacing(0);

    // Duration card.
    cardsColumn->addSpacing(4);
    auto* durationCard = new Backdrop(durationCardPaint(), cards);
    auto* durationColumn = new QVBoxLayout(durationCard);
    durationColumn->setContentsMargins(20, 20, 20, 20);
    durationColumn->setSpacing(0);
    auto* sessionRow = new QHBoxLayout;
    sessionRow->setSpacing(12);
    parts.badge = new ClientTile(32, 9, 12, durationCard);
    sessionRow->addWidget(parts.badge, 0, Qt::AlignVCenter);
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    parts.clientName = new TextBlock(QString(), systemFont(13), Palette::textSecondary(),
                                     TextBlock::Wrap::OneLine, durationCard);
    // Client and job together often pass one line beside the badge: the line
    // wraps in the card rather than losing the job.
    parts.clientAndJob =
        new TextBlock(QString(), tracked(systemFont(15, FontWeight::Semibold), -0.2),
                      Palette::textPrimary(), TextBlock::Wrap::Lines, durationCard);
    names->addWidget(parts.clientName);
    names->addWidget(parts.clientAndJob);
    sessionRow->addLayout(names, 1);
    durationColumn->addLayout(sessionRow);
    durationColumn->addSpacing(12);
    parts.duration = new DigitText(tracked(systemFont(44, FontWeight::Medium), -2),
                                   Palette::indigo(), durationCard);
    durationColumn->addWidget(parts.duration);
    durationColumn->addSpacing(6);
    parts.taskTitle = new TextBlock(QString(), systemFont(13, FontWeight::Semibold),
                                    Palette::textPrimary(), TextBlock::Wrap::Lines, durationCard);
    durationColumn->addWidget(parts.taskTitle);
    durationColumn->addSpacing(4);
    parts.rounding = new TextBlock(QString(), systemFont(12), Palette::textTertiary(),
                                   TextBlock::Wrap::Lines, durationCard);
    durationColumn->addWidget(parts.rounding);
    cardsColumn->addWidget(durationCard);

    // Figures.
    cardsColumn->addSpacing(16);
    auto* grid = new QGridLayout;
    grid->setSpacing(10);
    parts.start = new StatCard(QStringLiteral("Start"), QString(), QString(), accent, false,
                               std::nullopt, cards);
    parts.end = new StatCard(QStringLiteral("Ende"), QString(), QString(), accent, false,
                             std::nullopt, cards);
    parts.budget = new StatCard(QStringLiteral("Budget genutzt"), QString(), QString(), accent,
                                false, std::nullopt, cards);
    parts.project = new StatCard(QStringLiteral("Projekt gesamt"), QString(), QString(), accent,
                                 false, std::nullopt, cards);
    grid->addWidget(parts.start, 0, 0);
    grid->addWidget(parts.end, 0, 1);
    grid->addWidget(parts.budget, 1, 0);
    grid->addWidget(parts.project, 1, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(0, 10);
    grid->setColumnMinimumWidth(1, 10);
    cardsColumn->addLayout(grid);

    // Booking.
    cardsColumn->addSpacing(16);
    auto* booking = new Backdrop(cardPaint(Palette::bgCard(), Palette::hairline(), 16), cards);
    auto* bookingColumn = new QVBoxLayout(booking);
    bookingColumn->setContentsMargins(16, 16, 16, 16);
    bookingColumn->setSpacing(14);
    auto* bookingTitle = new TextBlock(QStringLiteral("BUCHUNG ANPASSEN"),
                                       tracked(systemFont(10, FontWeight::Bold), 1),
                                       Palette::textTertiary(), TextBlock::Wrap::OneLine, booking);
    setAccessibleRole(bookingTitle, QAccessible::Heading);
    bookingColumn->addWidget(bookingTitle);
    parts.billable = new BillableSwitch(booking);
    bookingColumn->addWidget(parts.billable);
    auto* roundingColumn = new QVBoxLayout;
    roundingColumn->setSpacing(8);
    roundingColumn->addWidget(
        new TextBlock(QStringLiteral("Rundung"), systemFont(12, FontWeight::Semibold),
                      Palette::textPrimary(), TextBlock::Wrap::OneLine, booking));
    auto* bar = new Backdrop(cardPaint(Palette::bgElevated(), Palette::hairline(), 8), booking);
    setAccessibleRole(bar, QAccessible::Grouping);
    bar->setAccessibleName(QStringLiteral("Rundung"));
    auto* barRow = new QHBoxLayout(bar);
    barRow->setContentsMargins(3, 3, 3, 3);
    barRow->setSpacing(2);
    for (const DirectionChoice& choice : kDirections) {
        auto* button = new DirectionButton(QString::fromUtf16(choice.title),
                                           QString::fromUtf16(choice.value), bar);
        barRow->addWidget(button, 1);
        parts.directions.push_back(button);
        connect(button, &QAbstractButton::clicked, this,
                [this, value = button->value()] { selectRoundDirection(value); });
    }
    roundingColumn->addWidget(bar);
    auto* gridRow = new QHBoxLayout;
    gridRow->setSpacing(10);
    // A label whose buddy is the picker: on Linux a screen reader names a
    // picker by its choice and takes its label from this relation.
    auto* gridLabel = new QLabel(QStringLiteral("Minuten-Raster"), booking);
    gridLabel->setTextFormat(Qt::PlainText);
    gridLabel->setFont(systemFont(12, FontWeight::Semibold));
    QPalette labelInk = gridLabel->palette();
    labelInk.setColor(QPalette::WindowText, Palette::textPrimary());
    gridLabel->setPalette(labelInk);
    gridRow->addWidget(gridLabel);
    gridRow->addStretch(1);
    parts.grid = new GridPicker(booking);
    gridLabel->setBuddy(parts.grid);
    gridRow->addWidget(parts.grid);
    roundingColumn->addLayout(gridRow);
    bookingColumn->addLayout(roundingColumn);
    cardsColumn->addWidget(booking);

    // Status.
    cardsColumn->addSpacing(12);
    auto* status = new Backdrop(
        cardPaint(withAlpha(Palette::mint(), 0.08), withAlpha(Palette::mint(), 0.22), 16), cards);
    auto* statusRow = new QHBoxLayout(status);
    statusRow->setContentsMargins(14, 14, 14, 14);
    statusRow->setSpacing(12);
    auto* check = new Backdrop(
        [](QPainter& p, const QRectF& box) {
            p.fillPath(roundedRect(box, 14), withAlpha(Palette::mint(), 0.2));
            drawSymbol(p, u"checkmark", box.center(), 14, Palette::mint(), FontWeight::Bold);
        },
        status);
    check->setFixedSize(28, 28);
    statusRow->addWidget(check, 0, Qt::AlignTop);
    auto* statusTexts = new QVBoxLayout;
    statusTexts->setSpacing(4);
    statusTexts->addWidget(new TextBlock(QStringLiteral("Automatisch gespeichert"),
                                         systemFont(13, FontWeight::Semibold),
                                         Palette::textPrimary(), TextBlock::Wrap::OneLine, status));
    parts.statusText = new TextBlock(QString(), systemFont(11), Palette::textTertiary(),
                                     TextBlock::Wrap::Lines, status);
    statusTexts->addWidget(parts.statusText);
    statusRow->addLayout(statusTexts, 1);
    cardsColumn->addWidget(status);

    // Error and save.
    parts.errorGap = new QWidget(cards);
    parts.errorGap->setFixedHeight(10);
    cardsColumn->addWidget(parts.errorGap);
    parts.error =
        new TextBlock(QString(), systemFont(12), Palette::rose(), TextBlock::Wrap::Lines, cards);
    cardsColumn->addWidget(parts.error);
    parts.saveGap = new QWidget(cards);
    parts.saveGap->setFixedHeight(14);
    cardsColumn->addWidget(parts.saveGap);
    parts.save = new AccentButton(QStringLiteral("Speichern"), accent, cards);
    cardsColumn->addWidget(parts.save);
    cardsColumn->addStretch(1);
    parts.scroll->setWidget(cards);
    cards->setAutoFillBackground(false); // setWidget turned it on; the panel's own colour shows
    column->addWidget(parts.scroll, 1);

    // Footer.
    auto* footer = new Backdrop(
        [](QPainter& p, const QRectF& box) {
            p.fillRect(box, Palette::bgInset());
            p.fillRect(QRectF(box.left(), box.top(), box.width(), 1), Palette::hairline());
        },
        parts.content);
    auto* footerRow = new QVBoxLayout(footer);
    footerRow->setContentsMargins(20, 10, 20, 16);
    parts.done = new AccentButton(QStringLiteral("Fertig"), accent, footer);
    footerRow->addWidget(parts.done);
    column->addWidget(footer);

    // The question, drawn inside the panel.
    parts.question = new QuestionLayer(this);
    parts.question->onEscape = [this] { confirmBack(); };
    auto* questionCentre = new QVBoxLayout(parts.question);
    questionCentre->setContentsMargins(28, 0, 28, 0);
    auto* dialog =
        new Backdrop(cardPaint(Palette::bgElevated(), Palette::border(), 14), parts.question);
    auto* dialogColumn = new QVBoxLayout(dialog);
    dialogColumn->setContentsMargins(18, 18, 18, 16);
    dialogColumn->setSpacing(8);
    auto* questionTitle = new TextBlock(QStringLiteral("Änderungen nicht gespeichert"),
                                        systemFont(14, FontWeight::Bold), Palette::textPrimary(),
                                        TextBlock::Wrap::Lines, dialog);
    questionTitle->setAlignment(Qt::AlignHCenter);
    dialogColumn->addWidget(questionTitle);
    auto* message = new TextBlock(
        QStringLiteral("Rundung oder Abrechenbarkeit sind noch nicht am Server gespeichert."),
        systemFont(12), Palette::textSecondary(), TextBlock::Wrap::Lines, dialog);
    message->setAlignment(Qt::AlignHCenter);
    dialogColumn->addWidget(message);
    dialogColumn->addSpacing(6);
    using Role = QuestionButton::Role;
    parts.questionSave = new QuestionButton(QStringLiteral("Speichern"), Role::Default, dialog);
    auto* discard = new QuestionButton(QStringLiteral("Verwerfen"), Role::Destructive, dialog);
    auto* back = new QuestionButton(QStringLiteral("Zurück"), Role::Cancel, dialog);
    for (QuestionButton* button : {parts.questionSave, discard, back})
        dialogColumn->addWidget(button);
    questionCentre->addStretch(1);
    questionCentre->addWidget(dialog);
    questionCentre->addStretch(1);
    parts.question->hide();

    connect(parts.questionSave, &QAbstractButton::clicked, this, &SummaryView::confirmSave);
    connect(discard, &QAbstractButton::clicked, this, &SummaryView::confirmDiscard);
    connect(back, &QAbstractButton::clicked, this, &SummaryView::confirmBack);
    connect(parts.close, &QAbstractButton::clicked, this, &SummaryView::requestCloseFromHeader);
    connect(parts.done, &QAbstractButton::clicked, this, &SummaryView::requestClose);
    connect(parts.save, &QAbstractButton::clicked, this, &SummaryView::startSave);
    connect(parts.billable, &QAbstractButton::toggled, this, &SummaryView::setDraftBillable);
    connect(parts.grid, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || size_t(index) >= m_parts->gridOptions.size())
            return;
        setDraftRoundValue(m_parts->gridOptions[size_t(index)]);
        // Up and Down change the closed picker in silence: the choice and
        // what it books are said.
        if (m_parts->grid->hasFocus())
            announce(m_parts->grid, gridSpokenValue(m_drafts.roundValue) +
                                        QStringLiteral(", gebucht ") +
                                        spokenHoursMinutes(figures().previewSecs));
    });
    connect(&m_store, &AppStore::changed, this, [this](AppStore::Property property) {
        if (property == AppStore::Property::LastStoppedSummary)
            summaryChanged();
        else if (property == AppStore::Property::AccentStyle) {
            m_parts->save->setAccentStyle(m_store.accentStyle());
            m_parts->done->setAccentStyle(m_store.accentStyle());
            for (StatCard* card : {m_parts->start, m_parts->end, m_parts->budget, m_parts->project})
                card->setAccentStyle(m_store.accentStyle());
        }
    });
    summaryChanged();
}

SummaryView::~SummaryView() {
    delete m_parts;
}

QSize SummaryView::sizeHint() const {
    return QSize(384, 520);
}

SummaryFigures SummaryView::figures() const {
    const auto& summary = m_store.lastStoppedSummary();
    if (!summary)
        return {};
    return summaryFigures(*summary, m_drafts, platform::Clock::shared().now());
}

void SummaryView::summaryChanged() {
    const auto& summary = m_store.lastStoppedSummary();
    // A summary of another stop (a second session stopped under this one)
    // brings its own drafts: the old ones would be saved onto it.
    if (summary && m_draftsOf != summary->id) {
        loadDraftsFromSummary();
        setConfirming(false);
    }
    if (!summary)
        setConfirming(false);
    refresh();
}

void SummaryView::loadDraftsFromSummary() {
    const auto& summary = m_store.lastStoppedSummary();
    if (!summary)
        return;
    m_drafts = draftsFromSummary(*summary);
    m_draftsOf = summary->id;
    m_saveError.reset();
    refresh();
}

void SummaryView::setDraftBillable(bool billable) {
    if (billable == m_drafts.billable)
        return;
    m_drafts.billable = billable;
    refresh();
}

void SummaryView::selectRoundDirection(const QString& direction) {
    platform::Haptics::shared().perform(platform::HapticPattern::Generic);
    m_drafts.roundDirection = direction;
    refresh();
}

void SummaryView::setDraftRoundValue(qint64 minutes) {
    if (minutes == m_drafts.roundValue)
        return;
    m_drafts.roundValue = minutes;
    refresh();
}

void SummaryView::requestClose() {
    const auto& summary = m_store.lastStoppedSummary();
    if (summary && hasUnsavedChanges(m_drafts, *summary)) {
        setConfirming(true);
        return;
    }
    platform::Haptics::shared().perform(platform::HapticPattern::LevelChange);
    m_onDone();
}

void SummaryView::requestCloseFromHeader() {
    const auto& summary = m_store.lastStoppedSummary();
    if (summary && hasUnsavedChanges(m_drafts, *summary)) {
        setConfirming(true);
        return;
    }
    m_onDone();
}

void SummaryView::discardAndClose() {
    platform::Haptics::shared().perform(platform::HapticPattern::Generic);
    m_onDone();
}

void SummaryView::confirmSave() {
    setConfirming(false);
    startSave();
}

void SummaryView::confirmDiscard() {
    setConfirming(false);
    discardAndClose();
}

void SummaryView::confirmBack() {
    setConfirming(false);
}

void SummaryView::setConfirming(bool confirming) {
    if (confirming == m_confirming)
        return;
    m_confirming = confirming;
    Parts& parts = *m_parts;
    // Under the question the panel takes no clicks and no keys, and screen
    // readers read only the question.
    parts.content->setEnabled(!confirming);
    setHiddenFromScreenReaders(parts.content, confirming);
    parts.question->setVisible(confirming);
    if (confirming) {
        parts.question->setGeometry(rect());
        parts.question->raise();
        parts.questionSave->setFocus(Qt::OtherFocusReason);
    }
}

void SummaryView::startSave() {
    // Two saves of one entry never run side by side: the running one decides.
    if (isSaving())
        return;
    save();
}

QCoro::Task<void> SummaryView::save() {
    const auto& summary = m_store.lastStoppedSummary();
    if (!summary || !hasUnsavedChanges(m_drafts, *summary))
        co_return;
    const QPointer<SummaryView> self(this);
    const QUuid entry = summary->id;
    const SummaryDrafts drafts = m_drafts;
    m_savingEntry = entry;
    m_saveError.reset();
    refresh();
    std::optional<QString> failure;
    try {
        co_await m_store.updateStoppedEntry(drafts.billable, drafts.roundDirection,
                                            drafts.roundValue);
    } catch (...) {
        failure = describeError(std::current_exception());
    }
    if (!self)
        co_return;
    platform::Haptics::shared().perform(platform::HapticPattern::LevelChange);
    if (m_savingEntry == entry)
        m_savingEntry.reset();
    const auto& now = m_store.lastStoppedSummary();
    if (!now || now->id != entry) {
        // Another stop's summary is shown now: this save's end, and its
        // failure, are not that one's.
        refresh();
        co_return;
    }
    if (failure) {
        m_saveError = saveErrorText(*failure);
        refresh();
        co_return;
    }
    loadDraftsFromSummary();
    m_onDone();
}

void SummaryView::refresh() {
    Parts& parts = *m_parts;
    const auto& summary = m_store.lastStoppedSummary();
    parts.content->setVisible(summary.has_value());
    if (!summary) {
        update();
        return;
    }
    const SummaryFigures f = figures();
    parts.badge->setClient(summary->clientColorHex, summary->clientInitials);
    parts.clientName->setText(summary->clientName);
    parts.clientAndJob->setText(summary->clientName + QStringLiteral(" · ") + summary->jobTitle);
    parts.duration->setText(f.durationText);
    if (const QString spoken = spokenHoursMinutes(f.previewSecs);
        parts.duration->accessibleName() != spoken)
        parts.duration->setAccessibleName(spoken);
    parts.taskTitle->setText(summary->taskTitle);
    parts.rounding->setText(f.roundingText);
    // The column asks the card for its height again in the same pass, not
    // from a height kept from before the texts changed: the big duration is
    // never squeezed under them for a frame.
    parts.duration->parentWidget()->updateGeometry();
    parts.start->setValue(f.startTime);
    parts.start->setSubtitle(f.startDay);
    parts.end->setValue(f.endTime);
    parts.end->setSubtitle(f.endDay);
    parts.budget->setValue(f.budgetValue);
    parts.budget->setSubtitle(f.budgetSubtitle);
    parts.budget->setValueForeground(f.budgetTint);
    parts.project->setValue(f.projectValue);
    parts.project->setSubtitle(f.projectSubtitle);
    parts.start->setSpokenText(f.startSpoken);
    parts.end->setSpokenText(f.endSpoken);
    parts.budget->setSpokenText(f.budgetSpoken);
    parts.project->setSpokenText(f.projectSpoken);
    {
        const QSignalBlocker quiet(parts.billable);
        parts.billable->setChecked(m_drafts.billable);
    }
    for (DirectionButton* button : parts.directions)
        button->setSelected(button->value() == m_drafts.roundDirection);
    const std::vector<qint64> options = minuteGridOptions(m_drafts.roundValue);
    if (options != parts.gridOptions) {
        const QSignalBlocker quiet(parts.grid);
        parts.grid->clear();
        for (const qint64 minutes : options)
            parts.grid->addItem(QString::asprintf("%lld Min", static_cast<long long>(minutes)),
                                QVariant::fromValue(minutes));
        parts.gridOptions = options;
    }
    {
        const QSignalBlocker quiet(parts.grid);
        const auto at = std::find(options.begin(), options.end(), m_drafts.roundValue);
        parts.grid->setCurrentIndex(at == options.end() ? -1 : int(at - options.begin()));
    }
    // Orca reads a picker's choice neither on focus nor on change; it reads
    // the focused picker's description, and each change of it.
    if (const QString value = gridSpokenValue(m_drafts.roundValue);
        parts.grid->accessibleDescription() != value)
        parts.grid->setAccessibleDescription(value);
    if (const QString spoken = summarySpokenText(*summary, f); accessibleDescription() != spoken)
        setAccessibleDescription(spoken);
    parts.statusText->setText(f.statusText);
    parts.error->setText(m_saveError.value_or(QString()));
    parts.error->setVisible(m_saveError.has_value());
    parts.errorGap->setVisible(m_saveError.has_value());
    // A failed save shows away from the keyboard, on the save button.
    if (const auto news = changedText(m_announcedError, m_saveError))
        announce(this, *news);
    m_announcedError = m_saveError;
    parts.save->setVisible(f.unsaved);
    parts.saveGap->setVisible(f.unsaved);
    parts.save->setEnabled(!isSaving());
    parts.save->setBusy(isSaving());
    update();
}

void SummaryView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_parts->question->setGeometry(rect());
}

void SummaryView::paintEvent(QPaintEvent*) {
    if (!m_store.lastStoppedSummary())
        return; // nothing at all without a summary
    QPainter p(this);
    p.fillRect(rect(), Palette::bgDeep());
}

} // namespace orvane
