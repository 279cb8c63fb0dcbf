#include "views/flow/passkey_authorization_coordinator.h"

#include <QApplication>

#include <coroutine>
#include <utility>

namespace orvane {

namespace {

// Holds only pointers into the awaiting frame: g++ 12 may destroy an awaiter
// twice.
struct AuthorizationAwaiter {
    PasskeyAuthorizationCoordinator* coordinator;
    const std::function<void()>* perform;
    std::optional<PasskeyAuthorizationCoordinator::Result>* slot;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiting) {
        auto* const into = slot;
        // The request may complete inside `perform`, which resumes and may end
        // the awaiting frame: run a copy and touch nothing of it afterwards.
        const std::function<void()> start = *perform;
        coordinator->begin([into, waiting](PasskeyAuthorizationCoordinator::Result result) {
            into->emplace(std::move(result));
            waiting.resume();
        });
        if (start)
            start();
    }
    void await_resume() const noexcept {}
};

} // namespace

std::shared_ptr<PasskeyAuthorizationCoordinator>
PasskeyAuthorizationCoordinator::create(QWidget* mainWindow) {
    return std::shared_ptr<PasskeyAuthorizationCoordinator>(
        new PasskeyAuthorizationCoordinator(mainWindow));
}

PasskeyAuthorizationCoordinator::~PasskeyAuthorizationCoordinator() = default;

void PasskeyAuthorizationCoordinator::begin(Continuation continuation) {
    continuation_ = std::move(continuation);
    selfRetain_ = shared_from_this();
}

QCoro::Task<platform::PasskeyAuthorization> PasskeyAuthorizationCoordinator::authorize(
    std::shared_ptr<PasskeyAuthorizationCoordinator> coordinator, std::function<void()> perform) {
    std::optional<Result> result;
    AuthorizationAwaiter awaiter{coordinator.get(), &perform, &result};
    co_await awaiter;
    if (auto* error = std::get_if<std::exception_ptr>(&*result))
        std::rethrow_exception(*error);
    co_return std::get<platform::PasskeyAuthorization>(std::move(*result));
}

void PasskeyAuthorizationCoordinator::didCompleteWithAuthorization(
    platform::PasskeyAuthorization authorization) {
    complete(std::move(authorization));
}

void PasskeyAuthorizationCoordinator::didCompleteWithError(std::exception_ptr error) {
    complete(error);
}

void PasskeyAuthorizationCoordinator::complete(Result result) {
    // Both members leave before anyone runs: dropping the self-reference may
    // end the last owner, and the resumed caller may start the next request
    // or let the coordinator go. `keep` holds it until this returns.
    std::optional<Continuation> continuation = std::exchange(continuation_, std::nullopt);
    const std::shared_ptr<PasskeyAuthorizationCoordinator> keep =
        std::exchange(selfRetain_, nullptr);
    if (continuation)
        (*continuation)(std::move(result));
}

QWidget* PasskeyAuthorizationCoordinator::presentationAnchor() {
    if (QWidget* active = QApplication::activeWindow())
        return active;
    if (mainWindow_)
        return mainWindow_->window();
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        if (window->isVisible())
            return window;
    if (!windows.isEmpty())
        return windows.first();
    if (!ownAnchor_)
        ownAnchor_ = std::make_unique<QWidget>(nullptr, Qt::Window);
    return ownAnchor_.get();
}

} // namespace orvane
