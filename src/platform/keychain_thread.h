#pragma once

#include <QtGlobal>

#include <QCoroTask>

#include <chrono>
#include <condition_variable>
#include <coroutine>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class QObject;

namespace orvane::platform {

// The keyring's own thread. Every call of the app into the keychain runs
// there, one job at a time in the order given, so that a keyring that is
// slow, locked or not answering never holds the interface; the answer comes
// back on the main thread. A job still running after answerTime() is
// interrupted and counts as not answered; its late end changes nothing the
// caller sees.
class KeychainThread {
public:
    // Long enough for the keyring daemon to be started by the first call of a
    // login session.
    static constexpr std::chrono::milliseconds kAnswerTime{5000};

    static KeychainThread& shared();
    ~KeychainThread();

    // What `job` returned, or rethrows what it threw, on the main thread;
    // none when the keyring did not answer in time or the thread had stopped.
    template <class T, class F> QCoro::Task<std::optional<T>> run(F job);

    // From inside a job: `effect` runs on the main thread when the job has
    // ended (also after its caller gave up on it), before its answer is handed
    // over. Outside a job it runs at once.
    static void whenBack(std::function<void()> effect);

    std::chrono::milliseconds answerTime() const { return answerTime_; }
    void setAnswerTime(std::chrono::milliseconds time) { answerTime_ = time; }

    // Blocks until every job given so far has ended and been answered.
    void waitUntilIdle();
    // Interrupts the job under way and gives those waiting no answer; returns
    // once nothing of them runs any more.
    void abandon();
    // At quit: the jobs given get a moment to end, then are abandoned; the
    // thread ends. Later jobs are answered with none at once.
    void shutDown();
    // After a shutDown, in a process that goes on (the next case of a test
    // run): jobs are taken again, on a new thread. False while the old
    // thread hangs in a call it was told to leave.
    bool reopen();

private:
    struct Answer {
        bool done = false;
        std::coroutine_handle<> waiter;
    };
    // Holds no ownership: g++ 12 may destroy a temporary awaiter twice.
    struct Wait {
        Answer* answer;
        bool await_ready() const noexcept { return answer->done; }
        void await_suspend(std::coroutine_handle<> handle) noexcept { answer->waiter = handle; }
        void await_resume() const noexcept {}
    };
    // Runs on the keyring's thread; returns what hands its answer over.
    using Work = std::function<std::function<void()>()>;
    struct Job {
        quint64 id;
        Work work;
    };
    template <class T> struct Slot {
        std::optional<T> value;
        std::exception_ptr error;
    };
    template <class T>
    static QCoro::Task<std::optional<T>> answerOf(std::shared_ptr<Slot<T>> slot,
                                                  std::shared_ptr<Answer> answer);
    struct Event {
        quint64 id;
        bool started;                  // else ended
        std::function<void()> deliver; // when ended
        std::vector<std::function<void()>> effects;
    };

    KeychainThread();
    void submit(Work work, std::shared_ptr<Answer> answer);
    void loop();
    void post(Event event);
    void collect(); // main thread
    void finish(quint64 id, const std::function<void()>& deliver);
    void timeOut(quint64 id);
    void dropQueued();
    bool waitIdle(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds limit);

    std::chrono::milliseconds answerTime_ = kAnswerTime;
    QObject* receiver_ = nullptr;                        // main thread
    std::map<quint64, std::shared_ptr<Answer>> waiting_; // main thread
    quint64 nextId_ = 0;

    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable idle_;
    std::deque<Job> queue_;
    std::vector<Event> events_;
    quint64 running_ = 0; // the job under way, 0 for none
    bool stopping_ = false;
    bool stopped_ = false;
    bool threadEnded_ = false;
    bool leftBehind_ = false; // the thread hung in a call when the app quit
    std::thread thread_;
};

// Not a coroutine itself: g++ 12 miscompiles coroutine calls whose by-value
// argument is a temporary, as a lambda given here would be.
template <class T, class F> QCoro::Task<std::optional<T>> KeychainThread::run(F job) {
    auto slot = std::make_shared<Slot<T>>();
    auto answer = std::make_shared<Answer>();
    Work work = [job = std::move(job), slot]() -> std::function<void()> {
        std::optional<T> value;
        std::exception_ptr error;
        try {
            value.emplace(job());
        } catch (...) {
            error = std::current_exception();
        }
        // The slot is written on the main thread only.
        return [slot, value = std::move(value), error]() mutable {
            slot->value = std::move(value);
            slot->error = error;
        };
    };
    submit(std::move(work), answer);
    return answerOf<T>(std::move(slot), std::move(answer));
}

template <class T>
QCoro::Task<std::optional<T>> KeychainThread::answerOf(std::shared_ptr<Slot<T>> slot,
                                                       std::shared_ptr<Answer> answer) {
    co_await Wait{answer.get()};
    if (slot->error)
        std::rethrow_exception(slot->error);
    co_return std::move(slot->value);
}

} // namespace orvane::platform
