#pragma once

#include "platform/passkey_authorization.h"

#include <QPointer>
#include <QWidget>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>
#include <variant>

namespace orvane {

// Turns one platform passkey request into one awaited result: it is the
// request's delegate and anchor provider, keeps itself alive while the request
// runs and resumes its waiting caller exactly once. Nothing in the program
// starts a request yet; a passkey sign-in builds on this.
class PasskeyAuthorizationCoordinator final
    : public platform::PasskeyAuthorizationDelegate,
      public std::enable_shared_from_this<PasskeyAuthorizationCoordinator> {
public:
    using Result = std::variant<platform::PasskeyAuthorization, std::exception_ptr>;
    // The waiting caller; called at most once.
    using Continuation = std::function<void(Result)>;

    // `mainWindow` is the application's main window (the popover), if any.
    static std::shared_ptr<PasskeyAuthorizationCoordinator> create(QWidget* mainWindow = nullptr);
    ~PasskeyAuthorizationCoordinator() override;
    PasskeyAuthorizationCoordinator(const PasskeyAuthorizationCoordinator&) = delete;
    PasskeyAuthorizationCoordinator& operator=(const PasskeyAuthorizationCoordinator&) = delete;

    // Stores the caller and holds the coordinator until the request completes.
    void begin(Continuation continuation);
    // Waits for one request: `perform` starts it with `coordinator` as its
    // delegate. Gives back the authorization or throws the request's error.
    static QCoro::Task<platform::PasskeyAuthorization>
    authorize(std::shared_ptr<PasskeyAuthorizationCoordinator> coordinator,
              std::function<void()> perform);

    bool isRunning() const { return continuation_.has_value() || selfRetain_ != nullptr; }

    void didCompleteWithAuthorization(platform::PasskeyAuthorization authorization) override;
    void didCompleteWithError(std::exception_ptr error) override;

    // The window a request's sheet is shown over: the active window, the main
    // window, the first visible top-level window, the first at all, else a
    // hidden window of the coordinator's own.
    QWidget* presentationAnchor();

private:
    explicit PasskeyAuthorizationCoordinator(QWidget* mainWindow) : mainWindow_(mainWindow) {}
    void complete(Result result);

    std::optional<Continuation> continuation_;
    std::shared_ptr<PasskeyAuthorizationCoordinator> selfRetain_;
    QPointer<QWidget> mainWindow_;
    std::unique_ptr<QWidget> ownAnchor_;
};

} // namespace orvane
