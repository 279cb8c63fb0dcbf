#include "platform/worker_pool.h"

#include <QCoreApplication>

#include <atomic>

namespace orvane::platform {

namespace {
std::atomic<int> inFlight = 0;
} // namespace

QThreadPool& workerPool() {
    // The application's child: its end waits for what runs, so no work
    // outlives the objects it reads.
    static QThreadPool* pool = [] {
        auto* made = new QThreadPool(QCoreApplication::instance());
        made->setMaxThreadCount(2);
        made->setObjectName(QStringLiteral("orvane-workers"));
        return made;
    }();
    return *pool;
}

int workInFlight() {
    return inFlight.load();
}

void detail::countWork(int delta) {
    inFlight += delta;
}

} // namespace orvane::platform
