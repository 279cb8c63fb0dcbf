#include "platform/url_opener.h"

#include <QDesktopServices>

namespace orvane::platform {

namespace {
UrlOpener* g_override = nullptr;
}

bool DesktopUrlOpener::open(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

UrlOpener& UrlOpener::shared() {
    if (g_override)
        return *g_override;
    static DesktopUrlOpener desktop;
    return desktop;
}

void UrlOpener::overrideShared(UrlOpener* opener) {
    g_override = opener;
}

bool openURL(const QUrl& url) {
    return UrlOpener::shared().open(url);
}

} // namespace orvane::platform
