#include "views/flow/login_view.h"

#include "store/biometric_credential_store.h"
#include "support/announced.h"
#include "support/await.h"
#include "support/paint_log.h"
#include "support/store_world.h"
#include "views/kit/custom_toggle.h"
#include "views/kit/palette.h"
#include "views/kit/text_block.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

#include <QCoroTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace orvane;
using namespace std::chrono_literals;
using platform::HapticPattern;
using test::FakeResponse;
using test::RecordedRequest;

namespace {

const std::string kLogin = "/api/auth/login";
const std::string kSignedIn = R"({"token":"tok-1","user":{"id":1,"email":"a@b.de"}})";

// The texts of the text changes assistive technology was told of. Put in
// place before anything of ours, this stands where the platform's bridge
// stands: it hears what our own handler passes on.
QStringList& toldTexts() {
    static QStringList told;
    return told;
}
void hearUpdate(QAccessibleEvent* event) {
    if (event->type() == QAccessible::TextInserted)
        toldTexts() << static_cast<QAccessibleTextInsertEvent*>(event)->textInserted();
    else if (event->type() == QAccessible::TextRemoved)
        toldTexts() << static_cast<QAccessibleTextRemoveEvent*>(event)->textRemoved();
    else if (event->type() == QAccessible::TextUpdated)
        toldTexts() << static_cast<QAccessibleTextUpdateEvent*>(event)->textRemoved()
                    << static_cast<QAccessibleTextUpdateEvent*>(event)->textInserted();
}
[[maybe_unused]] const auto kBridge = QAccessible::installUpdateHandler(hearUpdate);

// Sleeps that end once the manual clock has moved far enough.
struct ManualSleeps {
    test::ClockScope clock;
    int pending = 0;

    ~ManualSleeps() {
        clock.advance(3'600'000);
        test::eventuallyTrue([this] { return pending == 0; });
    }
    LoginView::Sleep sleep() {
        return [this](std::chrono::milliseconds ms) { return wait(ms); };
    }
    QCoro::Task<void> wait(std::chrono::milliseconds ms) {
        ++pending;
        const qint64 due = clock.monotonicMs() + ms.count();
        while (clock.monotonicMs() < due)
            co_await QCoro::sleepFor(1ms);
        --pending;
    }
    void advanceTo(qint64 msSinceShown, qint64 shownAt) {
        while (clock.monotonicMs() - shownAt < msSinceShown) {
            clock.advance(50);
            test::spin(15ms);
        }
    }
};

struct LoginWorld : test::StoreWorld {
    ManualSleeps sleeps;
    std::unique_ptr<LoginView> view;

    LoginWorld() { biometrics.available = false; } // as on this desktop

