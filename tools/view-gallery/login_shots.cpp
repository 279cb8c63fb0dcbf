#include "gallery.h"

#include "platform/biometrics.h"
#include "platform/in_memory_keychain.h"
#include "platform/user_defaults.h"
#include "store/app_store.h"
#include "views/flow/login_view.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <functional>
#include <memory>

namespace orvane::gallery {

namespace {

// A machine that can check biometrics, for as long as its view lives.
class BiometricsForShot : public QObject, public platform::NoBiometrics {
public:
    explicit BiometricsForShot(QObject* parent) : QObject(parent) {
        platform::Biometrics::overrideShared(this);
    }
    ~BiometricsForShot() override { platform::Biometrics::overrideShared(nullptr); }
    bool canEvaluatePolicy() override { return true; }
    platform::BiometryType biometryType() override { return platform::BiometryType::None; }
};

// The view with a store of its own; the view goes before the store does.
class LoginShot : public QWidget {
public:
    explicit LoginShot(const std::function<void(AppStore&)>& prepare) {
        isolateFromUser();
        m_store = std::make_unique<AppStore>();
        prepare(*m_store);
        m_view = new LoginView(*m_store, this);
        setFixedHeight(560); // the popover's content area
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_view);
    }
    ~LoginShot() override { delete m_view; }

    LoginShot* typed(const char* field, const QString& text) {
        m_view->findChild<QLineEdit*>(QString::fromLatin1(field))->setText(text);
        return this;
    }
    LoginShot* credentials() {
        return typed("email", QStringLiteral("lena.hoffmann@orvane.test"))
            ->typed("password", QStringLiteral("orvane-demo"));
    }

private:
    std::unique_ptr<AppStore> m_store;
    LoginView* m_view;
};

void nothing(AppStore&) {}

// The scroll area settles its bar a few event-loop turns after the first show.
void settleLayout(QWidget*) {
    const QDeadlineTimer deadline(100);
    while (!deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

LoginShot* codeStep(const std::optional<QString>& error) {
    auto* shot = new LoginShot([&error](AppStore& store) {
        store.setTwoFactorPendingEmail(QStringLiteral("zweifaktor@orvane.test"));
        store.setTwoFactorPendingPassword(QStringLiteral("orvane-demo"));
        store.setLoginError(error);
    });
    return shot->typed("code", error ? QStringLiteral("123456") : QStringLiteral("1234"));
}

// The keyboard on one control, as Tab leaves it.
std::function<void(QWidget*)> focusOn(const char* name) {
    return [name](QWidget* shot) {
        shot->activateWindow();
        settleLayout(shot);
        shot->findChild<QWidget*>(QString::fromLatin1(name))->setFocus(Qt::TabFocusReason);
        settleLayout(shot);
    };
}

} // namespace

void addLoginShots(Gallery& g) {
    constexpr int kWidth = 400;
    g.add({.name = "login-empty",
           .make = [] { return new LoginShot(nothing); },
           .width = kWidth,
           .settle = settleLayout});
    g.add({.name = "login-filled",
           .make = [] { return (new LoginShot(nothing))->credentials(); },
           .width = kWidth,
           .settle = settleLayout});
    g.add({.name = "login-error",
           .make =
               [] {
                   auto* shot = new LoginShot([](AppStore& store) {
                       store.setLoginError(
                           QStringLiteral("Diese Zugangsdaten sind uns nicht bekannt."));
                   });
                   return shot->credentials();
               },
           .width = kWidth,
           .settle = settleLayout});
    g.add({.name = "login-error-unbroken",
           .make =
               [] {
                   auto* shot = new LoginShot([](AppStore& store) {
                       store.setLoginError(QStringLiteral(R"(HTTP 422: {"errors":{"code":[")") +
                                           QStringLiteral("abcdefghij").repeated(25) +
                                           QStringLiteral(R"("]}})"));
                   });
                   return shot->credentials();
               },
           .width = kWidth,
           .settle = settleLayout});
    g.add({.name = "login-busy",
           .make = [] { return (new LoginShot(nothing))->credentials(); },
           .width = kWidth,
           .settle =
               [](QWidget* shot) {
                   // Signing in shows nothing of its own: the view stays as it was.
                   shot->findChild<QAbstractButton*>(QStringLiteral("signIn"))->click();
                   settleLayout(shot);
               }});
    for (const char* control : {"signIn", "rememberMe", "passwordEye"})
        g.add({.name = QStringLiteral("login-focus-%1").arg(QLatin1String(control)),
               .make = [] { return (new LoginShot(nothing))->credentials(); },
               .width = kWidth,
               .settle = focusOn(control)});
    g.add({.name = "login-two-factor",
           .make = [] { return codeStep(std::nullopt); },
           .width = kWidth,
           .settle = settleLayout});
    g.add({.name = "login-two-factor-error",
           .make = [] { return codeStep(QStringLiteral("Der Bestätigungscode ist ungültig.")); },
           .width = kWidth,
           .settle = settleLayout});
    g.add({.name = "login-two-factor-long",
           .make =
               [] {
                   auto* shot = new LoginShot([](AppStore& store) {
                       store.setTwoFactorPendingEmail(QStringLiteral(
                           "vorname.nachname.buchhaltung@sehr-lange-firmendomain-beispiel.de"));
                       store.setLoginError(QStringLiteral("Der Bestätigungscode ist ungültig: ") +
                                           QString(200, u'x'));
                   });
                   return shot->typed("code", QStringLiteral("123456"));
               },
           .width = kWidth,
           .settle = settleLayout});
    g.add({.name = "login-biometric",
           .make =
               [] {
                   auto* shot = new LoginShot(
                       [](AppStore& store) { store.setBiometricKeychainPopulated(true); });
                   new BiometricsForShot(shot);
                   return shot;
               },
           .width = kWidth,
           .settle = settleLayout});
}

} // namespace orvane::gallery
