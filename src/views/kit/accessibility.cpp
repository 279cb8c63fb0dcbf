#include "views/kit/accessibility.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace orvane {

namespace {

constexpr const char* kRoleProperty = "orvaneAccessibleRole";

QAccessibleInterface* roleFactory(const QString& className, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    // Asked once per class up the chain: answer at the widget's own class only.
    if (!widget || className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    const QVariant role = widget->property(kRoleProperty);
    if (!role.isValid())
        return nullptr;
    return new QAccessibleWidget(widget, QAccessible::Role(role.toInt()));
}

} // namespace

void setAccessibleRole(QWidget* widget, QAccessible::Role role) {
    static const bool installed = [] {
        QAccessible::installFactory(roleFactory);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(kRoleProperty, int(role));
}

} // namespace orvane
