#include "support/await.h"

#include "platform/worker_pool.h"
#include "service/orvane_api_client.h"

#include <QAbstractEventDispatcher>
#include <QNetworkReply>
#include <QPointer>
#include <QSemaphore>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

namespace orvane::test {

namespace {
using std::chrono::milliseconds;

// Runs the event loop until `stop` holds or `deadline` passes, asleep in
// between. processEvents with a time limit drops WaitForMoreEvents and spins;
// without one it blocks until something happens, so a timer wakes it for the
// deadline and, where `stop` hangs on other threads, every `poll`.
bool sleepUntil(const std::function<bool()>& stop, QDeadlineTimer deadline,
                std::optional<milliseconds> poll = std::nullopt) {
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    while (!stop()) {
        if (deadline.hasExpired())
            return false;
        if (!wake.isActive()) {
            // A rounded-down wake would leave the loop asleep with no timer.
            milliseconds next = std::chrono::ceil<milliseconds>(deadline.remainingTimeAsDuration());
            if (poll)
                next = std::min(next, *poll);
            wake.start(std::max(next, milliseconds(1)));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}
} // namespace

namespace detail {
void spinUntil(const bool& done, std::chrono::milliseconds timeout) {
    if (!sleepUntil([&done] { return done; }, QDeadlineTimer(timeout)))
        throw std::runtime_error("timed out waiting for a task to finish");
}
} // namespace detail

void spin(std::chrono::milliseconds duration) {
    sleepUntil([] { return false; }, QDeadlineTimer(duration));
}

bool eventuallyTrue(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    sleepUntil(condition, QDeadlineTimer(limit), milliseconds(5));
    return condition();
}

namespace {
// The shared manager is a member of the session, not its child; a one-shot
// request's manager is a child.
std::vector<QPointer<QNetworkReply>> repliesRunning() {
    platform::HttpSession& session = OrvaneAPIClient::session();
    QList<QNetworkReply*> replies = session.manager().findChildren<QNetworkReply*>();
    replies += session.findChildren<QNetworkReply*>();
    std::vector<QPointer<QNetworkReply>> running;
    for (QNetworkReply* reply : replies)
        if (reply->isRunning())
            running.emplace_back(reply);
    return running;
}
} // namespace

namespace {
// QTimer::singleShot's timers are children of the thread's event dispatcher
// until they fire. Those due before `deadline`: a request a timer will send is
// as much awaited as one under way.
std::size_t singleShotsDueBy(const QDeadlineTimer& deadline) {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    std::size_t due = 0;
    for (QObject* child : dispatcher->children()) {
        if (qstrcmp(child->metaObject()->className(), "QSingleShotTimer") != 0)
            continue;
        for (const auto& timer : dispatcher->registeredTimers(child))
            if (dispatcher->remainingTime(timer.timerId) <= deadline.remainingTime())
                ++due;
    }
    return due;
}
} // namespace

std::size_t answersAwaited() {
    return repliesRunning().size();
}

bool answersArrived(std::chrono::milliseconds limit) {
    const QDeadlineTimer deadline(limit);
    // Runs what was queued before. A coroutine resumes from a reply's end a
    // turn later, and what it spawns runs a turn after that: two turns.
    const auto turn = [&deadline] {
        auto turned = std::make_shared<bool>(false);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [turned] { *turned = true; }, Qt::QueuedConnection);
        return sleepUntil([turned] { return *turned; }, deadline);
    };
    // Were Qt to keep its one-shot timers elsewhere, this wait would pass
    // over them unseen: it says so instead.
    const std::size_t before = singleShotsDueBy(deadline);
    QObject probe;
    QTimer::singleShot(1, &probe, [] {});
    if (singleShotsDueBy(deadline) != before + 1)
        throw std::logic_error("answersArrived cannot see the pending one-shot timers");
    for (;;) {
        if (!turn() || !turn())
            return false;
        // A body is undone and decoded on the worker pool after its reply ended.
        const std::vector<QPointer<QNetworkReply>> awaited = repliesRunning();
        if (awaited.empty() && platform::workInFlight() == 0 && singleShotsDueBy(deadline) == 0)
            return true;
        const auto allIn = [&awaited, &deadline] {
            return platform::workInFlight() == 0 && singleShotsDueBy(deadline) == 0 &&
                   std::none_of(awaited.begin(), awaited.end(),
                                [](const auto& reply) { return reply && reply->isRunning(); });
        };
        if (!sleepUntil(allIn, deadline, milliseconds(5)))
            return false;
    }
}

struct HeldWorkers::Gate {
    QSemaphore started;
    QSemaphore open;
    int threads = 0;
};

HeldWorkers::HeldWorkers() : gate_(std::make_shared<Gate>()) {
    QThreadPool& pool = platform::workerPool();
    gate_->threads = pool.maxThreadCount();
    for (int i = 0; i < gate_->threads; ++i)
        pool.start([gate = gate_] {
            gate->started.release();
            gate->open.acquire();
        });
    gate_->started.acquire(gate_->threads); // a moment: the threads start at once
}

HeldWorkers::~HeldWorkers() {
    gate_->open.release(gate_->threads);
}

} // namespace orvane::test
