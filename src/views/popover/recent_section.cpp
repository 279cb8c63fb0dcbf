#include "views/popover/recent_section.h"

#include "platform/haptics.h"
#include "platform/url_opener.h"
#include "service/orvane_api_config.h"
#include "store/app_store.h"
#include "views/kit/accessibility.h"
#include "views/kit/activity_spinner.h"
#include "views/kit/chrome.h"
#include "views/kit/fonts.h"
#include "views/kit/palette.h"
#include "views/kit/symbols.h"
#include "views/popover/popover_style.h"
#include "views/popover/section_title.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <cmath>

namespace orvane {

namespace {

constexpr int kRowPadding = 8;
constexpr int kRowSpacing = 10;
constexpr int kStripWidth = 4;
constexpr int kPlaySide = 28;

QFont jobFont() {
    return systemFont(13, FontWeight::Semibold);
}
QFont taskFont() {
    return systemFont(11);
}
QFont timeFont() {
    return systemFont(12, FontWeight::Medium);
}
QFont captionFont() {
    return systemFont(12);
}

// A fixed text in the soft colour, centred in the full width.
class Caption : public QWidget {
public:
    Caption(QString text, ChromeSetting& chrome, QWidget* parent)
        : QWidget(parent), m_text(std::move(text)), m_chrome(chrome) {
        setAccessibleRole(this, QAccessible::StaticText);
        setAccessibleName(m_text);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        connect(&chrome, &ChromeSetting::changed, this, qOverload<>(&QWidget::update));
    }
    QString text() const { return m_text; }
    QSize sizeHint() const override {
        const QFontMetricsF metrics(captionFont());
        return QSize(int(std::ceil(metrics.horizontalAdvance(m_text))),
                     int(std::ceil(metrics.height())));
    }
    QSize minimumSizeHint() const override { return QSize(0, sizeHint().height()); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(softTextColor(m_chrome.light()));
        p.setFont(captionFont());
        p.drawText(rect(), Qt::AlignCenter, elidedText(captionFont(), m_text, width()));
    }

private:
    QString m_text;
    ChromeSetting& m_chrome;
};

// "Alle": a text button in indigo.
class TextButton : public QAbstractButton {
public:
    TextButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
        setText(text);
        setAccessibleName(text);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        pressOnReturn(this);
    }
    QSize sizeHint() const override {
        const QFontMetricsF metrics(font());
        return QSize(int(std::ceil(metrics.horizontalAdvance(text()))),
                     int(std::ceil(metrics.height())));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        if (isDown())
            p.setOpacity(0.7);
        p.setPen(Palette::indigo());
        p.setFont(font());
        p.drawText(rect(), Qt::AlignCenter, text());
        if (hasFocus()) {
            // Too tight around its word for a ring: underlined instead.
            p.setPen(QPen(Palette::indigo(), 1.5));
            p.drawLine(QPointF(0, height() - 0.75), QPointF(width(), height() - 0.75));
        }
    }

private:
    static QFont font() { return systemFont(12, FontWeight::Semibold); }
};

// The round play button of a row.
class PlayButton : public QAbstractButton {
public:
    PlayButton(ChromeSetting& chrome, QWidget* parent) : QAbstractButton(parent), m_chrome(chrome) {
        setAccessibleName(QStringLiteral("Starten"));
        setFocusPolicy(Qt::TabFocus);
        pressOnReturn(this);
        setFixedSize(kPlaySide, kPlaySide);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (isDown())
            p.setOpacity(0.7);
        QPainterPath circle;
        circle.addEllipse(QRectF(rect()));
        p.fillPath(circle, m_chrome.light() ? QColor(0, 0, 0, 13) : QColor(255, 255, 255, 20));
        drawSymbol(p, u"play.fill", QRectF(rect()).center(), 11, Palette::indigo());
        if (hasFocus())
            strokeKeyboardFocus(p, QRectF(rect()), kPlaySide / 2.0);
    }

private:
    ChromeSetting& m_chrome;
};

} // namespace

QString recentJobLine(const RecentTaskItem& item) {
    const QString number = item.jobNumber.value_or(QString()).trimmed();
    const QString title = item.jobTitle.trimmed();
    if (number.isEmpty() && title.isEmpty())
        return QStringLiteral("—");
    if (number.isEmpty())
        return title;
    if (title.isEmpty())
        return number;
    return number + QStringLiteral(" – ") + title;
}

namespace {

// Job line and task, where they are not blank.
QStringList recentTitles(const RecentTaskItem& item, bool taskFirst) {
    QStringList titles;
    if (const QString job = recentJobLine(item); job != u"—")
        titles << job;
    if (const QString task = item.taskTitle.trimmed(); !task.isEmpty())
        titles.insert(taskFirst ? 0 : titles.size(), task);
    return titles;
}

} // namespace

