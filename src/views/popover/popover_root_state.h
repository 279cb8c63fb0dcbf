#pragma once

#include "store/timer_session.h"

#include <QString>

#include <chrono>
#include <optional>

namespace orvane {

enum class MainPanel { SignIn, MainColumn };
enum class OverlayPanel { None, SessionFlow, MultiTimer, Summary };
enum class StartStopAction { Nothing, OpenSessionFlow, ResumeFromBreak, Stop };
enum class Dismissal { Nothing, CloseSessionFlow, DropPendingStart, CloseSummary };

MainPanel mainPanelFor(bool isLoggedIn);
// The one panel shown over the content: flow over multi-timer over summary.
OverlayPanel overlayPanelFor(bool showSessionFlow, bool showMultiTimerSheet, bool hasSummary);
// What a click on the dim layer closes: the frontmost panel.
Dismissal dismissalFor(bool showSessionFlow, bool showMultiTimerSheet, bool hasSummary);
// Ctrl+Shift+T: open the flow without a session, end a break (counted as a
// pause), stop a running timer; nothing for a paused one or when signed out.
StartStopAction startOrStopAction(bool isLoggedIn, const TimerSession* current);
// What screen readers hear when the shown timer goes from `before` to `now`:
// a start or another timer with its task and client ("Timer läuft:
// Entwürfe für Acme"), a stop without a summary to say it; nothing while the
// same timer counts on.
std::optional<QString> timerAnnouncement(const std::optional<TimerSession>& before,
                                         const std::optional<TimerSession>& now, bool summaryShown);
// "true2": the sign-in state and the number of open sessions, whose change
// restarts the sync loop.
QString syncLoopKey(bool isLoggedIn, size_t openSessions);
// 22 s while sessions are open, 18 s otherwise.
std::chrono::milliseconds syncLoopInterval(size_t openSessions);

} // namespace orvane
