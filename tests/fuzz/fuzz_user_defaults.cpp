// The defaults file as a user or a crash may have left it: start-up reads the
// preferences and the service address from it, the typed readers read every
// key, then one value is written, and nothing the file held may be lost: the
// other values read back unchanged, an unreadable file is kept aside as it was.

#include "fuzz.h"

#include "platform/in_memory_keychain.h"
#include "platform/keychain_thread.h"
#include "platform/user_defaults.h"
#include "service/orvane_api_config.h"
#include "store/app_store.h"
#include "store/preference_keys.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

using namespace orvane;

namespace {

const QString kWritten = QStringLiteral("orvane_fuzz_written");
// Start-up writes this one back as the flag it read.
const QString kRewritten = QLatin1String(PreferenceKeys::ScreenAwakeWhenTimer);

// One folder and keychain for the whole run; each input gets a fresh file.
struct Sandbox {
    QTemporaryDir dir;
    platform::InMemoryKeychain keychain;
    QString path = dir.path() + QStringLiteral("/orvane/defaults.json");

    Sandbox() {
        platform::Keychain::overrideShared(&keychain);
        QDir().mkpath(dir.path() + QStringLiteral("/orvane"));
    }
};

void startUp() {
    const AppStore store;
    // No event loop turns here: the start-up read is answered now, not piled up.
    platform::KeychainThread::shared().waitUntilIdle();
    (void)OrvaneAPIConfig::baseURLString();
    (void)OrvaneAPIConfig::basicAuthUser();
    (void)OrvaneAPIConfig::basicAuthPassword();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Sandbox sandbox;
    const QByteArray original = fuzz::bytes(data, size);
    const QString aside = sandbox.path + QStringLiteral(".corrupt");
    QFile::remove(aside);
    {
        QFile file(sandbox.path);
        fuzz::check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                        file.write(original) == original.size(),
                    "the sandbox takes the input");
    }

    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(original, &error);
    const bool readable = error.error == QJsonParseError::NoError && document.isObject();
    const QJsonObject before = readable ? document.object() : QJsonObject();

    platform::UserDefaults defaults(sandbox.path);
    platform::UserDefaults::overrideStandard(&defaults);
    startUp();
    for (auto it = before.begin(); it != before.end(); ++it) {
        (void)defaults.object(it.key());
        (void)defaults.string(it.key());
        (void)defaults.boolValue(it.key());
        (void)defaults.integer(it.key());
    }
    defaults.setBool(kWritten, true);
    platform::UserDefaults::overrideStandard(nullptr);

    const platform::UserDefaults after(sandbox.path);
    fuzz::check(after.boolValue(kWritten), "the value written reads back");
    for (auto it = before.begin(); it != before.end(); ++it) {
        if (it.key() == kWritten || it.key() == kRewritten)
            continue;
        const auto expected = it.value().isNull() ? std::nullopt : std::optional(it.value());
        fuzz::check(after.object(it.key()) == expected, "a write keeps every other value");
    }
    if (!readable && !original.trimmed().isEmpty()) {
        QFile kept(aside);
        fuzz::check(kept.open(QIODevice::ReadOnly) && kept.readAll() == original,
                    "an unreadable file is kept aside as it was");
    }
    return 0;
}
