#pragma once

#include <QByteArray>
#include <QString>

namespace orvane::platform {

enum class BiometryType { None, TouchID, FaceID, OpticID };

enum class BiometricOutcome { Success, Failed, Cancelled };

// The machine's biometric check. Desktops without a biometric service have
// none: the default backend reports type None and cannot evaluate.
class Biometrics {
public:
    virtual ~Biometrics() = default;
    virtual bool canEvaluatePolicy() = 0;
    virtual BiometryType biometryType() = 0;
    // Shows the system's prompt with `reason` and waits for the answer.
    virtual BiometricOutcome evaluate(const QString& reason) = 0;
    // Changes whenever the enrolled biometry changes.
    virtual QByteArray enrollmentState() = 0;

    static Biometrics& shared();
    static void overrideShared(Biometrics* biometrics);
};

class NoBiometrics : public Biometrics {
public:
    bool canEvaluatePolicy() override { return false; }
    BiometryType biometryType() override { return BiometryType::None; }
    BiometricOutcome evaluate(const QString&) override { return BiometricOutcome::Failed; }
    QByteArray enrollmentState() override { return {}; }
};

} // namespace orvane::platform
