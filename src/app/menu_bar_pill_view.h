#pragma once

#include "store/app_store.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace orvane {

// What the pill shows: the running clock of the displayed session, today's
// total behind a pause glyph, or the icon alone.
struct PillContent {
    enum class Kind { Running, Idle, SignedOut };
    Kind kind = Kind::SignedOut;
    QString text; // "01:02:05"; empty for the icon alone

    bool operator==(const PillContent&) const = default;
};

// "%02d:%02d:%02d" with the hours uncapped; a negative count shows as 0.
QString pillClockText(qint64 secs);
PillContent pillContent(bool isLoggedIn, const std::vector<TimerSession>& sessions,
                        const std::optional<QUuid>& activeSessionId, qint64 todayTotalSecs,
                        const QDateTime& now);
PillContent pillContent(const AppStore& store, const QDateTime& now);

// Logical sizes of the pill's parts.
struct PillMetrics {
    static constexpr qreal kPadding = 1;
    static constexpr qreal kSpacing = 5;
    static constexpr qreal kIcon = 16;
    static constexpr qreal kMarker = 8; // the dot's and the pause glyph's frame
    static constexpr qreal kDot = 6;
    static constexpr qreal kTextPixels = 12;
    static constexpr qreal kGlyphPixels = 7;
};

// The pill of the status item: icon, and the clock with a dot while a timer
// runs, or a pause glyph with today's total while signed in and idle. It
// turns with the store's tick; its own clock stands in only where no tick
// came, and runs only while a clock shows.
class MenuBarPillView : public QWidget {
    Q_OBJECT
public:
    // `onTap` is kept for the creator; clicks reach the status item itself,
    // so the pill never calls it (a second call would toggle twice).
    MenuBarPillView(AppStore& store, std::function<void()> onTap, QWidget* parent = nullptr);

    const PillContent& content() const { return content_; }
    // The width the pill's content needs, in logical pixels.
    qreal fittingWidth() const;
    bool clockRunning() const { return clock_.isActive(); }
    // How long after the store's tick is due the pill turns its clock itself.
    static constexpr int kTickGraceMs = 40;
    const std::function<void()>& onTap() const { return onTap_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    // What the pill shows changed (state or text).
    void contentChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    QPointer<AppStore> store_;
    std::function<void()> onTap_;
    QTimer clock_;
    PillContent content_;
};

// Draws `content` into `box` as the pill lays it out (used by the pill view and
// by anything else that shows the status item's picture).
void paintPill(QPainter& painter, const QRectF& box, const PillContent& content);
qreal pillFittingWidth(const PillContent& content);

} // namespace orvane