    LoginView& show() {
        view = std::make_unique<LoginView>(store());
        view->setSleep(sleeps.sleep());
        view->show();
        view->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(view.get()));
        return *view;
    }
    template <class T = QWidget> T* child(const char* name) {
        auto* found = view->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QLineEdit* field(const char* name) { return child<QLineEdit>(name); }
    QAbstractButton* button(const char* name) { return child<QAbstractButton>(name); }
    void type(const char* name, const QString& text) { QTest::keyClicks(field(name), text); }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    std::size_t loginRequests() const { return service.requestsTo("POST", kLogin).size(); }
    QString announced() const { return test::announced(view.get()); }
    void hideAndShow() {
        view->hide();
        view->show();
    }

    // A user who signed in once with biometric sign-in switched on.
    void storeBiometricSignIn(bool enabled) {
        biometrics.available = true;
        BiometricCredentialStore::store(QStringLiteral("a@b.de"), QStringLiteral("geheim"),
                                        QStringLiteral("tok-1"));
        store().setBiometricLoginEnabled(enabled);
        store().syncBiometricKeychainFlag();
    }
};

TEST(LoginRules, CanSubmitByStep) {
    using login::Step;
    const struct {
        Step step;
        const char16_t* email;
        const char16_t* password;
        const char16_t* code;
        bool expected;
    } cases[] = {
        {Step::Credentials, u"a@b", u"abcd", u"", true},
        {Step::Credentials, u"a@b", u"abc", u"", false},
        {Step::Credentials, u"ab.de", u"abcdef", u"", false},
        {Step::Credentials, u"@", u"    ", u"", true},   // neither is trimmed
        {Step::Credentials, u"a@b", u"😀😀😀", u"", false}, // characters, not code units
        {Step::TwoFactor, u"", u"", u"123456", true},
        {Step::TwoFactor, u"", u"", u" 123456\n", true},
        {Step::TwoFactor, u"", u"", u"12345", false},
        {Step::TwoFactor, u"", u"", u"1234567", false},
        {Step::TwoFactor, u"", u"", u"12 456", false},
        {Step::TwoFactor, u"", u"", u"١٢٣٤٥٦", false},
        {Step::TwoFactor, u"a@b", u"abcd", u"", false},
    };
    for (const auto& c : cases) {
        const login::Form form{QString::fromUtf16(c.email), QString::fromUtf16(c.password),
                               QString::fromUtf16(c.code)};
        EXPECT_EQ(form.canSubmit(c.step), c.expected)
            << form.email.toStdString() << " / " << form.password.toStdString() << " / "
            << form.twoFACode.toStdString();
    }
}

TEST(LoginRules, CodeFilterKeepsTheFirstSixAsciiDigits) {
    const struct {
        const char16_t* typed;
        int cursor;
        const char16_t* kept;
        int keptCursor;
    } cases[] = {
        {u"1 2 3 4 5 6", 11, u"123456", 6}, {u"1234567", 7, u"123456", 6},
        {u"12a34b", 3, u"1234", 2},         {u"abc", 2, u"", 0},
        {u"12٣4５6", 6, u"1246", 4},        {u"123456", 6, u"123456", 6},
        {u"9123456", 1, u"912345", 1},
    };
    for (const auto& c : cases) {
        const QString typed = QString::fromUtf16(c.typed);
        EXPECT_EQ(login::filterCode(typed), QString::fromUtf16(c.kept)) << typed.toStdString();
        EXPECT_EQ(login::filteredCursor(typed, c.cursor), c.keptCursor) << typed.toStdString();
    }
}

TEST(LoginRules, BiometricButtonNeedsAllThreeAndTheTaskKeyNamesBothFlags) {
    for (int bits = 0; bits < 8; ++bits) {
        const bool can = bits & 1, stored = bits & 2, enabled = bits & 4;
        EXPECT_EQ(login::showsBiometricButton(can, stored, enabled), can && stored && !enabled)
            << bits;
    }
    EXPECT_EQ(login::autoBiometricKey(true, false), QStringLiteral("1_0"));
    EXPECT_EQ(login::autoBiometricKey(false, true), QStringLiteral("0_1"));
}

TEST(LoginView, BackgroundShowsBothGlowsThroughTheScrollingColumn) {
    LoginWorld w;
    LoginView& view = w.show();
    view.resize(400, 560);
    test::spin(5ms);
    const QImage picture = view.grab().toImage();
    const QColor top = picture.pixelColor(200, 6);      // under the violet glow's centre
    const QColor corner = picture.pixelColor(396, 556); // at the pink glow's centre
    const QColor plain(15, 16, 24);                     // what a filled column would paint
    EXPECT_NE(top, plain);
    EXPECT_GT(top.blue(), top.red() + 15) << "violet over the deep ground";
    EXPECT_GT(top.blue(), 45);
    EXPECT_NE(corner, plain);
    EXPECT_GT(corner.red(), corner.green() + 12) << "pink over the deep ground";
}

TEST(LoginView, TypingEnablesSignInAndReturnSendsNothing) {
    LoginWorld w;
    w.show();
    EXPECT_FALSE(w.button("signIn")->isEnabled());
    w.type("email", QStringLiteral("a@b.de"));
    w.type("password", QStringLiteral("abc"));
    EXPECT_FALSE(w.button("signIn")->isEnabled());
    w.type("password", QStringLiteral("d"));
    EXPECT_TRUE(w.button("signIn")->isEnabled());

    // Only the buttons sign in.
    QTest::keyClick(w.field("password"), Qt::Key_Return);
    QTest::keyClick(w.field("email"), Qt::Key_Enter);
    test::spin(100ms);
    EXPECT_EQ(w.service.requestCount(), 0u);
    EXPECT_FALSE(w.view->signInInFlight());
}

TEST(LoginView, TheEMailFieldTakesTheFocusAsTheFormShows) {
    LoginWorld w;
    w.show();
    EXPECT_TRUE(w.field("email")->hasFocus());
    QTest::mouseClick(w.field("email"), Qt::LeftButton);
    EXPECT_TRUE(w.field("email")->hasFocus());
    QTest::keyClick(w.field("email"), Qt::Key_Tab);
    EXPECT_TRUE(w.field("password")->hasFocus());
}

TEST(LoginView, CodeStepTakesTheFocusAndBackClearsExactlyItsState) {
    LoginWorld w;
    w.show();
    w.type("email", QStringLiteral("a@b.de"));
    w.type("password", QStringLiteral("geheim"));
    w.store().setTwoFactorPendingEmail(QStringLiteral("a@b.de"));
    w.store().setTwoFactorPendingPassword(QStringLiteral("geheim"));
    EXPECT_EQ(w.child<QLabel>("title")->text(), QStringLiteral("Zwei-Faktor-Authentifizierung"));
    EXPECT_EQ(w.child<TextBlock>("pendingEmail")->text(), QStringLiteral("a@b.de"));
    EXPECT_TRUE(w.field("code")->hasFocus());
    EXPECT_TRUE(w.announced().startsWith("Zwei-Faktor-Authentifizierung Dein Passwort"));

    w.type("code", QStringLiteral("12"));
    // A refusal long enough to push the column past the popover's height.
    w.store().setLoginError(
        QStringLiteral("HTTP 422: Der Bestätigungscode ist ungültig. Bitte versuche es erneut."));
    test::untilDrawn();
    w.click("back");
    test::untilDrawn();
    // Nothing of the code step stays on screen: it shows what a fresh drawing shows.
    const auto pixels = [](const QImage& i) { return i.convertToFormat(QImage::Format_RGB32); };
    EXPECT_TRUE(pixels(w.view->screen()->grabWindow(w.view->winId()).toImage()) ==
                pixels(w.view->grab().toImage()));
    EXPECT_EQ(w.field("code")->text(), QString());
    EXPECT_EQ(w.store().twoFactorPendingEmail(), std::nullopt);
    EXPECT_EQ(w.store().twoFactorPendingPassword(), std::nullopt);
    EXPECT_EQ(w.store().loginError(), std::nullopt);
    EXPECT_EQ(w.field("email")->text(), QStringLiteral("a@b.de"));
    EXPECT_EQ(w.field("password")->text(), QStringLiteral("geheim"));
    EXPECT_TRUE(w.field("email")->hasFocus());
    EXPECT_EQ(w.child<QLabel>("title")->text(), QStringLiteral("Willkommen zurück."));
    EXPECT_EQ(w.haptics.played, std::vector{HapticPattern::Generic});
}

TEST(LoginView, CodeFieldKeepsDigitsAsTheyAreTyped) {
    LoginWorld w;
    w.show();
    w.store().setTwoFactorPendingEmail(QStringLiteral("a@b.de"));
    QLineEdit* code = w.field("code");
    w.type("code", QStringLiteral("12 a"));
    for (const char16_t* otherDigit : {u"٣", u"５"}) // Arabic-Indic, full-width
        QTest::sendKeyEvent(QTest::Click, code, Qt::Key_unknown, QString::fromUtf16(otherDigit),
                            Qt::NoModifier);
    w.type("code", QStringLiteral("45"));
    EXPECT_EQ(code->text(), QStringLiteral("1245"));
    code->setCursorPosition(2);
    w.type("code", QStringLiteral("x"));
    EXPECT_EQ(code->text(), QStringLiteral("1245"));
    EXPECT_EQ(code->cursorPosition(), 2);
    w.type("code", QStringLiteral("9 87"));
    EXPECT_EQ(code->text(), QStringLiteral("129874")); // of seven digits the last goes
    EXPECT_TRUE(w.button("confirmCode")->isEnabled());
}

TEST(LoginView, RememberMeRowTogglesAlsoWhenTheClickLandsOnTheSwitch) {
    LoginWorld w;
    w.show();
    auto* row = w.button("rememberMe");
    auto* toggle = row->findChild<CustomToggle*>();
    ASSERT_NE(toggle, nullptr);
    const QPoint onSwitch = toggle->geometry().center();
    const QPoint onText(row->width() / 2, row->height() / 2);
    bool expected = w.store().rememberMe();
    for (const QPoint at : {onSwitch, onText, onSwitch}) {
        QTest::mouseClick(row, Qt::LeftButton, {}, at);
        expected = !expected;
        EXPECT_EQ(w.store().rememberMe(), expected);
        EXPECT_EQ(w.defaults->object(QStringLiteral("orvane_remember_me")), QJsonValue(expected));
        EXPECT_EQ(toggle->isOn(), expected);
    }
    EXPECT_EQ(w.haptics.played, std::vector(3, HapticPattern::Generic));
}

TEST(LoginView, EyeShowsThePasswordKeepingTextAndCursorAndTheSecureFieldCopiesNothing) {
    LoginWorld w;
    w.show();
    QLineEdit* password = w.field("password");
    // As while a screen reader listens: Qt tells changes only then.
    QPlatformAccessibility* bridge = QGuiApplicationPrivate::platformIntegration()->accessibility();
    bridge->setActive(true);
    const auto quiet = qScopeGuard([bridge] { bridge->setActive(false); });
    toldTexts().clear();
    w.type("password", QStringLiteral("geheim"));
    QTest::keyClick(password, Qt::Key_Backspace);
    password->setText(QStringLiteral("geheimer"));
    EXPECT_EQ(toldTexts().join(QString()).toStdString(), std::string(6 + 1 + 5 + 8, '*'))
        << "each change told, and not a clear character of it";
    QApplication::clipboard()->setText(QStringLiteral("vorher"));
    for (const Qt::Key key : {Qt::Key_C, Qt::Key_X}) {
        password->selectAll();
        QTest::keyClick(password, key, Qt::ControlModifier);
        EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("vorher"));
    }
    password->setText(QStringLiteral("geheim"));
    password->setCursorPosition(3);
    QAccessibleInterface* seen = QAccessible::queryAccessibleInterface(password);
    const auto secret = [&] {
        return seen->textInterface()->text(0, -1) == "******" &&
               seen->text(QAccessible::Value) == "******" && seen->state().passwordEdit;
    };
    EXPECT_TRUE(secret());
    w.click("passwordEye");
    EXPECT_TRUE(secret()) << "shown on screen, still secret to assistive technology";
    EXPECT_EQ(w.announced(), QStringLiteral("Passwort verbergen"));
    EXPECT_EQ(password->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(password->text(), QStringLiteral("geheim"));
    EXPECT_EQ(password->cursorPosition(), 3);
    EXPECT_EQ(w.button("passwordEye")->accessibleName(), QStringLiteral("Passwort verbergen"));
    w.click("passwordEye");
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(w.button("passwordEye")->accessibleName(), QStringLiteral("Passwort anzeigen"));
    EXPECT_EQ(w.haptics.played, std::vector(2, HapticPattern::Generic));
}

TEST(LoginView, ErrorShowsInRoseAsPlainTextUnderTheCurrentStepsInputs) {
    LoginWorld w;
    w.show();
    const QString hostile = QStringLiteral("<b>Fehler</b> ") + QString(400, u'x');
    w.store().setLoginError(hostile);
    auto* error = w.child<TextBlock>("credentialsError");
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text(), hostile);
    EXPECT_EQ(error->color(), Palette::rose());
    EXPECT_GT(error->y(), w.button("rememberMe")->y());
    EXPECT_LT(error->y(), w.button("signIn")->y());
    EXPECT_LE(error->width(), w.view->width());

