#pragma once

#include "store/recent_task_item.h"
#include "views/popover/popover_actions.h"

#include <QAbstractButton>
#include <QColor>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <array>
#include <optional>
#include <vector>

namespace orvane {

class ActivitySpinner;
class AppStore;
class ChromeSetting;
class SectionTitle;

// The first line of a recent row: job number and title, trimmed, joined by
// " – "; either alone; "—" when both are blank.
QString recentJobLine(const RecentTaskItem& item);
// A row for screen readers: "A-1051 – Shop-Relaunch, Entwurf, heute 1 Stunde 20".
QString recentRowSpokenText(const RecentTaskItem& item);
// What a row's play button starts: "Starten: Entwurf – A-1051 – Shop-Relaunch".
QString recentPlayName(const RecentTaskItem& item);
// The client's colour from 0xRRGGBB; bits above 23 do not count.
QColor clientStripColor(quint32 hex);

// What the section shows under its header.
enum class RecentContent { Loading, List, Empty };
RecentContent recentContent(bool refreshing, bool hasTasks);
inline constexpr std::size_t kMostRecentRows = 5;
// The entries that get a row: the first five, in the store's order.
std::vector<RecentTaskItem> visibleRecentTasks(const std::vector<RecentTaskItem>& tasks);

// The address "Alle" opens: the service's base URL when it forms an absolute
// URL, else none.
std::optional<QUrl> webAppURL(const QString& baseURLString);
// Opens the web application in the default browser. The error line's text
// when an address was there but nothing opened it (not an http or https
// address, no browser); none when it opened or no address forms.
std::optional<QString> openWebApp();

// Plays the generic haptic and starts a timer for `item` as a task of its
// own. While a start is on its way the store refuses another.
void startRecentTask(AppStore& store, const RecentTaskItem& item);

// One recent task: colour strip, job line and task, today's time, and a
// play button, the row's only reaction to clicks.
class RecentRow : public QWidget {
    Q_OBJECT
public:
    RecentRow(ChromeSetting& chrome, QWidget* parent = nullptr);

    void setItem(const RecentTaskItem& item);
    const RecentTaskItem& item() const { return m_item; }
    QAbstractButton* playButton() const { return m_play; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void playClicked(const orvane::RecentTaskItem& item);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    ChromeSetting& m_chrome;
    RecentTaskItem m_item;
    QAbstractButton* m_play;
};

// "ZULETZT" with "Alle", then a loading row, up to five recent rows or
// "Noch keine Einträge", as the store's recent tasks stand.
class RecentSection : public QWidget {
    Q_OBJECT
public:
    RecentSection(AppStore& store, ChromeSetting& chrome, PopoverActions actions,
                  QWidget* parent = nullptr);

    RecentContent shownContent() const { return m_content; }
    // The rows on screen, top to bottom.
    std::vector<RecentRow*> shownRows() const;
    QAbstractButton* allButton() const { return m_all; }
    ActivitySpinner* spinner() const { return m_spinner; }

private:
    void refresh();

    AppStore& m_store;
    RecentContent m_content = RecentContent::Empty;
    QAbstractButton* m_all;
    QWidget* m_loading;
    ActivitySpinner* m_spinner;
    QWidget* m_list;
    std::array<RecentRow*, kMostRecentRows> m_rows{};
    QWidget* m_empty;
};

} // namespace orvane
