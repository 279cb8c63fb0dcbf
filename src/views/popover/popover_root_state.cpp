#include "views/popover/popover_root_state.h"

namespace orvane {

MainPanel mainPanelFor(bool isLoggedIn) {
    return isLoggedIn ? MainPanel::MainColumn : MainPanel::SignIn;
}

OverlayPanel overlayPanelFor(bool showSessionFlow, bool showMultiTimerSheet, bool hasSummary) {
    if (showSessionFlow)
        return OverlayPanel::SessionFlow;
    if (showMultiTimerSheet)
        return OverlayPanel::MultiTimer;
    if (hasSummary)
        return OverlayPanel::Summary;
    return OverlayPanel::None;
}

Dismissal dismissalFor(bool showSessionFlow, bool showMultiTimerSheet, bool hasSummary) {
    switch (overlayPanelFor(showSessionFlow, showMultiTimerSheet, hasSummary)) {
    case OverlayPanel::SessionFlow:
        return Dismissal::CloseSessionFlow;
    case OverlayPanel::MultiTimer:
        return Dismissal::DropPendingStart;
    case OverlayPanel::Summary:
        return Dismissal::CloseSummary;
    case OverlayPanel::None:
        break;
    }
    return Dismissal::Nothing;
}

StartStopAction startOrStopAction(bool isLoggedIn, const TimerSession* current) {
    if (!isLoggedIn)
        return StartStopAction::Nothing;
    if (!current)
        return StartStopAction::OpenSessionFlow;
    if (current->onBreak)
        return StartStopAction::ResumeFromBreak;
    if (current->running)
        return StartStopAction::Stop;
    return StartStopAction::Nothing;
}

std::optional<QString> timerAnnouncement(const std::optional<TimerSession>& before,
                                         const std::optional<TimerSession>& now,
                                         bool summaryShown) {
    if (!now) {
        if (!before || summaryShown)
            return std::nullopt;
        return QStringLiteral("Timer gestoppt");
    }
    if (before && before->id == now->id)
        return std::nullopt;
    QString what = now->taskTitle.trimmed();
    if (const QString client = now->clientDisplayName.trimmed(); !client.isEmpty())
        what += (what.isEmpty() ? QStringLiteral("für ") : QStringLiteral(" für ")) + client;
    return what.isEmpty() ? QStringLiteral("Timer läuft") : QStringLiteral("Timer läuft: ") + what;
}

QString syncLoopKey(bool isLoggedIn, size_t openSessions) {
    return (isLoggedIn ? QStringLiteral("true") : QStringLiteral("false")) +
           QString::number(openSessions);
}

std::chrono::milliseconds syncLoopInterval(size_t openSessions) {
    return openSessions > 0 ? std::chrono::seconds(22) : std::chrono::seconds(18);
}

} // namespace orvane