    w.store().setTwoFactorPendingEmail(QStringLiteral("a@b.de"));
    EXPECT_FALSE(error->isVisible());
    auto* codeError = w.child<TextBlock>("codeError");
    EXPECT_TRUE(codeError->isVisible());
    EXPECT_EQ(codeError->text(), hostile);
    EXPECT_GT(codeError->y(), w.field("code")->parentWidget()->y());
    EXPECT_LT(codeError->y(), w.button("confirmCode")->y());
}

// The service's message is cut to a length, not to a number of lines.
TEST(LoginView, AnErrorOfManyLinesLeavesTheButtonInSight) {
    const QString cases[] = {
        QStringLiteral("a\n").repeated(128),
        QStringLiteral("b\r\n").repeated(85),
        (QStringLiteral("c") + QChar(QChar::LineSeparator)).repeated(128),
        (QStringLiteral("d") + QChar(QChar::ParagraphSeparator)).repeated(128),
        QStringLiteral(R"(HTTP 422: {"errors":{"code":[")") + QString(270, u'e'),
    };
    for (const QString& text : cases) {
        SCOPED_TRACE(text.left(4).toStdString());
        LoginWorld w;
        w.show();
        w.view->resize(400, 560); // the popover's size
        for (const bool twoFactor : {false, true}) {
            w.store().setTwoFactorPendingEmail(
                twoFactor ? std::optional(QStringLiteral(
                                "vorname.nachname.buchhaltung@sehr-lange-firmendomain-beispiel.de"))
                          : std::nullopt);
            w.store().setLoginError(text);
            QApplication::processEvents();
            auto* error = w.child<TextBlock>(twoFactor ? "codeError" : "credentialsError");
            QAbstractButton* button = w.button(twoFactor ? "confirmCode" : "signIn");
            ASSERT_TRUE(error && button);
            EXPECT_TRUE(error->isVisible());
            EXPECT_LE(error->height(),
                      std::ceil(8 * QFontMetricsF(error->textFont()).lineSpacing()));
            EXPECT_LE(error->mapTo(w.view.get(), QPoint(error->width(), 0)).x(), 380)
                << "the column keeps its margins";
            EXPECT_FALSE(error->shownText().contains(u'…')) << "shown whole";
            EXPECT_LE(button->mapTo(w.view.get(), QPoint(0, button->height())).y(), 560)
                << "the button shows without scrolling";
        }
    }
}

