#include "platform/keychain_thread.h"

#include "platform/keychain.h"

#include <QObject>
#include <QTimer>

#include <set>

namespace orvane::platform {

namespace {
// The effects the job under way on this thread hands back.
thread_local std::vector<std::function<void()>>* t_effects = nullptr;
constexpr std::chrono::seconds kMomentAtQuit{1};
} // namespace

KeychainThread& KeychainThread::shared() {
    static KeychainThread instance;
    return instance;
}

KeychainThread::KeychainThread() = default;

KeychainThread::~KeychainThread() {
    shutDown();
    // A thread left in a call that ignored its interruption may still post.
    if (!leftBehind_)
        delete receiver_;
}

void KeychainThread::whenBack(std::function<void()> effect) {
    if (t_effects)
        t_effects->push_back(std::move(effect));
    else
        effect();
}

void KeychainThread::submit(Work work, std::shared_ptr<Answer> answer) {
    if (!receiver_)
        receiver_ = new QObject;
    const quint64 id = ++nextId_;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            answer->done = true;
            return;
        }
        if (!thread_.joinable())
            thread_ = std::thread([this] { loop(); });
        queue_.push_back({id, std::move(work)});
    }
    waiting_.emplace(id, std::move(answer));
    work_.notify_one();
}

void KeychainThread::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return !queue_.empty() || stopped_; });
        if (stopped_)
            break;
        Job job = std::move(queue_.front());
        queue_.pop_front();
        running_ = job.id;
        // Under the lock: an interruption meant for an earlier job never
        // reaches this one.
        Keychain::shared().resume();
        post({job.id, true, {}, {}});
        lock.unlock();

        std::vector<std::function<void()>> effects;
        t_effects = &effects;
        std::function<void()> deliver = job.work();
        t_effects = nullptr;
        job.work = nullptr;

        lock.lock();
        running_ = 0;
        post({job.id, false, std::move(deliver), std::move(effects)});
        idle_.notify_all();
    }
    threadEnded_ = true;
    idle_.notify_all();
}

// With the lock held.
void KeychainThread::post(Event event) {
    const bool wake = events_.empty();
    events_.push_back(std::move(event));
    if (wake)
        QMetaObject::invokeMethod(
            receiver_, [this] { collect(); }, Qt::QueuedConnection);
}

void KeychainThread::collect() {
    std::vector<Event> events;
    bool stopping = false;
    {
        std::lock_guard lock(mutex_);
        events.swap(events_);
        stopping = stopping_;
    }
    std::set<quint64> ended;
    for (const Event& event : events)
        if (!event.started)
            ended.insert(event.id);
    for (Event& event : events) {
        if (event.started) {
            // Most jobs end before their start is seen here.
            if (!stopping && !ended.count(event.id) && waiting_.count(event.id))
                QTimer::singleShot(answerTime_, receiver_, [this, id = event.id] { timeOut(id); });
            continue;
        }
        for (const auto& effect : event.effects)
            effect();
        finish(event.id, event.deliver);
    }
}

void KeychainThread::finish(quint64 id, const std::function<void()>& deliver) {
    const auto it = waiting_.find(id);
    if (it == waiting_.end())
        return;
    const std::shared_ptr<Answer> answer = it->second;
    waiting_.erase(it);
    if (deliver)
        deliver();
    answer->done = true;
    if (const std::coroutine_handle<> waiter = std::exchange(answer->waiter, {}))
        waiter.resume();
}

void KeychainThread::timeOut(quint64 id) {
    if (!waiting_.count(id))
        return;
    {
        std::lock_guard lock(mutex_);
        if (running_ == id)
            Keychain::shared().interrupt();
    }
    finish(id, nullptr);
}

bool KeychainThread::waitIdle(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds limit) {
    return idle_.wait_for(lock, limit, [this] { return queue_.empty() && running_ == 0; });
}

void KeychainThread::waitUntilIdle() {
    for (;;) {
        quint64 overdue = 0;
        {
            std::unique_lock lock(mutex_);
            // Nobody turns the event loop for the deadline meanwhile.
            if (!waitIdle(lock, answerTime_) && running_) {
                overdue = running_;
                Keychain::shared().interrupt();
            }
        }
        if (overdue)
            finish(overdue, nullptr); // as its deadline would
        collect();
        std::lock_guard lock(mutex_);
        if (queue_.empty() && running_ == 0 && events_.empty())
            return;
    }
}

void KeychainThread::abandon() {
    std::vector<quint64> dropped;
    bool ended = true;
    {
        std::unique_lock lock(mutex_);
        for (const Job& job : queue_)
            dropped.push_back(job.id);
        queue_.clear();
        if (running_) {
            dropped.push_back(running_);
            Keychain::shared().interrupt();
        }
        ended = idle_.wait_for(lock, stopping_ ? kMomentAtQuit : std::chrono::seconds(30),
                               [this] { return running_ == 0; });
    }
    // The interrupted job's late end, if it came, answers nobody.
    std::vector<std::shared_ptr<Answer>> unanswered;
    for (const quint64 id : dropped) {
        if (const auto it = waiting_.find(id); it != waiting_.end()) {
            unanswered.push_back(it->second);
            waiting_.erase(it);
        }
    }
    if (ended)
        collect();
    for (const std::shared_ptr<Answer>& answer : unanswered) {
        answer->done = true;
        if (const std::coroutine_handle<> waiter = std::exchange(answer->waiter, {}))
            waiter.resume();
    }
}

void KeychainThread::shutDown() {
    {
        std::unique_lock lock(mutex_);
        if (stopping_)
            return;
        stopping_ = true;
        // What was asked last (a sign-out's removal, say) mostly ends at once.
        waitIdle(lock, kMomentAtQuit);
    }
    abandon();
    bool ended = true;
    {
        std::unique_lock lock(mutex_);
        stopped_ = true;
        work_.notify_all();
        if (thread_.joinable())
            ended = idle_.wait_for(lock, kMomentAtQuit, [this] { return threadEnded_; });
    }
    if (!thread_.joinable())
        return;
    if (ended) {
        thread_.join();
    } else {
        leftBehind_ = true;
        thread_.detach();
    }
}

bool KeychainThread::reopen() {
    std::lock_guard lock(mutex_);
    if (leftBehind_ || thread_.joinable())
        return !stopping_;
    stopping_ = false;
    stopped_ = false;
    threadEnded_ = false;
    return true;
}

} // namespace orvane::platform
