#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

#include <QCoroTask>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

namespace orvane::test {

// How long a test waits for what must happen: a bound for what never comes,
// wide enough for a busy machine under the sanitizers.
inline constexpr std::chrono::seconds kPatience{60};

namespace detail {
template <class T> struct AwaitState {
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
};

template <class T>
QCoro::Task<void> runInto(QCoro::Task<T> task, std::shared_ptr<AwaitState<T>> state) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
        } else {
            state->value.emplace(co_await std::move(task));
        }
    } catch (...) {
        state->error = std::current_exception();
    }
    state->done = true;
}

void spinUntil(const bool& done, std::chrono::milliseconds timeout);
} // namespace detail

// Runs the event loop until `task` finishes and returns its result, or
// rethrows what it threw. Fails loudly instead of hanging.
template <class T> T await(QCoro::Task<T> task, std::chrono::milliseconds timeout = kPatience) {
    using Slot = std::conditional_t<std::is_void_v<T>, bool, T>;
    auto state = std::make_shared<detail::AwaitState<Slot>>();
    if constexpr (std::is_void_v<T>) {
        auto wrapper = [](QCoro::Task<void> t,
                          std::shared_ptr<detail::AwaitState<Slot>> s) -> QCoro::Task<void> {
            try {
                co_await std::move(t);
            } catch (...) {
                s->error = std::current_exception();
            }
            s->done = true;
        };
        auto running = wrapper(std::move(task), state);
        detail::spinUntil(state->done, timeout);
        if (state->error)
            std::rethrow_exception(state->error);
        return;
    } else {
        auto running = detail::runInto<T>(std::move(task), state);
        detail::spinUntil(state->done, timeout);
        if (state->error)
            std::rethrow_exception(state->error);
        return std::move(*state->value);
    }
}

// Runs the event loop for a while (lets queued work and timers run). Every
// wait here sleeps on the loop, never spins.
void spin(std::chrono::milliseconds duration);

// Runs the event loop until `condition` holds or `limit` passed; the last
// answer of `condition`.
bool eventuallyTrue(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = kPatience);

// Runs the event loop until the client's HTTP session awaits no answer, no
// body or list is on the worker pool, no one-shot timer falls due before
// `limit`, and what the last ones woke has run, asking nothing more: a
// negative check waits for this, not for a while.
// False when `limit` passed first.
bool answersArrived(std::chrono::milliseconds limit = kPatience);
// How many answers the client's HTTP session awaits now.
std::size_t answersAwaited();

// Holds every thread of the worker pool while it lives: bodies and lists
// handed to the pool meanwhile wait, as on a machine whose cores are busy.
class HeldWorkers {
public:
    HeldWorkers();
    ~HeldWorkers();
    HeldWorkers(const HeldWorkers&) = delete;
    HeldWorkers& operator=(const HeldWorkers&) = delete;

private:
    struct Gate;
    std::shared_ptr<Gate> gate_;
};

} // namespace orvane::test
