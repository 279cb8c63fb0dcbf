#include "views/kit/accessibility.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QWidget>

#include <algorithm>

namespace orvane {

namespace {

constexpr char kRoleProperty[] = "orvaneAccessibleRole";
constexpr char kHiddenProperty[] = "orvaneHiddenFromScreenReaders";

QAccessible::Role roleOf(const QWidget* widget) {
    return QAccessible::Role(widget->property(kRoleProperty).toInt());
}

// A painted widget: the role it was given, its spoken text as its name.
class PaintedAccessible : public QAccessibleWidget {
public:
    explicit PaintedAccessible(QWidget* widget) : QAccessibleWidget(widget, roleOf(widget)) {}

    QAccessible::Role role() const override { return roleOf(widget()); }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name)
            if (const auto* spoken = dynamic_cast<const SpokenText*>(widget()))
                return spoken->spokenText();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        if (const auto* button = qobject_cast<const QAbstractButton*>(widget());
            button && button->isCheckable()) {
            s.checkable = true;
            s.checked = button->isChecked();
        }
        if (widget()->property(kHiddenProperty).toBool())
            s.invisible = true;
        return s;
    }
    // Qt's own buttons toggle a checkable one on the screen reader's action,
    // which bypasses what a click decides.
    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (qobject_cast<const QAbstractButton*>(widget()))
            names.prepend(pressAction());
        return names;
    }
    void doAction(const QString& action) override {
        auto* button = qobject_cast<QAbstractButton*>(widget());
        if (!button || action != pressAction())
            return QAccessibleWidget::doAction(action);
        if (button->isEnabled())
            button->click(); // last: the click may replace the view
    }
};

QAccessibleInterface* paintedFactory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget || !widget->property(kRoleProperty).isValid())
        return nullptr;
    return new PaintedAccessible(widget);
}

class ReturnPresses : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* button = qobject_cast<QAbstractButton*>(watched);
        // The keypad's Enter comes with the keypad modifier.
        if (!button || !button->hasFocus() ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier ||
            (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter))
            return false;
        if (!key->isAutoRepeat())
            button->click(); // last: the press may replace the view
        return true;
    }
};

class FocusFirst : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn)
            if (auto* widget = qobject_cast<QWidget*>(watched); widget && widget->hasFocus()) {
                QAccessibleEvent focus(widget, QAccessible::Focus);
                QAccessible::updateAccessibility(&focus);
            }
        return false;
    }
};

} // namespace

QString spokenHoursMinutes(qint64 seconds) {
    const qint64 s = std::max<qint64>(seconds, 0);
    const qint64 hours = s / 3600;
    const qint64 minutes = (s % 3600) / 60;
    if (hours == 0)
        return QString::number(minutes) +
               (minutes == 1 ? QStringLiteral(" Minute") : QStringLiteral(" Minuten"));
    QString text = QString::number(hours) +
                   (hours == 1 ? QStringLiteral(" Stunde") : QStringLiteral(" Stunden"));
    if (minutes > 0)
        text += u' ' + QString::number(minutes);
    return text;
}

void setAccessibleRole(QWidget* widget, QAccessible::Role role) {
    static const bool installed = [] {
        QAccessible::installFactory(paintedFactory);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(kRoleProperty, int(role));
}

void announceNameChange(QWidget* widget) {
    QAccessibleEvent event(widget, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

void setHiddenFromScreenReaders(QWidget* widget, bool hidden) {
    if (widget->property(kHiddenProperty).toBool() == hidden)
        return;
    widget->setProperty(kHiddenProperty, hidden);
    if (!widget->isVisible())
        return; // not showing either way
    QAccessibleEvent event(widget, hidden ? QAccessible::ObjectHide : QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&event);
}

void speakFocusFirst(QWidget* field) {
    field->installEventFilter(new FocusFirst(field));
}

void pressOnReturn(QAbstractButton* button) {
    button->installEventFilter(new ReturnPresses(button));
}

} // namespace orvane
