#pragma once

#include <QAccessible>
#include <QString>

#include <optional>

class QAbstractButton;
class QLineEdit;
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
// image, list item, group, radio button). A button's action clicks it, as a
// pointer does. Its name is its `SpokenText` where it has one,
// else its accessible name. Set it before the widget's first accessible name:
// a screen reader may ask for the widget as soon as that is set.
void setAccessibleRole(QWidget* widget, QAccessible::Role role);

// Tells screen readers that a widget's name changed; they read it anew when
// they next present the widget.
void announceNameChange(QWidget* widget);

// Keeps a widget given a role, and all it holds, from screen readers while
// `hidden`: their review reads every widget that is showing, covered by a
// panel or not.
void setHiddenFromScreenReaders(QWidget* widget, bool hidden);

// A field that takes the keyboard tells screen readers so before its caret
// does: Qt 6.4 reports the caret first, and Orca then takes the focus for a
// caret move and reads nothing of the field, not even its name.
void speakFocusFirst(QWidget* field);

// What to announce when a shown text goes from `before` to `now`: the new
// text; nothing when it stayed, went away or is blank.
std::optional<QString> changedText(const std::optional<QString>& before,
                                   const std::optional<QString>& now);

// Says `text` once through screen readers, for a change that happens away
// from the keyboard's focus (Orca follows no name or text change there): a
// notification shown in a status bar of `within`'s window, which Orca reads
// without a role word. The same text again is said again; nothing is said
// while the window is hidden, nor at its next showing.
void announce(QWidget* within, const QString& text);

// Keeps a field's text from assistive technology, shown or not: its text,
// value and change events carry one '*' per character. Writing through the
// field's accessible text still works.
void keepTextSecret(QLineEdit* field);

// Return and Enter press a focused button as Space does. A held key presses
// once: its repeats would send the same request again and again.
void pressOnReturn(QAbstractButton* button);

} // namespace orvane
