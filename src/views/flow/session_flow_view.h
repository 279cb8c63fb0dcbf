#pragma once

#include "views/flow/flow_step_stage.h"
#include "views/flow/flow_texts.h"
#include "views/flow/session_flow_state.h"

#include <QUuid>
#include <QWidget>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>

class QLineEdit;

namespace orvane {

class AppStore;
class ChromeSetting;
class FlowBackButton;
class FlowElidedLabel;
class FlowKeyMonitor;
class FlowSearchBox;
class FlowStepIndicator;
class FlowStepPage;
class FlowSymbol;

// The client → job → task picker that starts a timer, usable entirely by
// keyboard. The host makes one for each showing and hands it `onCompleted`,
// which it calls once: with the started session's id, or none when no timer
// started or the user left the flow. It never deletes itself.
class SessionFlowView : public QWidget {
    Q_OBJECT
public:
    SessionFlowView(AppStore& store, ChromeSetting& chrome,
                    std::function<void(std::optional<QUuid>)> onCompleted,
                    QWidget* parent = nullptr);
    ~SessionFlowView() override;

    const SessionFlowState& state() const { return state_; }

    // The operations of the keys and buttons.
    void moveHighlightUp();
    void moveHighlightDown();
    void handleReturn();
    void handleEscape();
    void clickRow(int step, int row);
    void reloadClients();
    void reloadJobs();
    void reloadTasks();
    void resetFlow();
    void backFromTasks();

    QLineEdit* searchField() const { return search_; }
    FlowBackButton* backButton() const { return back_; }
    FlowStepPage* page(int step) const;
    FlowElidedLabel* titleLabel() const { return title_; }
    FlowElidedLabel* subtitleLabel() const { return subtitle_; }
    FlowStepIndicator* stepIndicator() const { return indicator_; }
    FlowKeyMonitor* keyMonitor() const { return monitor_; }
    FlowStepStage* stage() const { return stage_; }

    QSize sizeHint() const override { return {380, 510}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Brings every widget in line with the state.
    void sync();
    void run(FlowPick pick);
    void focusSearchSoon();
    void announceStep();
    // The host has not dismissed the flow (hiding with the popover does not
    // count).
    bool stillShown() const;
    void complete(std::optional<QUuid> result);

    QCoro::Task<void> loadClients(quint64 appearance);
    QCoro::Task<void> runClientReload();
    QCoro::Task<void> loadJobs(LoadJobs load);
    QCoro::Task<void> loadTasks(LoadTasks load);
    QCoro::Task<void> startTimer(StartTimer start);

    AppStore& store_;
    ChromeSetting& chrome_;
    std::function<void(std::optional<QUuid>)> onCompleted_;
    SessionFlowState state_;
    quint64 appearance_ = 0;           // advanced by every show and hide
    std::optional<int> announcedStep_; // none until the first step was said
    int stepAtShowing_ = 0;
    int shownStep_ = -1;
    int shownHighlight_ = -1;
    // How the next change of step moves: the resets ease, all else springs.
    FlowStepStage::Motion nextMotion_ = FlowStepStage::Motion::Spring;
    // Rows made once per change of each list (task rows sum job times).
    struct RowCache {
        quint64 revision = ~quint64(0);
        std::shared_ptr<const std::vector<FlowRow>> rows;
    } rowCache_[3];

    FlowBackButton* back_;
    FlowElidedLabel* title_;
    FlowElidedLabel* subtitle_;
    FlowStepIndicator* indicator_;
    FlowSearchBox* searchBox_;
    FlowSymbol* magnifier_;
    QLineEdit* search_;
    FlowStepStage* stage_;
    FlowStepPage* pages_[3];
    FlowKeyMonitor* monitor_;
};

} // namespace orvane
