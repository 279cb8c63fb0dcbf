#pragma once

#include "platform/biometrics.h"
#include "platform/clock.h"
#include "platform/haptics.h"
#include "platform/url_opener.h"

#include <QString>

#include <vector>

namespace orvane::test {

// Biometrics that answer as told, installed as the shared ones while alive.
class FakeBiometrics : public platform::Biometrics {
public:
    FakeBiometrics() { platform::Biometrics::overrideShared(this); }
    ~FakeBiometrics() override { platform::Biometrics::overrideShared(nullptr); }

    bool canEvaluatePolicy() override { return available; }
    platform::BiometryType biometryType() override { return type; }
    platform::BiometricOutcome evaluate(const QString& reason) override {
        reasons.push_back(reason);
        return outcome;
    }
    QByteArray enrollmentState() override { return enrollment; }

    bool available = true;
    platform::BiometryType type = platform::BiometryType::TouchID;
    platform::BiometricOutcome outcome = platform::BiometricOutcome::Success;
    QByteArray enrollment = "fingers-1";
    std::vector<QString> reasons; // one per prompt shown
};

// Records every haptic played.
class FakeHaptics : public platform::Haptics {
public:
    FakeHaptics() { platform::Haptics::overrideShared(this); }
    ~FakeHaptics() override { platform::Haptics::overrideShared(nullptr); }
    void perform(platform::HapticPattern pattern) override { played.push_back(pattern); }
    std::vector<platform::HapticPattern> played;
};

// Records every address handed to the desktop instead of opening it.
class FakeUrlOpener : public platform::UrlOpener {
public:
    FakeUrlOpener() { platform::UrlOpener::overrideShared(this); }
    ~FakeUrlOpener() override { platform::UrlOpener::overrideShared(nullptr); }
    bool open(const QUrl& url) override {
        opened.push_back(url);
        return succeeds;
    }
    std::vector<QUrl> opened;
    bool succeeds = true; // false: as when no browser is there
};

// A manual clock installed as the shared one while alive.
class ClockScope : public platform::ManualClock {
public:
    using platform::ManualClock::ManualClock;
    ClockScope() { platform::Clock::overrideShared(this); }
    explicit ClockScope(QDateTime start) : platform::ManualClock(start) {
        platform::Clock::overrideShared(this);
    }
    ~ClockScope() override { platform::Clock::overrideShared(nullptr); }
};

} // namespace orvane::test