QString recentRowSpokenText(const RecentTaskItem& item) {
    return (recentTitles(item, false)
            << QStringLiteral("heute ") + spokenHoursMinutes(item.todayTrackedSecs))
        .join(QStringLiteral(", "));
}

QString recentPlayName(const RecentTaskItem& item) {
    const QStringList titles = recentTitles(item, true);
    return QStringLiteral("Starten") +
           (titles.isEmpty() ? QString()
                             : QStringLiteral(": ") + titles.join(QStringLiteral(" – ")));
}

QColor clientStripColor(quint32 hex) {
    return QColor(int((hex >> 16) & 0xFF), int((hex >> 8) & 0xFF), int(hex & 0xFF));
}

RecentContent recentContent(bool refreshing, bool hasTasks) {
    if (hasTasks)
        return RecentContent::List;
    return refreshing ? RecentContent::Loading : RecentContent::Empty;
}

std::vector<RecentTaskItem> visibleRecentTasks(const std::vector<RecentTaskItem>& tasks) {
    const std::size_t count = std::min(tasks.size(), kMostRecentRows);
    return std::vector<RecentTaskItem>(tasks.begin(), tasks.begin() + std::ptrdiff_t(count));
}

std::optional<QUrl> webAppURL(const QString& baseURLString) {
    const QUrl url(baseURLString, QUrl::StrictMode);
    // A relative address would be taken for a local file.
    if (baseURLString.isEmpty() || !url.isValid() || url.isRelative())
        return std::nullopt;
    return url;
}

std::optional<QString> openWebApp() {
    const std::optional<QUrl> url = webAppURL(OrvaneAPIConfig::baseURLString());
    if (!url)
        return std::nullopt;
    // The address is whatever the settings file says: only a web page goes
    // to the desktop's opener, never a local file, a share or a mail draft.
    const QString scheme = url->scheme().toLower();
    if ((scheme != u"http" && scheme != u"https") || url->host().isEmpty())
        return QStringLiteral("Nur http- und https-Adressen werden im Browser geöffnet.");
    if (!platform::openURL(*url))
        return QStringLiteral("Der Browser konnte nicht geöffnet werden.");
    return std::nullopt;
}

void startRecentTask(AppStore& store, const RecentTaskItem& item) {
    platform::Haptics::shared().perform(platform::HapticPattern::Generic);
    const RecentTaskItem started = item;
    store.startFromRecentTask(started);
}

// ---- RecentRow ----

RecentRow::RecentRow(ChromeSetting& chrome, QWidget* parent)
    : QWidget(parent), m_chrome(chrome), m_play(new PlayButton(chrome, this)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleRole(this, QAccessible::ListItem);
    connect(&m_chrome, &ChromeSetting::changed, this, [this] {
        update();
        m_play->update();
    });
    connect(m_play, &QAbstractButton::clicked, this, [this] { Q_EMIT playClicked(m_item); });
}

void RecentRow::setItem(const RecentTaskItem& item) {
    if (item == m_item)
        return;
    m_item = item;
    setAccessibleName(recentRowSpokenText(item));
    m_play->setAccessibleName(recentPlayName(item));
    update();
}

QSize RecentRow::sizeHint() const {
    const qreal titles = QFontMetricsF(jobFont()).height() + 2 + QFontMetricsF(taskFont()).height();
    const qreal content = std::max<qreal>({titles, QFontMetricsF(timeFont()).height(), kPlaySide});
    return QSize(372, int(std::ceil(content)) + 2 * kRowPadding);
}

QSize RecentRow::minimumSizeHint() const {
    return QSize(2 * kRowPadding + kStripWidth + kPlaySide + 3 * kRowSpacing + 40,
                 sizeHint().height());
}

void RecentRow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_play->move(width() - kRowPadding - kPlaySide, (height() - kPlaySide) / 2);
}

