#include "store/app_store.h"
#include "store/time_money_helpers.h"

#include "platform/biometrics.h"
#include "platform/clock.h"
#include "platform/user_defaults.h"
#include "service/token_storage.h"
#include "store/preference_keys.h"

namespace orvane {

namespace {
platform::UserDefaults& defaults() {
    return platform::UserDefaults::standard();
}
QString key(const char* name) {
    return QString::fromLatin1(name);
}
} // namespace

AppStore::AppStore(QObject* parent) : QObject(parent) {
    // What the store reads of a task's job times is their sum.
    api_.sumJobTimesWith(&entryDurationSecs);
    dayChange_.setSingleShot(true);
    // Never early: a wake before midnight would find the old day still on.
    dayChange_.setTimerType(Qt::PreciseTimer);
    connect(&dayChange_, &QTimer::timeout, this, &AppStore::followDayChange);
    // A stored flag counts (numbers included); anything else means "remember".
    if (const auto stored = defaults().object(key(PreferenceKeys::RememberMe))) {
        if (stored->isBool())
            rememberMe_ = stored->toBool();
        else if (stored->isDouble())
            rememberMe_ = stored->toDouble() != 0.0;
    }
    biometricLoginEnabled_ = defaults().boolValue(key(PreferenceKeys::BiometricLoginEnabled));
    accentStyle_ = accentStyleFromRawValue(
                       defaults().string(key(PreferenceKeys::AccentStyle)).value_or(QString()))
                       .value_or(orvane::AccentStyle::Gradient);
    ringVariant_ = ringVariantFromRawValue(
                       defaults().string(key(PreferenceKeys::RingVariant)).value_or(QString()))
                       .value_or(orvane::RingVariant::Gradient);
    density_ =
        densityFromRawValue(defaults().string(key(PreferenceKeys::Density)).value_or(QString()))
            .value_or(orvane::Density::Cozy);
    if (defaults().object(key(PreferenceKeys::ScreenAwakeWhenTimer)))
        setScreenAwakeWhenTimer(defaults().boolValue(key(PreferenceKeys::ScreenAwakeWhenTimer)));
    biometricKeychainPopulated_ =
        defaults().boolValue(key(PreferenceKeys::BiometricCredentialInKeychain));
    restoreRememberedSession();
    updateTickTimer();
}

AppStore::~AppStore() {
    *alive_ = false;
    api_.shutDown();
}

void AppStore::setBiometricLoginEnabled(bool v) {
    assign(biometricLoginEnabled_, v, Property::BiometricLoginEnabled);
    defaults().setBool(key(PreferenceKeys::BiometricLoginEnabled), v);
}

void AppStore::setAccentStyle(orvane::AccentStyle v) {
    assign(accentStyle_, v, Property::AccentStyle);
    defaults().setString(key(PreferenceKeys::AccentStyle), rawValue(v));
}

void AppStore::setScreenAwakeWhenTimer(bool v) {
    assign(screenAwakeWhenTimer_, v, Property::ScreenAwakeWhenTimer);
    defaults().setBool(key(PreferenceKeys::ScreenAwakeWhenTimer), v);
}

void AppStore::setModelContext(platform::ModelContext* context) {
    modelContext_ = context;
}

platform::ModelContext* AppStore::modelContext() const {
    return modelContext_.data();
}

void AppStore::syncBiometricKeychainFlag() {
    setBiometricKeychainPopulated(
        defaults().boolValue(key(PreferenceKeys::BiometricCredentialInKeychain)));
}

void AppStore::restoreRememberedSession() {
    // A sign-out whose removal the keyring never confirmed is finished first,
    // and the user stays signed out.
    if (authTokenRemovalPending()) {
        forgetAuthToken();
        return;
    }
    if (!rememberMe_)
        return;
    // A pending biometric sign-in is started by the sign-in view instead.
    if (biometricLoginEnabled_ && platform::Biometrics::shared().canEvaluatePolicy() &&
        defaults().boolValue(key(PreferenceKeys::BiometricCredentialInKeychain)))
        return;
    // Construction does not wait for the keyring.
    restoreRememberedToken();
}

QCoro::Task<void> AppStore::restoreRememberedToken() {
    const Life life = this->life();
    const quint64 generation = signInGeneration_;
    const std::optional<QString> token = co_await rememberedAuthToken();
    // A sign-in or a sign-out while the keyring was asked comes first.
    if (!life || !token || generation != signInGeneration_)
        co_return;
    co_await restoreSession(*token);
}

// ---- The one-second tick ----

void AppStore::updateTickTimer() {
    if (sessions_.empty()) {
        tick_.reset();
        return;
    }
    if (tick_)
        return; // keeps its phase
    tick_ = std::make_unique<QTimer>();
    tick_->setTimerType(Qt::PreciseTimer);
    tick_->setSingleShot(true);
    connect(tick_.get(), &QTimer::timeout, this, &AppStore::tick);
    tick_->start(msUntilNextTick(platform::Clock::shared().now()));
}

int AppStore::msUntilNextTick(const QDateTime& now) const {
    const TimerSession* shown = displayedSession(sessions_, activeSessionId_);
    if (!shown || !shown->running || shown->onBreak) {
        shown = nullptr;
        for (const TimerSession& s : sessions_)
            if (s.running && !s.onBreak) {
                shown = &s;
                break;
            }
    }
    return shown ? msUntilNextSecond(*shown, now) : 1000;
}

void AppStore::tick() {
    const QDateTime now = platform::Clock::shared().now();
    bool anyCounting = false;
    const size_t count = sessions_.size();
    for (size_t i = 0; i < count && i < sessions_.size(); ++i) {
        const TimerSession& s = sessions_[i];
        if (!s.running || s.onBreak)
            continue;
        anyCounting = true;
        const qint64 d = std::max<qint64>(secondsBetween(s.startedAt, now), 0);
        const qint64 elapsed = std::max<qint64>(d - s.pauseSecs, 0);
        // One change per running session, as observers expect.
        if (sessions_[i].elapsedSecs != elapsed) {
            sessions_[i].elapsedSecs = elapsed;
            Q_EMIT changed(Property::Sessions);
        }
    }
    std::optional<QDateTime> stamp = lastLiveActivitySyncFromTick_;
    if (!anyCounting)
        stamp.reset();
    else if (!stamp || stamp->msecsTo(now) >= 1000)
        stamp = now;
    assign(lastLiveActivitySyncFromTick_, stamp, Property::LastLiveActivitySyncFromTick);
    // Observers may have ended the sessions, and with them the tick.
    if (tick_)
        tick_->start(msUntilNextTick(platform::Clock::shared().now()));
    Q_EMIT ticked();
}

} // namespace orvane
