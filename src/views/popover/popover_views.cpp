#include "views/popover/popover_views.h"

#include "views/flow/login_view.h"
#include "views/flow/multi_timer_choice_sheet.h"
#include "views/flow/session_flow_view.h"
#include "views/flow/summary_view.h"
#include "views/popover/active_session_card.h"
#include "views/popover/popover_actions.h"
#include "views/popover/popover_header.h"
#include "views/popover/quick_start_section.h"
#include "views/popover/recent_section.h"
#include "views/popover/shortcut_hints.h"
#include "views/popover/today_card.h"

#include <QPointer>

namespace orvane {

namespace {
// The root's two actions, for views that may outlive a call into it.
PopoverActions actionsOf(PopoverRootView& root) {
    const QPointer<PopoverRootView> self(&root);
    PopoverActions actions;
    actions.openSessionFlow = [self] {
        if (self)
            self->openSessionFlow();
    };
    actions.startOrStop = [self] {
        if (self)
            self->startOrStop();
    };
    return actions;
}
} // namespace

PopoverViews defaultPopoverViews() {
    PopoverViews views;
    views.login = [](PopoverRootView& root, QWidget* parent) -> QWidget* {
        return new LoginView(root.store(), parent);
    };
    views.header = [](PopoverRootView& root, QWidget* parent) -> QWidget* {
        return new PopoverHeader(root.store(), root.chrome(), actionsOf(root), parent);
    };
    views.todayCard = [](PopoverRootView& root, QWidget* parent) -> QWidget* {
        return new TodayCard(root.store(), root.chrome(), parent);
    };
    views.quickStart = [](PopoverRootView& root, QWidget* parent) -> QWidget* {
        return new QuickStartSection(root.store(), root.chrome(), actionsOf(root), parent);
    };
    views.recent = [](PopoverRootView& root, QWidget* parent) -> QWidget* {
        return new RecentSection(root.store(), root.chrome(), actionsOf(root), parent);
    };
    views.footer = [](PopoverRootView& root, QWidget* parent) -> QWidget* {
        return new ShortcutHints(root.chrome(), parent);
    };
    views.card = [](PopoverRootView& root, QWidget* parent) -> QWidget* {
        return new ActiveSessionCard(root.store(), parent);
    };
    views.updateCard = [](QWidget* card, const TimerSession& session, bool useLight) {
        if (auto* active = qobject_cast<ActiveSessionCard*>(card)) {
            active->setUseLight(useLight);
            active->setSession(session);
        }
    };
    views.sessionFlow = [](PopoverRootView& root, std::function<void(std::optional<QUuid>)> done,
                           QWidget* parent) -> QWidget* {
        return new SessionFlowView(root.store(), root.chrome(), std::move(done), parent);
    };
    views.multiTimer = [](PopoverRootView& root, QWidget* parent) -> QWidget* {
        return new MultiTimerChoiceSheet(root.store(), root.chrome(), parent);
    };
    views.summary = [](PopoverRootView& root, std::function<void()> done,
                       QWidget* parent) -> QWidget* {
        return new SummaryView(root.store(), std::move(done), parent);
    };
    views.dimLayerInert = [](QWidget* panel) {
        if (auto* sheet = qobject_cast<MultiTimerChoiceSheet*>(panel))
            return sheet->dimLayerInert();
        if (auto* summary = qobject_cast<SummaryView*>(panel))
            return summary->dimLayerInert();
        return false;
    };
    return views;
}

} // namespace orvane