TEST(LoginView, SignsInThroughTheCodeStepWithoutLoggingSecrets) {
    LoginWorld w;
    w.service.on("POST", kLogin, [](const RecordedRequest& r) {
        const QJsonObject body = r.json().object();
        if (!body.contains("code"))
            return FakeResponse::json(422, R"({"two_factor_required":true})");
        return FakeResponse::json(200, kSignedIn);
    });
    static QStringList messages;
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { messages << text; });
    w.show();
    w.type("email", QStringLiteral("a@b.de"));
    w.type("password", QStringLiteral("pw-Geheim-7"));
    w.click("signIn");
    ASSERT_TRUE(
        test::eventuallyTrue([&] { return w.store().twoFactorPendingEmail().has_value(); }));
    EXPECT_TRUE(w.field("code")->hasFocus());
    EXPECT_FALSE(w.store().loginError());

    w.type("code", QStringLiteral("654321"));
    w.click("confirmCode");
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.store().isLoggedIn(); }));
    qInstallMessageHandler(previous);
    EXPECT_EQ(w.service.requestsTo("POST", kLogin).back().json().object().value("code"),
              QJsonValue(QStringLiteral("654321")));
    EXPECT_EQ(w.field("code")->text(), QString());
    EXPECT_EQ(w.haptics.played.front(), HapticPattern::LevelChange);
    for (const QString& message : messages) {
        EXPECT_FALSE(message.contains(QStringLiteral("pw-Geheim-7"))) << message.toStdString();
        EXPECT_FALSE(message.contains(QStringLiteral("654321"))) << message.toStdString();
    }
}

