#pragma once

#include "store/timer_session.h"

#include <QColor>
#include <QDateTime>
#include <QPointer>
#include <QString>
#include <QUuid>
#include <QWidget>

#include <QCoroTask>

#include <functional>
#include <optional>
#include <vector>

class QComboBox;
class QScrollArea;

namespace orvane {

class AppStore;
class StatCard;
class TextBlock;

// The three settings of a stopped entry as the user edits them.
struct SummaryDrafts {
    bool billable = true;
    QString roundDirection = QStringLiteral("down");
    qint64 roundValue = 1; // minutes
    bool operator==(const SummaryDrafts&) const = default;
};

// "up", "down" or "closest" as the entry holds it; anything else is "down".
QString normalizedRoundDirection(const StoppedSummary& summary);
// The entry's minute grid; absent or below 2 is 1.
qint64 savedRoundValue(const StoppedSummary& summary);
SummaryDrafts draftsFromSummary(const StoppedSummary& summary);
bool hasUnsavedChanges(const SummaryDrafts& drafts, const StoppedSummary& summary);
// Direction or grid differ from what the entry holds (the billable flag
// does not count here).
bool roundingDiffers(const SummaryDrafts& drafts, const StoppedSummary& summary);
// How long the entry would be booked under the drafts.
qint64 previewDurationSecs(const StoppedSummary& summary, const SummaryDrafts& drafts);
// The choices of the minute-grid picker.
std::vector<qint64> minuteGridOptions(qint64 draftRoundValue);
QString roundingDescription(const std::optional<QString>& direction, std::optional<qint64> minutes);
// "heute", else "Mo. · 2. März".
QString dayLabel(const QDateTime& date, const QDateTime& now);
// The text a failed save shows for the error's own description.
QString saveErrorText(const QString& description);
// Green at 0 % to rose at 100 %.
QColor summaryBudgetTint(int percent);

// Everything the summary shows that the drafts and the entry decide.
struct SummaryFigures {
    qint64 previewSecs = 0;
    qint64 projectTotalSecs = 0;
    bool budgetSet = false;
    int budgetUsedPercent = 0;
    qint64 remainingSecs = 0;
    bool unsaved = false;

    QString durationText;
    QString roundingText;
    QString startTime, startDay, endTime, endDay;
    QString budgetValue, budgetSubtitle;
    std::optional<QColor> budgetTint;
    QString projectValue, projectSubtitle;
    // The four figure cards as screen readers say them.
    QString startSpoken, endSpoken, budgetSpoken, projectSpoken;
    QString statusText; // by the saved billable flag
};
SummaryFigures summaryFigures(const StoppedSummary& summary, const SummaryDrafts& drafts,
                              const QDateTime& now);
// What a screen reader reads as the summary arrives: the booked time and on
// what, what the rounding did, start and end, budget, project and status.
QString summarySpokenText(const StoppedSummary& summary, const SummaryFigures& figures);
// The minute grid's choice as it is said: "1 Minute", "15 Minuten".
QString gridSpokenValue(qint64 minutes);

// The panel after a stop: the booked time, the figures, and the entry's
// billable flag and rounding as drafts that are written back on "Speichern".
// It closes only through `onDone`, which is the last thing its handlers do.
class SummaryView : public QWidget {
    Q_OBJECT
public:
    SummaryView(AppStore& store, std::function<void()> onDone, QWidget* parent = nullptr);
    ~SummaryView() override;

    const SummaryDrafts& drafts() const { return m_drafts; }
    // A save of the summary shown now is under way.
    bool isSaving() const { return m_savingEntry && m_savingEntry == m_draftsOf; }
    const std::optional<QString>& saveError() const { return m_saveError; }
    // The "Änderungen nicht gespeichert" question is up.
    bool isConfirming() const { return m_confirming; }
    // While the question is up, the root's dim layer must not close the panel.
    bool dimLayerInert() const { return m_confirming; }
    SummaryFigures figures() const;

    // The actions of the controls.
    void setDraftBillable(bool billable);
    void selectRoundDirection(const QString& direction);
    void setDraftRoundValue(qint64 minutes);
    void startSave();
    void requestClose();           // "Fertig"
    void requestCloseFromHeader(); // the header's close button
    void discardAndClose();
    void loadDraftsFromSummary();
    // The question's answers.
    void confirmSave();
    void confirmDiscard();
    void confirmBack();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    class Parts;
    QCoro::Task<void> save();
    void summaryChanged();
    void setConfirming(bool confirming);
    void refresh();

    AppStore& m_store;
    std::function<void()> m_onDone;
    SummaryDrafts m_drafts;
    std::optional<QUuid> m_savingEntry; // the summary whose save is under way
    std::optional<QString> m_saveError;
    std::optional<QString> m_announcedError;
    bool m_confirming = false;
    std::optional<QUuid> m_draftsOf; // the summary the drafts were loaded from
    Parts* m_parts;
};

} // namespace orvane
