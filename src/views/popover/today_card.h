#pragma once

#include "store/timer_session.h"
#include "views/kit/accessibility.h"

#include <QString>
#include <QPointer>
#include <QWidget>

#include <vector>

namespace orvane {

class AppStore;
class ChromeSetting;

// The share of today's target reached, 0 to 1: a target below one second
// gives an empty bar, time beyond it a full one.
double todayProgress(qint64 trackedSecs, qint64 targetSecs);
// "/ 8:00 Ziel"
QString todayTargetText(qint64 targetSecs);
// "3 Sessions · 2 Projekte", no singular.
QString todayCountsText(qint64 sessions, qint64 projects);
// "+142,50 € abrechenbar"
QString todayBillableText(qint64 euroCents);
// The total changes by itself only while a session runs or rests.
bool todayTotalIsLive(const std::vector<TimerSession>& sessions);

// The card as one sentence for screen readers: "Heute erfasst 4 Stunden 35
// von 8 Stunden Ziel, 3 Sessions, 2 Projekte, 342,50 € abrechenbar".
QString todaySpokenText(qint64 trackedSecs, qint64 targetSecs, qint64 sessions, qint64 projects,
                        qint64 billableEuroCents);

// What the card shows at the store's current moment.
struct TodayFigures {
    QString total;
    QString target;
    double progress = 0;
    QString counts;
    QString billable;
    bool operator==(const TodayFigures&) const = default;
};
TodayFigures todayFigures(const AppStore& store);
// Whether the card would look different: the bar counts as moved once its
// end has moved by a quarter of a pixel.
bool todayFiguresMoved(const TodayFigures& drawn, const TodayFigures& now, qreal barWidth);

// Today's tracked time live against the target, the bar toward it, the
// counts and the billable amount, on a card with a soft glow. The total
// follows the store's tick while a session runs and the card is on screen.
class TodayCard : public QWidget, public SpokenText {
    Q_OBJECT
public:
    static constexpr int kPadding = 14;
    static constexpr qreal kCornerRadius = 16;
    static constexpr qreal kBarHeight = 5;

    TodayCard(AppStore& store, ChromeSetting& chrome, QWidget* parent = nullptr);
    ~TodayCard() override;

    TodayFigures figures() const { return todayFigures(m_store); }
    bool isTicking() const;
    QString spokenText() const override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The glow's part past the card: a sibling that takes no clicks.
    QWidget* outerGlow() const { return m_glow; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void followSessions();
    void clockTick();
    void placeGlow();
    void followSpokenText();

    AppStore& m_store;
    ChromeSetting& m_chrome;
    bool m_ticking = false; // redraws with the store's tick
    TodayFigures m_drawn;
    QString m_spoken; // as screen readers were last told
    QPointer<QWidget> m_glow;
};

} // namespace orvane
