#include "app/pill_accessible.h"

#include <QAccessibleWidget>

namespace orvane {

namespace {

// "01:02:05" as "1:02", the way the clock is read out.
QString spokenHoursMinutes(const QString& clock) {
    const QStringList parts = clock.split(u':');
    if (parts.size() != 3)
        return clock;
    return QString::number(parts[0].toLongLong()) + u':' + parts[1];
}

class PillAccessible : public QAccessibleWidget {
public:
    explicit PillAccessible(MenuBarPillView* pill) : QAccessibleWidget(pill, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override {
        const auto* pill = static_cast<const MenuBarPillView*>(widget());
        switch (t) {
        case QAccessible::Name:
            return pillAccessibleName(pill->content());
        case QAccessible::Description:
            return pillAccessibleDescription(pill->content());
        default:
            return QAccessibleWidget::text(t);
        }
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override {
        const auto* pill = static_cast<const MenuBarPillView*>(widget());
        if (action == pressAction() && pill->onTap())
            pill->onTap()();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

QAccessibleInterface* pillFactory(const QString& className, QObject* object) {
    if (className != QLatin1String(MenuBarPillView::staticMetaObject.className()))
        return nullptr;
    auto* pill = qobject_cast<MenuBarPillView*>(object);
    return pill ? new PillAccessible(pill) : nullptr;
}

} // namespace

QString pillAccessibleName(const PillContent& content) {
    if (content.kind == PillContent::Kind::Running)
        return QStringLiteral("Orvane, %1 läuft").arg(spokenHoursMinutes(content.text));
    return QStringLiteral("Orvane");
}

QString pillAccessibleDescription(const PillContent& content) {
    if (content.kind == PillContent::Kind::Idle)
        return QStringLiteral("Heute %1").arg(spokenHoursMinutes(content.text));
    return {};
}

void installPillAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(pillFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace orvane
