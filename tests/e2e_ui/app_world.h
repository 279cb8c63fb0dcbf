#pragma once

#include "app/app_delegate.h"
#include "dev_service.h"
#include "support/fakes.h"
#include "support/fake_status_notifier_watcher.h"
#include "support/keychain_scope.h"
#include "support/private_bus.h"
#include "support/temp_user_defaults.h"

#include <QAbstractButton>
#include <QJsonObject>
#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

// Failures show texts as the user reads them.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace orvane {
class ActiveSessionCard;
class LoginView;
class RecentRow;
class TodayCard;
} // namespace orvane

namespace orvane::e2e {

using namespace std::chrono_literals;

inline const QString kDemoEmail = QStringLiteral("demo@orvane.test");
inline const QString kTwoFactorEmail = QStringLiteral("zweifaktor@orvane.test");
inline const QString kNotReadyEmail = QStringLiteral("avv@orvane.test");
inline const QString kPassword = QStringLiteral("orvane-demo");
// A Wednesday, 14:00 in Berlin: an 8-hour day of the demo user, after the
// demo data's entry of 07:30 to 08:45 today.
inline const QDateTime kStart(QDate(2026, 3, 4), QTime(13, 0), Qt::UTC);

// One step of a road: a failure inside names the step. False once the road
// cannot go on.
bool step(const std::string& name, const std::function<void()>& body);

// The application as main() builds it, against the stand-in in-process: the
// delegate with its panel item on a bus of the test's own (a fake watcher
// stands in for the panel), its popover and root view. A manual clock both
// sides read, own user defaults, record store and an in-memory keyring that
// outlive a quit, so that a second launch finds what the first one left.
class AppWorld {
public:
    AppWorld();
    ~AppWorld();
    AppWorld(const AppWorld&) = delete;
    AppWorld& operator=(const AppWorld&) = delete;

    // ---- The process ----
    void launch();
    // Tears the application down as a quit does, whatever is under way.
    void quit();
    AppDelegate& app() { return *delegate_; }
    dev::DevService& service() { return service_; }
    // Moves the clock of both sides on.
    void advance(std::chrono::milliseconds by);
    // Until every request has its answer, the service heard nothing for a
    // while and no refresh of the store runs. Fails the case (and returns
    // false) when the talking never ends.
    bool settle();

    // ---- What the user does ----
    // Activate on the panel item, over D-Bus, as a click on it in the panel.
    void clickPanelItem();
    // A click on the pill window (where no panel shows the item).
    void clickPill();
    // Opens the popover unless it is open.
    void openPopover();
    void click(QWidget* widget);
    // Clicks into the field and types.
    void type(QLineEdit* field, const QString& text);
    // A key press where the keyboard focus is, in the popover.
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Signs in through the sign-in view with e-mail and password and waits
    // for the signed-in popover with its figures loaded.
    void signInThroughView(const QString& email);
    // The play button of a recent task.
    void playRecent(const QString& task);
    // Starts a recent task while nothing runs and waits for its card.
    void startRecent(const QString& task);

    // ---- What the user sees ----
    // The label beside the icon in the panel, as the panel reads it.
    QString panelLabel();
    // Whether the label comes to show `text`.
    bool labelShows(const QString& text);
    bool popoverShown();
    PopoverRootView& root() { return *delegate_->root(); }
    // The root's overlay panel of this type, shown; none otherwise.
    template <class T> T* panel() {
        if (!delegate_ || !root().overlayPanel() || !root().overlayPanel()->isVisible())
            return nullptr;
        return qobject_cast<T*>(root().overlayPanel());
    }
    LoginView* loginView();
    TodayCard* todayCard();
    ActiveSessionCard* sessionCard();
    // The task the session card shows; empty without a card.
    QString cardTask();
    std::vector<RecentRow*> recentRows();
    RecentRow* recentRow(const QString& task);
    // A shown button of the popover by the name a screen reader says.
    QAbstractButton* button(const QString& accessibleName);
    // A shown widget of the popover by its object name.
    template <class T = QWidget> T* named(const char* name) {
        if (!delegate_)
            return nullptr;
        for (T* w : delegate_->popover()->findChildren<T*>(QString::fromLatin1(name)))
            if (w->isVisible())
                return w;
        return nullptr;
    }

    // The keyring the app finds, kept across a quit.
    platform::InMemoryKeychain& keychain() { return *keychain_; }
    // The panel's watcher (whether a panel shows its items).
    test::FakeStatusNotifierWatcher& watcher() { return *watcher_; }

    // ---- On the service, past the app ----
    // A request with the token the app holds: (status, body).
    std::pair<int, QJsonObject> call(const std::string& path);
    // The job times running on the service for the signed-in user.
    std::vector<QJsonObject> runningOnService();

private:
    test::ClockScope clock_;
    std::atomic<qint64> nowMs_; // the clock as the service's threads read it
    test::TempUserDefaults defaults_;
    test::KeychainScope keychain_;
    test::FakeBiometrics biometrics_;
    test::FakeHaptics haptics_;
    test::FakeUrlOpener urls_;
    QTemporaryDir data_;
    dev::DevService service_;
    test::PrivateBus bus_;
    std::optional<test::FakeStatusNotifierWatcher> watcher_;
    QDBusConnection panel_{QString()};
    std::optional<AppDelegate> delegate_;
};

} // namespace orvane::e2e
