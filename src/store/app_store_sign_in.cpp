#include "store/app_store.h"

#include "store/error_text.h"

#include "platform/biometrics.h"
#include "platform/haptics.h"
#include "platform/keychain_thread.h"
#include "platform/user_defaults.h"
#include "service/token_storage.h"
#include "store/biometric_credential_store.h"
#include "store/preference_keys.h"

#include <QSysInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>

namespace orvane {

namespace {

platform::UserDefaults& defaults() {
    return platform::UserDefaults::standard();
}

bool isSixDigitCode(const QString& code) {
    return code.size() == 6 &&
           std::all_of(code.begin(), code.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// On the keyring's thread.
std::optional<QString> storedToken() {
    if (auto token = readAuthToken(authTokenQuery(true)))
        return token;
    return readAuthToken(authTokenQuery(false));
}

void writeRememberMe(bool value) {
    defaults().setBool(QLatin1String(PreferenceKeys::RememberMe), value);
}

} // namespace

QCoro::Task<QString> AppStore::hostName() {
    // The host-name lookup may wait on the resolver; keep it off the main thread.
    co_return co_await QtConcurrent::run([] { return QSysInfo::machineHostName(); });
}

void AppStore::playSignInHaptic() {
    platform::Haptics::shared().perform(platform::HapticPattern::Alignment);
}

QCoro::Task<void> AppStore::login(QString email, QString password, std::optional<QString> code) {
    setLoginError(std::nullopt);
    const QString useEmail = twoFactorPendingEmail_.value_or(email);
    const QString usePassword = twoFactorPendingPassword_.value_or(password);
    const bool wasCodeStep = twoFactorPendingEmail_.has_value();
    const quint64 codeStep = codeStepChanges_;
    const quint64 signOuts = signOutCount_;
    const Life life = this->life();
    // Once the user has left the code step (back to the first step, or a
    // sign-out), the check of its code ends without a word, whatever the
    // service says: the step it belongs to is gone.
    const auto codeStepLeft = [this, wasCodeStep, codeStep] {
        return wasCodeStep && codeStep != codeStepChanges_;
    };

    const QString deviceName = co_await hostName();
    if (!life || codeStepLeft())
        co_return;

    if (twoFactorPendingEmail_ && !isSixDigitCode(code.value_or(QString()).trimmed())) {
        setLoginError(
            QStringLiteral("Bitte den 6-stelligen Code aus deiner Authenticator-App eingeben."));
        co_return;
    }
    const std::optional<QString> sendCode = wire::trimmedNonEmpty(code);

    std::optional<LoginSuccessDTO> reply;
    std::exception_ptr error;
    try {
        reply = co_await api_.login(useEmail, usePassword, deviceName, sendCode, std::nullopt);
    } catch (...) {
        error = std::current_exception();
    }
    if (!life)
        co_return;
    // A sign-out while the service was asked (say, of the biometric sign-in
    // this attempt belongs to) ends the attempt: it writes nothing.
    if (signOuts != signOutCount_ || codeStepLeft())
        co_return;
    if (reply) {
        co_await completeLogin(*reply, useEmail, usePassword);
        co_return;
    }
    if (const auto e = apiError(error); e && e->kind() == OrvaneAPIError::Kind::TwoFactorRequired) {
        setTwoFactorPendingEmail(useEmail);
        setTwoFactorPendingPassword(usePassword);
        co_return;
    }
    if (!wasCodeStep) {
        setTwoFactorPendingEmail(std::nullopt);
        setTwoFactorPendingPassword(std::nullopt);
    }
    setLoginError(describeError(error));
}

QCoro::Task<void> AppStore::completeLogin(LoginSuccessDTO reply, QString email,
                                          std::optional<QString> password) {
    setTwoFactorPendingEmail(std::nullopt);
    setTwoFactorPendingPassword(std::nullopt);
    api_.setToken(reply.token);
    writeRememberMe(rememberMe_);
    setCurrentUser(reply.user);
    beginSignedInGeneration();
    const quint64 generation = signInGeneration_;
    // The session opens at once; the keyring remembers it when it answers.
    rememberToken(reply.token);
    setIsLoggedIn(true);
    loadDashboardAggregatesCache();
    const Life life = this->life();
    co_await refreshAll();
    if (!life || generation != signInGeneration_)
        co_return; // signed out, or someone else signed in, meanwhile

    if (platform::Biometrics::shared().canEvaluatePolicy() && biometricLoginEnabled_) {
        // Asked after the token's save: the token read back is this session's.
        // Named, not a temporary of the await: g++ 12 destroys those twice.
        auto storing = platform::KeychainThread::shared().run<bool>([email, password] {
            const std::optional<QString> token = storedToken();
            const bool hasPassword = password && !password->isEmpty();
            try {
                if (token && hasPassword)
                    BiometricCredentialStore::store(email, *password, *token);
                else if (token)
                    BiometricCredentialStore::storeWithToken(email, *token);
                else if (hasPassword)
                    BiometricCredentialStore::store(email, *password);
            } catch (const Error&) {
            }
            return true;
        });
        co_await std::move(storing);
        if (!life)
            co_return;
        syncBiometricKeychainFlag();
    }
    if (isLoggedIn_)
        playSignInHaptic();
}

QCoro::Task<void> AppStore::loginWithBiometrics(bool interactive) {
    co_await activeBiometricLogin_.run(
        [this, interactive] { return performBiometricLogin(interactive); });
}

QCoro::Task<void> AppStore::rememberToken(QString token) {
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    const std::optional<QString> failure = co_await rememberAuthToken(token);
    // After a sign-out, or another sign-in, this session's memory is moot.
    if (life && failure && generation == signInGeneration_)
        setLoginError(*failure);
}

void AppStore::forgetBiometricSignIn() {
    defaults().setBool(QLatin1String(PreferenceKeys::BiometricCredentialInKeychain), false);
    platform::KeychainThread::shared().run<bool>([] {
        BiometricCredentialStore::deleteCredentials();
        BiometricCredentialStore::deletePasswordBackup();
        return true;
    });
}

QCoro::Task<void> AppStore::keepBiometricSignInWithoutToken() {
    const Life life = this->life();
    auto rebuilding = platform::KeychainThread::shared().run<bool>([] {
        try {
            BiometricCredentialStore::credentialsFromPasswordBackup();
        } catch (const Error&) {
        }
        return true;
    });
    co_await std::move(rebuilding);
    if (life)
        syncBiometricKeychainFlag();
}

QCoro::Task<void> AppStore::performBiometricLogin(bool interactive) {
    const quint64 signOuts = signOutCount_;
    const Life life = this->life();
    // Also true once the store is gone: nothing of it may be touched then.
    const auto cancelled = [this, signOuts, &life] { return !life || signOuts != signOutCount_; };
    setLoginError(std::nullopt);

    if (!platform::Biometrics::shared().canEvaluatePolicy()) {
        if (interactive)
            setLoginError(QStringLiteral("Biometrie nicht verfügbar."));
        syncBiometricKeychainFlag();
        co_return;
    }

    std::optional<BiometricCredentialStore::Payload> payload;
    try {
        using Payload = BiometricCredentialStore::Payload;
        auto loading = platform::KeychainThread::shared().run<Payload>(
            [] { return BiometricCredentialStore::load(QStringLiteral("Anmeldung")); });
        const std::optional<Payload> loaded = co_await std::move(loading);
        if (!loaded)
            throw BiometricCredentialStore::StoreError(
                BiometricCredentialStore::StoreError::Kind::KeychainRead,
                platform::KeychainStatus::InteractionNotAllowed);
        if (cancelled())
            co_return;
        payload = loaded;
    } catch (const BiometricCredentialStore::StoreError& e) {
        using Kind = BiometricCredentialStore::StoreError::Kind;
        if (e.kind() == Kind::MissingOrInvalid) {
            if (interactive)
                setLoginError(QStringLiteral("Zuerst mit E-Mail und Passwort anmelden."));
        } else if (e.kind() != Kind::UserCanceled) {
            setLoginError(e.localizedDescription());
        }
    } catch (...) {
        if (interactive)
            setLoginError(QStringLiteral("Anmeldung mit ") +
                          BiometricCredentialStore::biometryDisplayName() +
                          QStringLiteral(" fehlgeschlagen."));
    }
    if (!payload) {
        syncBiometricKeychainFlag();
        co_return;
    }

    if (const auto token = wire::trimmedNonEmpty(payload->token)) {
        const quint64 startGeneration = signInGeneration_;
        api_.setToken(*token);
        std::optional<APIUser> user;
        std::exception_ptr error;
        try {
            user = co_await api_.fetchCurrentUser();
        } catch (...) {
            error = std::current_exception();
        }
        // A password sign-in that completed meanwhile keeps its account and
        // its token.
        if (cancelled() || startGeneration != signInGeneration_)
            co_return;
        if (user) {
            setCurrentUser(user);
            beginSignedInGeneration();
            const quint64 generation = signInGeneration_;
            rememberToken(*token);
            setIsLoggedIn(true);
            writeRememberMe(rememberMe_);
            loadDashboardAggregatesCache();
            co_await refreshAll();
            if (!life)
                co_return;
            if (generation == signInGeneration_ && isLoggedIn_)
                playSignInHaptic();
        } else {
            api_.setToken(std::nullopt);
            const auto e = apiError(error);
            if (e && e->kind() == OrvaneAPIError::Kind::Http && e->statusCode() == 401)
                co_await biometricFallbackAfterRefusedToken(payload->email, payload->password,
                                                            signOuts);
            else
                setLoginError(describeError(error));
        }
        if (!cancelled())
            syncBiometricKeychainFlag();
        co_return;
    }

    const auto password = wire::trimmedNonEmpty(payload->password);
    if (!password) {
        forgetBiometricSignIn();
        setBiometricLoginEnabled(false);
        setLoginError(
            QStringLiteral("Gespeicherte Anmeldung ungültig. Bitte mit Passwort anmelden."));
        syncBiometricKeychainFlag();
        co_return;
    }
    co_await login(payload->email, *password, std::nullopt);
    if (!cancelled())
        syncBiometricKeychainFlag();
}

QCoro::Task<void> AppStore::biometricFallbackAfterRefusedToken(QString email,
                                                               std::optional<QString> password,
                                                               quint64 signOuts) {
    const QString e = email.trimmed();
    const QString p = password.value_or(QString()).trimmed();
    const Life life = this->life();
    if (!e.isEmpty() && !p.isEmpty())
        co_await login(e, p, std::nullopt);
    if (!life || signOuts != signOutCount_)
        co_return;
    if (!isLoggedIn_ && !twoFactorPendingEmail_) {
        forgetBiometricSignIn();
        if (!loginError_)
            setLoginError(
                QStringLiteral("Sitzung beendet. Bitte mit E-Mail und Passwort anmelden."));
    }
}

QCoro::Task<void> AppStore::restoreSession(QString token) {
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    api_.setToken(token);
    std::optional<APIUser> user;
    std::exception_ptr error;
    try {
        user = co_await api_.fetchCurrentUser();
    } catch (...) {
        error = std::current_exception();
    }
    if (!life || generation != signInGeneration_)
        co_return; // another sign-in or a sign-out came first
    if (user) {
        setCurrentUser(user);
        beginSignedInGeneration();
        setIsLoggedIn(true);
        loadDashboardAggregatesCache();
        co_await refreshAll();
        co_return;
    }
    // Only a token the service refused is gone for good; offline, or on any
    // other failure, the next start tries again.
    const auto e = apiError(error);
    if (e && e->kind() == OrvaneAPIError::Kind::Http && e->statusCode() == 401)
        forgetAuthToken();
    api_.setToken(std::nullopt);
    setIsLoggedIn(false);
}

QCoro::Task<void> AppStore::refreshCurrentUser() {
    if (!isLoggedIn_)
        co_return;
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    std::optional<APIUser> user;
    std::exception_ptr error;
    try {
        user = co_await api_.fetchCurrentUser();
    } catch (...) {
        error = std::current_exception();
    }
    if (!life || generation != signInGeneration_)
        co_return;
    if (!user) {
        endSessionIfTokenRefused(error);
        co_return;
    }
    setCurrentUser(user);
    if (user->accountRequirements && !user->accountRequirements->isReady())
        co_return;
    // The refusal may have come from inside a refresh (the clients load of a
    // full refresh, or a figures or recent-tasks refresh that a full refresh
    // would join): waiting here would wait for itself. A full refresh already
    // under way loads the clients anyway; otherwise one starts on its own.
    if (clients_.empty() && !refreshAllInFlight_.inFlight())
        spawn([this] { return refreshAll(); });
}

bool AppStore::endSessionIfTokenRefused(const std::exception_ptr& error) {
    const auto e = apiError(error);
    if (!isLoggedIn_ || !e || e->kind() != OrvaneAPIError::Kind::Http || e->statusCode() != 401)
        return false;
    signOut();
    setLoginError(describeError(error));
    return true;
}

QCoro::Task<void> AppStore::handleAccountNotReady(std::exception_ptr error) {
    if (endSessionIfTokenRefused(error))
        co_return;
    const auto e = apiError(error);
    if (!e || e->kind() != OrvaneAPIError::Kind::AccountNotReady)
        co_return;
    if (currentUser_ && e->requirements()) {
        APIUser user = *currentUser_;
        user.accountRequirements = e->requirements();
        setCurrentUser(user);
    }
    co_await refreshCurrentUser();
}

void AppStore::signOut() {
    ++signOutCount_;
    activeBiometricLogin_.reset();
    setShowMultiTimerSheet(false);
    setPendingPick(std::nullopt);
    setLastStoppedSummary(std::nullopt);
    setActiveSessionId(std::nullopt);
    // The keyring is told in the background. Until it confirms that the token
    // is gone, the next start finishes the removal and restores nothing.
    if (biometricLoginEnabled_)
        keepBiometricSignInWithoutToken();
    else
        forgetBiometricSignIn();
    syncBiometricKeychainFlag();
    forgetAuthToken();
    api_.setToken(std::nullopt);
    beginSignedInGeneration();
    setIsLoggedIn(false);
    setCurrentUser(std::nullopt);
    setTwoFactorPendingEmail(std::nullopt);
    setTwoFactorPendingPassword(std::nullopt);
    setClients({});
    setClientsFetchError(std::nullopt);
    setSessions({});
    setRecentTasks({});
    setTodayTotalSecs(0);
    setTodaySessionsCount(0);
    setTodayProjectsCount(0);
    setTodayBillableEuroCents(0);
    setTodayBillableWorkedSecs(0);
    setInvoiceableSummary(std::nullopt);
    updateTickTimer();
}

} // namespace orvane
