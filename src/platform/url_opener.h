#pragma once

#include <QUrl>

namespace orvane::platform {

// Opens addresses in the user's default browser (or whatever the desktop
// hands that kind of address to). Tests install their own to see what would
// have opened.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // False when the desktop could not open it.
    virtual bool open(const QUrl& url) = 0;

    static UrlOpener& shared();
    static void overrideShared(UrlOpener* opener);
};

class DesktopUrlOpener : public UrlOpener {
public:
    bool open(const QUrl& url) override;
};

// Through the shared opener.
bool openURL(const QUrl& url);

} // namespace orvane::platform
