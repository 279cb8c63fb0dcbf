#pragma once

#include <QObject>
#include <QPalette>

class QWidget;

namespace orvane {

// The popover's chrome preference "orvane_mac_light": light chrome when
// true, dark (the default) when false or absent. One object shared by every
// view that reads it, so a change reaches everything on screen at once.
class ChromeSetting : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kKey = "orvane_mac_light";

    explicit ChromeSetting(QObject* parent = nullptr);

    bool light() const { return light_; }
    // Persists; `changed` only when the value differs.
    void setLight(bool light);
    void toggle() { setLight(!light_); }

Q_SIGNALS:
    void changed(bool light);

private:
    bool light_ = false;
};

// The corner radius of the panels the popover lays over its content (the
// picker, the multi-timer choice, the summary). What runs along a panel's
// edge keeps clear of the rounding.
inline constexpr qreal kPanelCornerRadius = 16;

// The fixed palettes the popover forces on its content (on the Fusion style),
// so that the desktop's theme never leaks in. Light: white background.
QPalette chromePalette(bool light);

// Gives `widget` (and its children) the chrome's palette now and on every
// change of the setting, for as long as the widget lives.
void followChrome(QWidget* widget, ChromeSetting& chrome);

} // namespace orvane