void RecentRow::paintEvent(QPaintEvent*) {
    const bool light = m_chrome.light();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect());
    QPainterPath background;
    background.addRoundedRect(box, 10, 10);
    p.fillPath(background, light ? QColor(Qt::white) : QColor(255, 255, 255, 10));

    const QRectF strip(kRowPadding, kRowPadding, kStripWidth, box.height() - 2 * kRowPadding);
    QPainterPath stripShape;
    stripShape.addRoundedRect(strip, 2, 2);
    p.fillPath(stripShape, clientStripColor(m_item.clientColorHex));

    const qreal centre = box.height() / 2;
    const QString time = hourMinuteText(m_item.todayTrackedSecs);
    const QFontMetricsF timeMetrics(timeFont());
    const qreal timeWidth = digitCellTextWidth(timeFont(), time);
    const qreal playLeft = box.width() - kRowPadding - kPlaySide;
    const qreal timeLeft = playLeft - kRowSpacing - timeWidth;
    const qreal textLeft = strip.right() + kRowSpacing;
    const qreal room = timeLeft - kRowSpacing - textLeft;
    // A hostile figure gives way to the titles' first few characters.
    if (room > 0) {
        p.setPen(softTextColor(light));
        drawDigitCellText(
            p, QPointF(timeLeft, centre + (timeMetrics.ascent() - timeMetrics.descent()) / 2),
            timeFont(), time);
    }

    const QFontMetricsF job(jobFont());
    const QFontMetricsF task(taskFont());
    const qreal top = centre - (job.height() + 2 + task.height()) / 2;
    const qreal titleRoom = std::max<qreal>(room, 0);
    p.setPen(strongTextColor(light));
    p.setFont(jobFont());
    p.drawText(QPointF(textLeft, top + job.ascent()),
               elidedText(jobFont(), recentJobLine(m_item), titleRoom));
    p.setPen(softTextColor(light));
    p.setFont(taskFont());
    p.drawText(QPointF(textLeft, top + job.height() + 2 + task.ascent()),
               elidedText(taskFont(), m_item.taskTitle, titleRoom));
}

// ---- RecentSection ----

RecentSection::RecentSection(AppStore& store, ChromeSetting& chrome, PopoverActions,
                             QWidget* parent)
    : QWidget(parent), m_store(store), m_all(new TextButton(QStringLiteral("Alle"), this)),
      m_loading(new QWidget(this)),
      m_spinner(new ActivitySpinner(softTextColor(chrome.light()), m_loading)),
      m_list(new QWidget(this)), m_empty(new QWidget(this)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    auto* title = new SectionTitle(QStringLiteral("ZULETZT"), chrome, std::nullopt, this);
    title->lower(); // screen readers go through a section in its children's order
    header->addWidget(title, 1);
    header->addWidget(m_all);
    column->addLayout(header);

    auto* loading = new QHBoxLayout(m_loading);
    loading->setContentsMargins(0, 16, 0, 16);
    loading->setSpacing(8);
    loading->addStretch(1);
    loading->addWidget(m_spinner);
    loading->addWidget(new Caption(QStringLiteral("Lade …"), chrome, m_loading));
    loading->addStretch(1);
    column->addWidget(m_loading);

    setAccessibleRole(m_list, QAccessible::List);
    m_list->setAccessibleName(QStringLiteral("Zuletzt"));
    auto* rows = new QVBoxLayout(m_list);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(8);
    for (RecentRow*& row : m_rows) {
        row = new RecentRow(chrome, m_list);
        rows->addWidget(row);
        connect(row, &RecentRow::playClicked, this,
                [this](const RecentTaskItem& item) { startRecentTask(m_store, item); });
    }
    column->addWidget(m_list);

    auto* empty = new QVBoxLayout(m_empty);
    empty->setContentsMargins(0, 16, 0, 16);
    empty->addWidget(new Caption(QStringLiteral("Noch keine Einträge"), chrome, m_empty));
    column->addWidget(m_empty);

    connect(m_all, &QAbstractButton::clicked, this, [this] {
        if (const std::optional<QString> error = openWebApp())
            m_store.setLoginError(*error);
    });
    connect(&chrome, &ChromeSetting::changed, this,
            [this](bool light) { m_spinner->setColor(softTextColor(light)); });
    connect(&m_store, &AppStore::changed, this, [this](AppStore::Property property) {
        if (property == AppStore::Property::RecentTasks ||
            property == AppStore::Property::IsRefreshingRecentTasks)
            refresh();
    });
    refresh();
}

std::vector<RecentRow*> RecentSection::shownRows() const {
    std::vector<RecentRow*> shown;
    for (RecentRow* row : m_rows)
        if (m_content == RecentContent::List && !row->isHidden())
            shown.push_back(row);
    return shown;
}

void RecentSection::refresh() {
    const std::vector<RecentTaskItem>& tasks = m_store.recentTasks();
    m_content = recentContent(m_store.isRefreshingRecentTasks(), !tasks.empty());
    // Rows are kept and refilled: one may be in the middle of its click.
    const std::vector<RecentTaskItem> visible = visibleRecentTasks(tasks);
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (i < visible.size())
            m_rows[i]->setItem(visible[i]);
        m_rows[i]->setHidden(i >= visible.size());
    }
    m_loading->setHidden(m_content != RecentContent::Loading);
    m_list->setHidden(m_content != RecentContent::List);
    m_empty->setHidden(m_content != RecentContent::Empty);
}

} // namespace orvane
