#pragma once

#include <QCoroTask>

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

namespace orvane {

// At most one run of an operation at a time: a caller that arrives while a
// run is in flight awaits that run and gets its result (or its exception)
// instead of starting another.
template <class T = void> class SingleFlight {
    using Slot = std::conditional_t<std::is_void_v<T>, bool, T>;

    struct Flight {
        bool done = false;
        std::optional<Slot> value;
        std::exception_ptr error;
        std::vector<std::coroutine_handle<>> waiters;
    };

    // Holds no ownership: g++ 12 may destroy a temporary awaiter twice.
    struct Join {
        Flight* flight;
        bool await_ready() const noexcept { return flight->done; }
        void await_suspend(std::coroutine_handle<> handle) { flight->waiters.push_back(handle); }
        void await_resume() const noexcept {}
    };

    static T outcome(const Flight& flight) {
        if (flight.error)
            std::rethrow_exception(flight.error);
        if constexpr (!std::is_void_v<T>)
            return *flight.value;
    }

public:
    SingleFlight() = default;
    ~SingleFlight() { *alive_ = false; }
    SingleFlight(const SingleFlight&) = delete;
    SingleFlight& operator=(const SingleFlight&) = delete;

    bool inFlight() const { return current_ != nullptr; }

    QCoro::Task<T> run(std::function<QCoro::Task<T>()> body) {
        if (current_)
            return join(current_);
        current_ = std::make_shared<Flight>();
        return lead(current_, std::move(body));
    }

    // Forgets the run in flight: the next caller starts a new one.
    void reset() { current_.reset(); }

private:
    static QCoro::Task<T> join(std::shared_ptr<Flight> flight) {
        co_await Join{flight.get()};
        co_return outcome(*flight);
    }

    QCoro::Task<T> lead(std::shared_ptr<Flight> flight, std::function<QCoro::Task<T>()> body) {
        // The owner may be gone when the body ends.
        const std::shared_ptr<const bool> alive = alive_;
        try {
            if constexpr (std::is_void_v<T>) {
                co_await body();
            } else {
                flight->value.emplace(co_await body());
            }
        } catch (...) {
            flight->error = std::current_exception();
        }
        flight->done = true;
        if (*alive && current_ == flight)
            current_.reset();
        // Waiters go on right away, each up to its next wait.
        std::vector<std::coroutine_handle<>> waiters;
        waiters.swap(flight->waiters);
        for (const std::coroutine_handle<> waiter : waiters)
            waiter.resume();
        co_return outcome(*flight);
    }

    std::shared_ptr<Flight> current_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace orvane