TEST(LoginView, RefusedPasswordShowsTheStoresTextAndKeepsTheInputs) {
    LoginWorld w;
    w.service.on("POST", kLogin,
                 FakeResponse::json(
                     422, R"({"message":"Diese Zugangsdaten sind uns nicht bekannt.",)"
                          R"("errors":{"email":["Diese Zugangsdaten sind uns nicht bekannt."]}})"));
    w.show();
    w.type("email", QStringLiteral("a@b.de"));
    w.type("password", QStringLiteral("falsch"));
    w.click("signIn");
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.store().loginError().has_value(); }));
    auto* error = w.child<TextBlock>("credentialsError");
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text(), *w.store().loginError());
    EXPECT_TRUE(
        error->text().contains(QStringLiteral("Diese Zugangsdaten sind uns nicht bekannt.")));
    EXPECT_EQ(w.field("email")->text(), QStringLiteral("a@b.de"));
    EXPECT_EQ(w.field("password")->text(), QStringLiteral("falsch"));
    EXPECT_FALSE(w.store().isLoggedIn());
    EXPECT_EQ(w.announced(), error->text());
    w.hideAndShow();
    EXPECT_EQ(w.announced(), QString()) << "an opening says no old news";
}

TEST(LoginView, TapsWhileItsSignInRunsStartNoSecondOne) {
    LoginWorld w;
    FakeResponse slowRefusal = FakeResponse::json(422, R"({"message":"Nein."})");
    slowRefusal.delay = 300ms;
    w.service.on("POST", kLogin, slowRefusal);
    w.show();
    w.type("email", QStringLiteral("a@b.de"));
    w.type("password", QStringLiteral("geheim"));
    for (int i = 0; i < 3; ++i)
        w.click("signIn");
    EXPECT_TRUE(w.view->signInInFlight());
    EXPECT_TRUE(w.button("signIn")->isEnabled());
    ASSERT_TRUE(test::eventuallyTrue([&] { return !w.view->signInInFlight(); }));
    EXPECT_EQ(w.loginRequests(), 1u);
    EXPECT_EQ(w.haptics.played, std::vector{HapticPattern::LevelChange});

    w.click("signIn");
    ASSERT_TRUE(test::eventuallyTrue([&] { return !w.view->signInInFlight(); }));
    EXPECT_EQ(w.loginRequests(), 2u);
}

