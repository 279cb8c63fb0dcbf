#pragma once

#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <QCoroFuture>
#include <QCoroTask>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>

namespace orvane::platform {

// Threads for the work a reply costs (inflating, decoding), apart from Qt's
// global pool: Qt's own image work waits on that one from the main thread.
// Its threads end after a while without work.
QThreadPool& workerPool();

// Work handed to the pool whose caller has not resumed yet.
int workInFlight();

namespace detail {
void countWork(int delta);

struct WorkCount {
    WorkCount() { countWork(1); }
    ~WorkCount() { countWork(-1); }
    WorkCount(const WorkCount&) = delete;
    WorkCount& operator=(const WorkCount&) = delete;
};
} // namespace detail

// Runs `work` on the worker pool; the caller resumes on its own thread, with
// the result or with what `work` threw. `work` must touch nothing that the
// caller's thread changes meanwhile.
template <class F> auto offThread(F work) -> QCoro::Task<std::invoke_result_t<F&>> {
    using T = std::invoke_result_t<F&>;
    using Slot = std::conditional_t<std::is_void_v<T>, bool, T>;
    struct Outcome {
        std::optional<Slot> value;
        std::exception_ptr error;
        QPromise<void> done;
    };
    const detail::WorkCount counted;
    const auto outcome = std::make_shared<Outcome>();
    const QFuture<void> finished = outcome->done.future();
    outcome->done.start();
    // Held once: a body `work` owns stays unshared, and is read where it lies.
    const auto job = std::make_shared<F>(std::move(work));
    workerPool().start([outcome, job] {
        try {
            if constexpr (std::is_void_v<T>) {
                (*job)();
                outcome->value = true;
            } else {
                outcome->value.emplace((*job)());
            }
        } catch (...) {
            outcome->error = std::current_exception();
        }
        outcome->done.finish();
    });
    co_await finished;
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    if constexpr (!std::is_void_v<T>)
        co_return std::move(*outcome->value);
}

} // namespace orvane::platform
