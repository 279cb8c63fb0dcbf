#pragma once

#include "platform/user_defaults.h"

#include <QTemporaryDir>

namespace orvane::test {

// A user-defaults file of its own for one test, installed as the standard one.
class TempUserDefaults {
public:
    TempUserDefaults() : defaults_(dir_.path() + QStringLiteral("/orvane/defaults.json")) {
        platform::UserDefaults::overrideStandard(&defaults_);
    }
    ~TempUserDefaults() { platform::UserDefaults::overrideStandard(nullptr); }
    TempUserDefaults(const TempUserDefaults&) = delete;
    TempUserDefaults& operator=(const TempUserDefaults&) = delete;

    platform::UserDefaults& operator*() { return defaults_; }
    platform::UserDefaults* operator->() { return &defaults_; }
    QString path() const { return defaults_.filePath(); }

private:
    QTemporaryDir dir_;
    platform::UserDefaults defaults_;
};

} // namespace orvane::test