TEST(LoginView, BackWhileTheCodeIsCheckedFreesTheFirstStepAtOnce) {
    LoginWorld w;
    FakeResponse lateRefusal = FakeResponse::json(422, R"({"message":"Code falsch."})");
    lateRefusal.delay = 400ms;
    w.service.on("POST", kLogin, [lateRefusal](const RecordedRequest& r) {
        return r.json().object().contains("code")
                   ? lateRefusal
                   : FakeResponse::json(422, R"({"two_factor_required":true})");
    });
    w.show();
    w.type("email", QStringLiteral("a@b.de"));
    w.type("password", QStringLiteral("geheim"));
    w.click("signIn");
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.view->step() == login::Step::TwoFactor; }));
    ASSERT_TRUE(test::eventuallyTrue([&] { return !w.view->signInInFlight(); }));

    w.type("code", QStringLiteral("123456"));
    w.click("confirmCode");
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.loginRequests() == 2u; }));
    w.click("back");
    EXPECT_FALSE(w.view->signInInFlight());
    w.click("signIn");
    EXPECT_TRUE(test::eventuallyTrue([&] { return w.loginRequests() == 3u; }));
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.view->step() == login::Step::TwoFactor; }));

    // The late refusal of the code left behind neither shows nor reopens anything.
    test::spin(600ms);
    EXPECT_EQ(w.store().loginError(), std::nullopt);
    EXPECT_FALSE(w.child<TextBlock>("codeError")->isVisible());
    EXPECT_FALSE(w.view->signInInFlight());
    EXPECT_EQ(w.loginRequests(), 3u);
}

TEST(LoginView, AHeldReturnKeyPressesEachButtonOnce) {
    const struct {
        const char* button;
        bool codeStep;
    } cases[] = {{"signIn", false}, {"confirmCode", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        LoginWorld w;
        // Refused at once: every repeat of the key would find the button free.
        w.service.on("POST", kLogin, FakeResponse::json(422, R"({"message":"Nein."})"));
        w.show();
        w.type("email", QStringLiteral("a@b.de"));
        w.type("password", QStringLiteral("geheim"));
        if (c.codeStep) {
            w.store().setTwoFactorPendingEmail(QStringLiteral("a@b.de"));
            w.store().setTwoFactorPendingPassword(QStringLiteral("geheim"));
            w.type("code", QStringLiteral("123456"));
        }
        QAbstractButton* button = w.button(c.button);
        button->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < 10; ++i) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), i > 0);
            QApplication::sendEvent(button, &press);
            test::eventuallyTrue([&] { return !w.view->signInInFlight(); });
        }
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(button, &release);
        test::spin(100ms);
        EXPECT_EQ(w.loginRequests(), 1u);
    }
}

