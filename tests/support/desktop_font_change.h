#pragma once

#include <QFont>
#include <QString>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformtheme.h>
#include <QtGui/qpa/qwindowsysteminterface.h>

#include <utility>
#include <vector>

namespace orvane::test {

// The desktop's general and fixed fonts (or the fixed one alone) set to
// `family` while this lives, told as a desktop's theme tells them: a theme
// change to each window. The theme hands out its own fonts, so they are
// changed where they lie.
class DesktopFontChange {
public:
    explicit DesktopFontChange(const QString& family, bool generalToo = true) {
        for (QPlatformTheme::Font kind : {QPlatformTheme::SystemFont, QPlatformTheme::FixedFont}) {
            if (kind == QPlatformTheme::SystemFont && !generalToo)
                continue;
            QFont* font = const_cast<QFont*>(QGuiApplicationPrivate::platformTheme()->font(kind));
            m_kept.emplace_back(font, *font);
            font->setFamily(family);
        }
        tell();
    }
    ~DesktopFontChange() {
        for (auto& [font, was] : m_kept)
            *font = was;
        tell();
    }

private:
    static void tell() {
        QWindowSystemInterface::handleThemeChange<QWindowSystemInterface::SynchronousDelivery>();
    }
    std::vector<std::pair<QFont*, QFont>> m_kept;
};

} // namespace orvane::test
