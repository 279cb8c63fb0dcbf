#include "support/await.h"

namespace orvane::test {

namespace detail {
void spinUntil(const bool& done, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (!done) {
        if (deadline.hasExpired())
            throw std::runtime_error("timed out waiting for a task to finish");
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
}
} // namespace detail

void spin(std::chrono::milliseconds duration) {
    QDeadlineTimer deadline(duration);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
}

bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

} // namespace orvane::test
