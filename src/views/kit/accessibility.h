#pragma once

#include <QAccessible>
#include <QString>

class QAbstractButton;
class QWidget;

namespace orvane {

// Hours and minutes as a person says them: "4 Stunden 35", "1 Stunde",
// "45 Minuten", "0 Minuten". Seconds are dropped; below zero counts as 0.
QString spokenHoursMinutes(qint64 seconds);

// A painted widget's text for screen readers, asked for when it is read: a
// figure that moves every second is current without an event every second.
class SpokenText {
public:
    virtual ~SpokenText() = default;
    virtual QString spokenText() const = 0;
};

// The role a screen reader announces a painted widget by (label, heading,
// image, list item, group). Its name is its `SpokenText` where it has one,
// else its accessible name. Set it before the widget's first accessible name:
// a screen reader may ask for the widget as soon as that is set.
void setAccessibleRole(QWidget* widget, QAccessible::Role role);

// Tells screen readers that a widget's name changed; they read it anew when
// they next present the widget.
void announceNameChange(QWidget* widget);

// Return and Enter press a focused button as Space does. A held key presses
// once: its repeats would send the same request again and again.
void pressOnReturn(QAbstractButton* button);

} // namespace orvane
