#include "views/kit/accessibility.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

#include <algorithm>
#include <utility>

namespace orvane {

namespace {

constexpr char kRoleProperty[] = "orvaneAccessibleRole";
constexpr char kHiddenProperty[] = "orvaneHiddenFromScreenReaders";
constexpr char kSecretProperty[] = "orvaneSecretText";

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
        // A widget that hands the keyboard on to a focus proxy does not hold it.
        s.focused = QApplication::focusWidget() == widget();
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

bool isSecret(const QObject* object) {
    return object && object->property(kSecretProperty).toBool();
}

QString masked(qsizetype length) {
    return QString(std::max<qsizetype>(length, 0), u'*');
}

// A secret field as assistive technology sees it: a password text whose
// characters all read as '*', even while the field shows them.
class SecretLineAccessible : public QAccessibleWidget,
                             public QAccessibleTextInterface,
                             public QAccessibleEditableTextInterface {
public:
    explicit SecretLineAccessible(QLineEdit* field)
        : QAccessibleWidget(field, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = !field()->isReadOnly();
        s.readOnly = field()->isReadOnly();
        s.passwordEdit = true;
        s.selectableText = true;
        return s;
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return masked(field()->text().size());
        return QAccessibleWidget::text(t);
    }

    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (index == 0 && field()->hasSelectedText()) {
            *start = field()->selectionStart();
            *end = *start + field()->selectionLength();
        }
    }
    int selectionCount() const override { return field()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { field()->deselect(); }
    void setSelection(int, int start, int end) override {
        field()->setSelection(start, end - start);
    }
    int cursorPosition() const override { return field()->cursorPosition(); }
    void setCursorPosition(int position) override { field()->setCursorPosition(position); }
    QString text(int start, int end) const override {
        const int count = characterCount();
        start = std::clamp(start, 0, count);
        end = end < 0 ? count : std::clamp(end, start, count);
        return masked(end - start);
    }
    int characterCount() const override { return int(field()->text().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }

    void deleteText(int start, int end) override { replaceText(start, end, QString()); }
    void insertText(int offset, const QString& text) override { replaceText(offset, offset, text); }
    void replaceText(int start, int end, const QString& text) override {
        QString now = field()->text();
        start = std::clamp(start, 0, int(now.size()));
        end = std::clamp(end, start, int(now.size()));
        field()->setText(now.replace(start, end - start, text));
        field()->setCursorPosition(start + int(text.size()));
    }

private:
    QLineEdit* field() const { return static_cast<QLineEdit*>(widget()); }
};

QAccessibleInterface* secretFactory(const QString&, QObject* object) {
    auto* field = qobject_cast<QLineEdit*>(object);
    return field && isSecret(field) ? new SecretLineAccessible(field) : nullptr;
}

QAccessible::UpdateHandler previousHandler = nullptr;

void toPlatform(QAccessibleEvent* event) {
    if (previousHandler)
        return previousHandler(event);
    if (QPlatformIntegration* platform = QGuiApplicationPrivate::platformIntegration())
        if (QPlatformAccessibility* accessibility = platform->accessibility())
            accessibility->notifyAccessibilityUpdate(event);
}

// A line edit reports each change with its characters in clear, whatever it
// shows: a secret field's changes leave as stars.
void maskSecretChanges(QAccessibleEvent* event) {
    QObject* object = event->object();
    if (!isSecret(object))
        return toPlatform(event);
    switch (event->type()) {
    case QAccessible::TextInserted: {
        const auto* e = static_cast<QAccessibleTextInsertEvent*>(event);
        QAccessibleTextInsertEvent stars(object, e->changePosition(),
                                         masked(e->textInserted().size()));
        return toPlatform(&stars);
    }
    case QAccessible::TextRemoved: {
        const auto* e = static_cast<QAccessibleTextRemoveEvent*>(event);
        QAccessibleTextRemoveEvent stars(object, e->changePosition(),
                                         masked(e->textRemoved().size()));
        return toPlatform(&stars);
    }
    case QAccessible::TextUpdated: {
        const auto* e = static_cast<QAccessibleTextUpdateEvent*>(event);
        QAccessibleTextUpdateEvent stars(object, e->changePosition(),
                                         masked(e->textRemoved().size()),
                                         masked(e->textInserted().size()));
        return toPlatform(&stars);
    }
    default:
        return toPlatform(event);
    }
}

// A status bar at the window's corner, too small to see, holding one
// notification; shown anew for each announcement.
class Announcer : public QWidget {
public:
    explicit Announcer(QWidget* window) : QWidget(window), message_(new QWidget(this)) {
        setObjectName(QStringLiteral("orvaneAnnouncer"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(0, 0, 1, 1);
        message_->setGeometry(0, 0, 1, 1);
        message_->hide();
        setAccessibleRole(this, QAccessible::StatusBar);
        setAccessibleRole(message_, QAccessible::Notification);
        window->installEventFilter(this);
        show();
    }

    void say(const QString& text) {
        message_->hide();
        message_->setAccessibleName(text);
        if (parentWidget()->isVisible() && !text.isEmpty())
            message_->show();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        // An announcement belongs to its moment, not to the next showing.
        if (event->type() == QEvent::Hide)
            message_->hide();
        return false;
    }

private:
    QWidget* message_;
};

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

// A field taking the keyboard: Qt 6.4 reports its caret and selection from
// inside the focus change, before the focus itself. Those wait until the
// focus is out (or the turn ends), so that Orca hears the focus first.
struct ArrivingFocus {
    QPointer<QObject> field;
    bool caretMoved = false;
    bool selectionChanged = false;
};

ArrivingFocus& arrivingFocus() {
    static ArrivingFocus arriving;
    return arriving;
}

void releaseArrivingFocus() {
    ArrivingFocus held = std::exchange(arrivingFocus(), {});
    if (!held.field)
        return;
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(held.field);
    QAccessibleTextInterface* text = iface ? iface->textInterface() : nullptr;
    if (!text)
        return;
    if (held.selectionChanged) {
        int start = -1, end = -1;
        if (text->selectionCount() > 0)
            text->selection(0, &start, &end);
        QAccessibleTextSelectionEvent selection(held.field, start, end);
        maskSecretChanges(&selection);
    }
    if (held.caretMoved) {
        QAccessibleTextCursorEvent caret(held.field, text->cursorPosition());
        maskSecretChanges(&caret);
    }
}

// Every update on its way to the platform.
void routeUpdate(QAccessibleEvent* event) {
    ArrivingFocus& arriving = arrivingFocus();
    if (arriving.field && event->object() == arriving.field) {
        switch (event->type()) {
        case QAccessible::TextCaretMoved:
            arriving.caretMoved = true;
            return;
        case QAccessible::TextSelectionChanged:
            arriving.selectionChanged = true;
            return;
        case QAccessible::Focus:
            maskSecretChanges(event);
            return releaseArrivingFocus();
        default:
            break;
        }
    }
    maskSecretChanges(event);
}

void routeUpdates() {
    static const bool installed = [] {
        previousHandler = QAccessible::installUpdateHandler(routeUpdate);
        return true;
    }();
    Q_UNUSED(installed);
}

class FocusFirst : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) {
            releaseArrivingFocus();
            arrivingFocus().field = watched;
            // A focus that never reports itself holds nothing back for long.
            QTimer::singleShot(0, watched, [] { releaseArrivingFocus(); });
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
    QAccessibleEvent event(widget, hidden ? QAccessible::ObjectHide : QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&event);
}

void speakFocusFirst(QWidget* field) {
    routeUpdates();
    field->installEventFilter(new FocusFirst(field));
}

std::optional<QString> changedText(const std::optional<QString>& before,
                                   const std::optional<QString>& now) {
    if (!now || now->trimmed().isEmpty() || now == before)
        return std::nullopt;
    return now->trimmed();
}

void announce(QWidget* within, const QString& text) {
    if (!within)
        return;
    QWidget* window = within->window();
    auto* announcer = window->findChild<Announcer*>(QStringLiteral("orvaneAnnouncer"),
                                                    Qt::FindDirectChildrenOnly);
    if (!announcer)
        announcer = new Announcer(window);
    announcer->say(text);
}

void keepTextSecret(QLineEdit* field) {
    static const bool installed = [] {
        QAccessible::installFactory(secretFactory);
        routeUpdates();
        return true;
    }();
    Q_UNUSED(installed);
    field->setProperty(kSecretProperty, true);
    // An interface made before the mark would read the text in clear.
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(field);
    if (made && !dynamic_cast<SecretLineAccessible*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

void pressOnReturn(QAbstractButton* button) {
    button->installEventFilter(new ReturnPresses(button));
}

} // namespace orvane
