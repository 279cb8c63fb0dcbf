#pragma once

#include "store/timer_session.h"

#include <QColor>
#include <QDateTime>
#include <QString>
#include <QWidget>

#include <QCoroTask>

#include <optional>
#include <vector>

namespace orvane {

class AppStore;
class ChromeSetting;
class ChoiceButton;
class ChoiceCardView;
class TextBlock;

// The colours of the panel in one chrome.
struct ChoicePanelColors {
    QColor background;
    QColor handle;
    QColor ink;   // primary text
    QColor muted; // secondary text
    QColor faint; // the "NEU" badge
    QColor green; // elapsed time and the keep icon
    QColor runningTop, runningBottom, runningStroke;
    QColor pendingFill, pendingStroke;
    QColor badgeFill;
    QColor keepFill, keepStroke;
    bool operator==(const ChoicePanelColors&) const = default;
};
ChoicePanelColors choicePanelColors(bool light);

// What one of the two cards shows.
struct ChoiceCard {
    quint32 colorHex = 0;
    QString initials;
    QString title;
    QString subtitle;
    bool operator==(const ChoiceCard&) const = default;
};
// The waiting client's name: customer name, else company name, else "".
QString pendingClientName(const ClientDTO& client);
ChoiceCard runningChoiceCard(const TimerSession& session);
ChoiceCard pendingChoiceCard(const PendingStart& pick);

// The choice shown when a start meets a running timer: stop it and start
// the new one, or keep it and drop the new one.
class MultiTimerChoiceSheet : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 380;

    MultiTimerChoiceSheet(AppStore& store, ChromeSetting& chrome, QWidget* parent = nullptr);

    // The two choices.
    void stopAndStartPending();
    void keepRunning();

    // From the first tap on the stop choice until the panel goes both
    // choices are off, and the root's dim layer must not drop the pick.
    bool isStopping() const { return m_stopping; }
    bool dimLayerInert() const { return m_stopping; }

    // The cards as shown now; none while a session or the pick is missing.
    std::optional<ChoiceCard> runningCard() const;
    std::optional<ChoiceCard> pendingCard() const;
    QString runningElapsedText() const;

    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    std::optional<qint64> runningElapsedSecs() const;
    QCoro::Task<void> runStop();
    void applyChrome();
    void refresh();
    void fitNames();

    AppStore& m_store;
    ChromeSetting& m_chrome;
    bool m_stopping = false;
    TextBlock* m_question;
    TextBlock* m_explanation;
    ChoiceCardView* m_running;
    ChoiceCardView* m_pending;
    QWidget* m_runningGap;
    QWidget* m_pendingGap;
    ChoiceButton* m_stop;
    ChoiceButton* m_keep;
    struct Fitted {
        std::optional<ChoiceCard> running, pending;
        qsizetype elapsedChars = 0;
        bool operator==(const Fitted&) const = default;
    } m_fitted;
    // The height the content asks for with every name whole, at `width`.
    struct Natural {
        int width = -1;
        int height = 0;
    } m_natural;
};

} // namespace orvane
