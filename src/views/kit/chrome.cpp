#include "views/kit/chrome.h"

#include "platform/user_defaults.h"
#include "views/kit/palette.h"

#include <QWidget>

namespace orvane {

ChromeSetting::ChromeSetting(QObject* parent)
    : QObject(parent), light_(platform::UserDefaults::standard().boolValue(QLatin1String(kKey))) {}

void ChromeSetting::setLight(bool light) {
    platform::UserDefaults::standard().setBool(QLatin1String(kKey), light);
    if (light == light_)
        return;
    light_ = light;
    Q_EMIT changed(light);
}

QPalette chromePalette(bool light) {
    QPalette p;
    if (light) {
        const QColor text(20, 20, 28);
        const QColor muted(0, 0, 0, 140);
        p.setColor(QPalette::Window, Qt::white);
        p.setColor(QPalette::Base, Qt::white);
        p.setColor(QPalette::AlternateBase, QColor(0, 0, 0, 10));
        p.setColor(QPalette::Button, QColor(0, 0, 0, 13));
        p.setColor(QPalette::WindowText, text);
        p.setColor(QPalette::Text, text);
        p.setColor(QPalette::ButtonText, text);
        p.setColor(QPalette::PlaceholderText, muted);
        p.setColor(QPalette::Disabled, QPalette::Text, muted);
        p.setColor(QPalette::Disabled, QPalette::WindowText, muted);
        p.setColor(QPalette::Disabled, QPalette::ButtonText, muted);
        p.setColor(QPalette::Mid, QColor(0, 0, 0, 40));
    } else {
        p.setColor(QPalette::Window, QColor(15, 16, 24));
        p.setColor(QPalette::Base, Palette::bgInset());
        p.setColor(QPalette::AlternateBase, Palette::bgCard());
        p.setColor(QPalette::Button, Palette::bgElevated());
        p.setColor(QPalette::WindowText, Palette::textPrimary());
        p.setColor(QPalette::Text, Palette::textPrimary());
        p.setColor(QPalette::ButtonText, Palette::textPrimary());
        p.setColor(QPalette::PlaceholderText, Palette::textTertiary());
        p.setColor(QPalette::Disabled, QPalette::Text, Palette::textTertiary());
        p.setColor(QPalette::Disabled, QPalette::WindowText, Palette::textTertiary());
        p.setColor(QPalette::Disabled, QPalette::ButtonText, Palette::textTertiary());
        p.setColor(QPalette::Mid, Palette::border());
    }
    p.setColor(QPalette::Highlight, Palette::indigo());
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, Palette::indigo());
    return p;
}

void followChrome(QWidget* widget, ChromeSetting& chrome) {
    // The application runs on Fusion, which draws from the palette alone.
    widget->setPalette(chromePalette(chrome.light()));
    QObject::connect(&chrome, &ChromeSetting::changed, widget,
                     [widget](bool light) { widget->setPalette(chromePalette(light)); });
}

} // namespace orvane
