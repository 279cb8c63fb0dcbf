#include "views/flow/flow_list_accessible.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <QScrollBar>

namespace orvane {

namespace {

// One row; it holds no data of its own and reads the list when asked.
class FlowRowAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    FlowRowAccessible(FlowRowList* list, int row) : list_(list), row_(row) {}

    bool isValid() const override { return list_ && row_ < list_->rowCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_ ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return list_ ? QAccessible::queryAccessibleInterface(list_.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        if (!isValid())
            return {};
        const FlowRow& row = list_->row(row_);
        switch (t) {
        case QAccessible::Name:
            return flowRowAccessibleName(list_->kind(), row);
        case QAccessible::Description:
            return list_->kind() == FlowRowKind::Client ? row.subtitle : QString();
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect r = list_->rowRect(row_);
        return QRect(list_->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid())
            return s;
        s.selectable = true;
        s.focusable = true;
        const bool highlighted = row_ == list_->highlightedRow();
        s.selected = highlighted;
        s.focused = highlighted && list_->highlightAnnounced();
        if (!list_->isVisible() || !list_->viewport()->rect().intersects(list_->rowRect(row_))) {
            s.invisible = true;
            s.offscreen = true;
        }
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    QStringList keyBindingsForAction(const QString& action) const override {
        return action == pressAction() ? QStringList{QStringLiteral("Return")} : QStringList{};
    }
    void doAction(const QString& action) override {
        if (action == pressAction() && isValid())
            list_->activateRow(row_);
    }

private:
    QPointer<FlowRowList> list_;
    int row_;
};

// The list: its children are the rows alone (not the scroll bars).
class FlowListAccessible : public QAccessibleWidget {
public:
    explicit FlowListAccessible(FlowRowList* list) : QAccessibleWidget(list, QAccessible::List) {}
    ~FlowListAccessible() override {
        for (const QAccessible::Id id : std::as_const(children_))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return list()->rowCount(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const auto found = children_.constFind(index); found != children_.constEnd())
            return QAccessible::accessibleInterface(*found);
        auto* row = new FlowRowAccessible(list(), index);
        children_.insert(index, QAccessible::registerAccessibleInterface(row));
        return row;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (auto it = children_.constBegin(); it != children_.constEnd(); ++it)
            if (QAccessible::accessibleInterface(it.value()) == child)
                return it.key() < childCount() ? it.key() : -1;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint at = list()->viewport()->mapFromGlobal(QPoint(x, y));
        for (int i = 0; i < childCount(); ++i)
            if (list()->rowRect(i).contains(at))
                return child(i);
        return nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        const int row = list()->highlightedRow();
        return list()->highlightAnnounced() && row >= 0 ? child(row) : nullptr;
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.focusable = true; // through its items, while the search field keeps the keys
        return s;
    }

private:
    FlowRowList* list() const { return static_cast<FlowRowList*>(widget()); }
    mutable QHash<int, QAccessible::Id> children_;
};

QAccessibleInterface* flowListFactory(const QString& className, QObject* object) {
    if (className != QLatin1String(FlowRowList::staticMetaObject.className()))
        return nullptr;
    auto* list = qobject_cast<FlowRowList*>(object);
    return list ? new FlowListAccessible(list) : nullptr;
}

} // namespace

QString flowRowAccessibleName(FlowRowKind kind, const FlowRow& row) {
    switch (kind) {
    case FlowRowKind::Client:
        return row.title;
    case FlowRowKind::Job:
        // The second line's stand-in "Auftrag" is no number.
        return row.subtitle == QStringLiteral("Auftrag")
                   ? row.title
                   : row.subtitle + QStringLiteral(" – ") + row.title;
    case FlowRowKind::Task:
        return row.subtitle == QStringLiteral("Aufgabe")
                   ? row.title
                   : row.title + QStringLiteral(", ") + row.subtitle;
    }
    return row.title;
}

void installFlowListAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(flowListFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace orvane
