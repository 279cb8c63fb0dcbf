#include "views/flow/passkey_authorization_coordinator.h"

#include "support/await.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace orvane;
using platform::PasskeyAuthorization;

namespace {

const PasskeyAuthorization kAuthorization{"cred-1", "client", "auth", "sig", "user-1"};

QCoro::Task<void> awaitInto(std::shared_ptr<PasskeyAuthorizationCoordinator> coordinator,
                            std::function<void()> perform,
                            std::optional<PasskeyAuthorization>* into, int* resumed) {
    *into = co_await PasskeyAuthorizationCoordinator::authorize(coordinator, perform);
    ++*resumed;
}

TEST(PasskeyAuthorizationCoordinator, ResumesTheCallerOnceWithTheAuthorization) {
    auto coordinator = PasskeyAuthorizationCoordinator::create();
    platform::PasskeyAuthorizationDelegate* delegate = nullptr;
    std::optional<PasskeyAuthorization> received;
    int resumed = 0;
    const std::function<void()> perform = [&delegate, c = coordinator.get()] { delegate = c; };
    const auto waiting = awaitInto(coordinator, perform, &received, &resumed);
    ASSERT_EQ(delegate, coordinator.get());
    EXPECT_TRUE(coordinator->isRunning());

    delegate->didCompleteWithAuthorization(kAuthorization);
    EXPECT_EQ(received, kAuthorization);
    EXPECT_FALSE(coordinator->isRunning());
    delegate->didCompleteWithError(std::make_exception_ptr(std::runtime_error("late")));
    delegate->didCompleteWithAuthorization(kAuthorization);
    EXPECT_EQ(resumed, 1);
}

TEST(PasskeyAuthorizationCoordinator, HandsTheErrorToTheCallerAlsoWhenTheRequestEndsAtOnce) {
    auto coordinator = PasskeyAuthorizationCoordinator::create();
    const std::function<void()> refuse = [c = coordinator.get()] {
        c->didCompleteWithError(std::make_exception_ptr(std::runtime_error("abgelehnt")));
    };
    EXPECT_THROW(test::await(PasskeyAuthorizationCoordinator::authorize(coordinator, refuse)),
                 std::runtime_error);
    EXPECT_FALSE(coordinator->isRunning());
}

// The platform holds its delegate weakly: while a request runs the
// coordinator's only owner is its own reference, which completion drops.
TEST(PasskeyAuthorizationCoordinator, LivesThroughItsRequestAndGoesAfterIt) {
    std::weak_ptr<PasskeyAuthorizationCoordinator> weak;
    platform::PasskeyAuthorizationDelegate* delegate = nullptr;
    int calls = 0;
    {
        auto coordinator = PasskeyAuthorizationCoordinator::create();
        weak = coordinator;
        delegate = coordinator.get();
        coordinator->begin([&](PasskeyAuthorizationCoordinator::Result) { ++calls; });
    }
    ASSERT_FALSE(weak.expired());
    delegate->didCompleteWithAuthorization(kAuthorization);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(weak.expired());
}

TEST(PasskeyAuthorizationCoordinator, CompletionWithoutCallerOnlyLetsGo) {
    auto coordinator = PasskeyAuthorizationCoordinator::create();
    std::weak_ptr<PasskeyAuthorizationCoordinator> weak = coordinator;
    coordinator->didCompleteWithAuthorization(kAuthorization);
    EXPECT_FALSE(coordinator->isRunning());
    coordinator.reset();
    EXPECT_TRUE(weak.expired());
}

TEST(PasskeyAuthorizationCoordinator, ACallerMayStartTheNextRequestWhenResumed) {
    auto coordinator = PasskeyAuthorizationCoordinator::create();
    int calls = 0;
    coordinator->begin([&](PasskeyAuthorizationCoordinator::Result) {
        ++calls;
        coordinator->begin([&](PasskeyAuthorizationCoordinator::Result) { ++calls; });
    });
    coordinator->didCompleteWithAuthorization(kAuthorization);
    EXPECT_TRUE(coordinator->isRunning());
    coordinator->didCompleteWithAuthorization(kAuthorization);
    EXPECT_EQ(calls, 2);
}

TEST(PasskeyAuthorizationCoordinator, AnchorIsTheFirstWindowThatExists) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(QApplication::topLevelWidgets().isEmpty());
    {
        auto coordinator = PasskeyAuthorizationCoordinator::create();
        QWidget* own = coordinator->presentationAnchor(); // no window at all
        ASSERT_NE(own, nullptr);
        EXPECT_TRUE(own->isWindow());
        EXPECT_FALSE(own->isVisible());
        EXPECT_EQ(coordinator->presentationAnchor(), own);
    }
    auto coordinator = PasskeyAuthorizationCoordinator::create();
    QWidget hidden;
    EXPECT_EQ(coordinator->presentationAnchor(), &hidden);

    QWidget shown;
    shown.show();
    QTest::qWait(20);
    QApplication::setActiveWindow(nullptr);
    EXPECT_EQ(coordinator->presentationAnchor(), &shown);

    QWidget popover;
    auto withMain = PasskeyAuthorizationCoordinator::create(&popover);
    EXPECT_EQ(withMain->presentationAnchor(), &popover);

    QWidget active;
    active.show();
    active.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&active));
    EXPECT_EQ(withMain->presentationAnchor(), &active);
}

} // namespace
