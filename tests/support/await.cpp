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

bool eventuallyTrue(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    QDeadlineTimer deadline(limit);
    while (!condition() && !deadline.hasExpired())
        spin(std::chrono::milliseconds(5));
    return condition();
}

} // namespace orvane::test
