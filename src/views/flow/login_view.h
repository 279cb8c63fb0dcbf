#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QScrollArea;

namespace orvane {

class AppStore;
class CustomToggle;
class TextBlock;

// The sign-in view's decisions, without pixels.
namespace login {

enum class Step { Credentials, TwoFactor };
enum class Field { Email, Password, TwoFA };

// The code step shows while the service waits for the code of this e-mail.
Step stepFor(const std::optional<QString>& twoFactorPendingEmail);

// What the user typed; the texts are taken as they are, never trimmed.
struct Form {
    QString email;
    QString password;
    QString twoFACode;

    // Credentials: an "@" in the e-mail and a password of more than three
    // characters. Code: six digits "0"–"9" once blanks around are gone.
    bool canSubmit(Step step) const;
    // The code as the store takes it: none while the field is empty.
    std::optional<QString> codeArgument() const;
};

// The code field keeps the digits "0"–"9" only (no other script's digits),
// the first six of them.
QString filterCode(const QString& text);
// Where the cursor goes when the filter rewrote `text`: after the digits that
// stood before it.
int filteredCursor(const QString& text, int cursor);

// The biometric button shows for a stored credential on a machine that can
// check biometrics, while the silent sign-in (login enabled) does not run.
bool showsBiometricButton(bool canEvaluateBiometrics, bool keychainPopulated,
                          bool biometricLoginEnabled);
// The automatic biometric sign-in runs again whenever this changes: "1_0".
QString autoBiometricKey(bool biometricLoginEnabled, bool keychainPopulated);

QString title(Step step);
QString subtitle(Step step);
QString biometricButtonText(const QString& biometryName);

QColor dimColor();  // primary text at 0.58
QColor softColor(); // primary text at 0.78

} // namespace login

// The popover's content while nobody is signed in: e-mail and password, the
// six-digit code when the account asks for it, "stay signed in", and the
// biometric road where the machine has one. It signs in only through the
// store and shows the store's error line. Dark look only.
class LoginView : public QWidget {
    Q_OBJECT
public:
    using Sleep = std::function<QCoro::Task<void>(std::chrono::milliseconds)>;

    explicit LoginView(AppStore& store, QWidget* parent = nullptr);
    ~LoginView() override;

    login::Step step() const;
    login::Form form() const;
    bool canSubmit() const { return form().canSubmit(step()); }
    bool showsBiometricButton() const;
    // True from a tap of the primary button until the store's sign-in it
    // started has ended, or the user left its code step; further taps
    // meanwhile do nothing.
    bool signInInFlight() const { return signInInFlight_; }

    // The waits of the automatic biometric sign-in (tests run them on a
    // manual clock).
    void setSleep(Sleep sleep) { sleep_ = std::move(sleep); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void build();
    QWidget* buildCredentialsCard();
    QWidget* buildTwoFactorCard();
    void storeChanged(int property);
    void refresh();
    void submit();
    QCoro::Task<void> runSignIn(QString email, QString password, std::optional<QString> code);
    void biometricSignIn();
    void backToCredentials();
    void toggleRememberMe();
    void togglePasswordShown();
    void applyCodeFilter();
    void focusField(login::Field field);
    void restartAutoBiometricSignIn();
    QCoro::Task<void> runAutoBiometricSignIn(quint64 run);

    AppStore& store_;
    Sleep sleep_;

    QScrollArea* scroll_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* subtitle_ = nullptr;
    QWidget* credentialsCard_ = nullptr;
    QWidget* twoFactorCard_ = nullptr;
    QLineEdit* email_ = nullptr;
    QLineEdit* password_ = nullptr;
    QAbstractButton* eye_ = nullptr;
    QAbstractButton* rememberRow_ = nullptr;
    CustomToggle* rememberToggle_ = nullptr;
    TextBlock* credentialsError_ = nullptr;
    QAbstractButton* signInButton_ = nullptr;
    QWidget* biometricSlot_ = nullptr;
    QAbstractButton* biometricButton_ = nullptr;
    TextBlock* pendingEmail_ = nullptr;
    QLineEdit* code_ = nullptr;
    TextBlock* codeError_ = nullptr;
    QAbstractButton* confirmButton_ = nullptr;
    QAbstractButton* back_ = nullptr;

    bool signInInFlight_ = false;
    quint64 signInRun_ = 0; // the sign-in whose end clears the flag
    login::Step shownStep_ = login::Step::Credentials;
    std::optional<QString> announcedError_;
    quint64 autoRun_ = 0; // the automatic sign-in instance allowed to go on
    std::optional<QString> autoKey_;
};

} // namespace orvane