TEST(LoginView, GoneBeforeItsSignInEndsTheSignInStillCompletes) {
    LoginWorld w;
    FakeResponse slow = FakeResponse::json(200, kSignedIn);
    slow.delay = 300ms;
    w.service.on("POST", kLogin, slow);
    w.show();
    w.type("email", QStringLiteral("a@b.de"));
    w.type("password", QStringLiteral("geheim"));
    w.click("signIn");
    w.view.reset();
    EXPECT_TRUE(test::eventuallyTrue([&] { return w.store().isLoggedIn(); }));
    test::spin(100ms);
}

TEST(LoginView, BiometricButtonOnlyWhereTheMachineCanCheck) {
    for (const bool available : {false, true}) {
        LoginWorld w;
        w.storeBiometricSignIn(false);
        w.biometrics.available = available;
        w.show();
        auto* button = w.button("biometric");
        EXPECT_EQ(button->isVisible(), available);
        if (!available)
            continue;
        EXPECT_EQ(button->text(), QStringLiteral("Mit Touch ID anmelden"));
        w.click("biometric");
        EXPECT_TRUE(test::eventuallyTrue([&] { return !w.biometrics.reasons.empty(); }));
        EXPECT_EQ(w.haptics.played.front(), HapticPattern::LevelChange);
    }
}

TEST(LoginView, AutomaticBiometricSignInWaitsForOtherSignInsFirst) {
    enum class Meanwhile { Nothing, SignedIn, CodeStep, Hidden, Gone, NoBiometrics, Disabled };
    const struct {
        const char* name;
        Meanwhile meanwhile;
        std::size_t prompts;
    } cases[] = {
        {"nothing", Meanwhile::Nothing, 1},
        {"signed in by other means", Meanwhile::SignedIn, 0},
        {"code step", Meanwhile::CodeStep, 0},
        {"hidden", Meanwhile::Hidden, 0},
        {"view gone", Meanwhile::Gone, 0},
        {"no biometrics (Linux)", Meanwhile::NoBiometrics, 0},
        {"biometric sign-in off", Meanwhile::Disabled, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoginWorld w;
        w.storeBiometricSignIn(c.meanwhile != Meanwhile::Disabled);
        w.biometrics.available = c.meanwhile != Meanwhile::NoBiometrics;
        w.show();
        const qint64 shownAt = w.sleeps.clock.monotonicMs();
        w.sleeps.advanceTo(1000, shownAt);
        switch (c.meanwhile) {
        case Meanwhile::SignedIn:
            w.store().setIsLoggedIn(true);
            break;
        case Meanwhile::CodeStep:
            w.store().setTwoFactorPendingEmail(QStringLiteral("a@b.de"));
            break;
        case Meanwhile::Hidden:
            w.view->hide();
            break;
        case Meanwhile::Gone:
            w.view.reset();
            break;
        default:
            break;
        }
        w.sleeps.advanceTo(1550, shownAt);
        EXPECT_TRUE(w.biometrics.reasons.empty()) << "not before 0.1 s + 30 × 0.05 s";
        w.sleeps.advanceTo(1700, shownAt);
        test::spin(50ms);
        EXPECT_EQ(w.biometrics.reasons.size(), c.prompts);
    }
}

TEST(LoginView, AutomaticBiometricSignInStartsAgainWhenItsFlagsChange) {
    LoginWorld w;
    w.biometrics.available = true;
    w.show();
    qint64 shownAt = w.sleeps.clock.monotonicMs();
    w.sleeps.advanceTo(2000, shownAt); // "0_0" stopped at once
    w.storeBiometricSignIn(true);      // "1_1"
    shownAt = w.sleeps.clock.monotonicMs();
    w.sleeps.advanceTo(1700, shownAt);
    EXPECT_TRUE(test::eventuallyTrue([&] { return w.biometrics.reasons.size() == 1; }));
}

} // namespace
