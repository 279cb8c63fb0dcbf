#pragma once

#include "service/job_time_records.h"
#include "service/user_records.h"
#include "store/timer_session.h"
#include "views/kit/accessibility.h"

#include <QColor>
#include <QDateTime>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <QCoroTask>

#include <memory>
#include <optional>
#include <vector>

namespace orvane {

class AppStore;
class PulsingDot;
class CardStopButton;
class CardSpeech;

// The colours of the card that differ between light and dark chrome.
struct CardChromeColors {
    QColor secondaryText;
    QColor titleText;
    QColor gradientTop;    // top-leading corner
    QColor gradientBottom; // bottom-trailing corner
    QColor border;
    QColor budgetTrack;
};
CardChromeColors cardChromeColors(bool light);

// Running and not on a break.
bool isRunningState(const TimerSession& session);
QColor sessionStatusColor(const TimerSession& session, bool light);
// "LÄUFT · SEIT 09:41", "PAUSE" or "PAUSIERT".
QString sessionBadgeText(const TimerSession& session);

// The task's rate, else its client's (from the task, else from the client
// list), else the user's default: the first that reads as a number above 0.
std::optional<double> sessionHourlyRate(const std::optional<JobTaskDTO>& taskForRate,
                                        const QString& clientId,
                                        const std::vector<ClientDTO>& clients,
                                        const std::optional<APIUser>& user);
// Cents earned by `liveSecs` at `rate` per hour, halves away from zero.
std::optional<qint64> earnedCents(std::optional<double> rate, qint64 liveSecs);
// "92,5 €/h · abrechenbar".
QString hourlyRateText(double rate);
// "+127,50 €".
QString earnedText(qint64 cents);

struct BudgetFigures {
    qint64 usedSecs = 0; // never below 0
    double fraction = 0;
    int percent = 0; // 0 to 100
    qint64 remainingSecs = 0;
};
// Only for a session with a budget of at least one second.
std::optional<BudgetFigures> budgetFigures(const TimerSession& session, const QDateTime& at);
// Green at 0 % to rose at 100 %.
QColor budgetColor(int percent);

// Everything the card draws at one moment.
struct CardContent {
    bool running = false;
    QColor statusColor;
    QString badge;
    QString clientLine; // client · job
    QString taskTitle;
    std::optional<BudgetFigures> budget;
    QString budgetPercentText;   // "75%"
    QString budgetRemainingText; // "· 0:15 frei"
    QString elapsedText;
    qint64 elapsedSecs = 0;
    std::optional<double> rate;
    std::optional<QString> rateText;
    std::optional<qint64> earnedCents;
    std::optional<QString> earnedText;
};
CardContent cardContent(const TimerSession& session, bool light, std::optional<double> rate,
                        const QDateTime& now);
// The card as one sentence for screen readers: "Läuft seit 09:41: Entwurf für
// Acme, Website, 1 Stunde 5. Budget 75 % genutzt, 15 Minuten frei. 85 € pro
// Stunde abrechenbar, bisher 127,50 €." The time is said to the minute.
QString cardSpokenText(const TimerSession& session, const CardContent& content);

// The figures that move by themselves while a session runs. Only a part
// whose drawing differs between two moments is drawn again; the bar counts
// as moved once its end has moved by a quarter of a pixel.
struct CardLiveChange {
    bool elapsed = false;
    bool budget = false;
    bool rate = false;
    bool any() const { return elapsed || budget || rate; }
};
CardLiveChange cardLiveChange(const CardContent& before, const CardContent& now, qreal barWidth);

// The open timer at the top of the popover: state, titles, budget, live
// time, stop, and under it the rate with what this session has earned. One
// card is reused for whichever session is current.
class ActiveSessionCard : public QWidget, public SpokenText {
    Q_OBJECT
public:
    explicit ActiveSessionCard(AppStore& store, QWidget* parent = nullptr);

    void setSession(const TimerSession& session);
    const TimerSession& session() const { return m_session; }
    void setUseLight(bool useLight);
    bool useLight() const { return m_useLight; }

    // The session's job task as the service sent it, for its rate.
    const std::optional<JobTaskDTO>& taskForRate() const { return m_taskForRate; }
    CardContent content() const;
    QString spokenText() const override;
    // Whether the live figures redraw with the store's tick.
    bool elapsedClockRunning() const { return m_elapsedLive; }
    bool budgetClockRunning() const { return m_budgetLive; }

    // The stop button's action.
    void stop();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Geometry;
    Geometry geometry(qreal width) const;
    const Geometry& currentGeometry();
    void paintBackdrop(QPainter& p, const CardContent& c, const Geometry& g) const;
    // The static parts as of the last content change, at the scale of the
    // device `p` paints on.
    const QPixmap& backdrop(const QPainter& p);
    void paintLive(QPainter& p, const CardContent& c, const Geometry& g,
                   const QRegion& region) const;
    void clockTick();
    void followClocks();
    void loadTaskForRateIfNeeded();
    QCoro::Task<void> loadTaskForRate(QString taskId, quint64 load);
    void placeChildren();
    void contentChanged();

    AppStore& m_store;
    TimerSession m_session;
    bool m_useLight = false;
    std::optional<JobTaskDTO> m_taskForRate;
    std::optional<QString> m_rateLoadedFor; // the task id a load was started for
    quint64 m_rateLoads = 0;
    bool m_elapsedLive = false;
    bool m_budgetLive = false;
    PulsingDot* m_dot;
    CardStopButton* m_stopButton;
    CardSpeech* m_speech;
    bool m_hadRateLine = false;
    bool m_hadBudget = false;
    // What stays put while the clock runs, drawn once per content and size.
    std::shared_ptr<const Geometry> m_geometry;
    QPixmap m_backdrop;
    CardContent m_live; // the live figures as last asked to be drawn
};

} // namespace orvane
