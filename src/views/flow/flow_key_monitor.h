#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

namespace orvane {

// Gives the picker its keys without taking the focus from its search field:
// an application-wide key filter that, while its anchor is visible, turns
// Up, Down, Return, keypad Enter and Escape of the anchor's window into four
// callbacks and swallows them. Every other key, and every key of another
// window, passes on unchanged. The callbacks run before the filter returns.
class FlowKeyMonitor : public QObject {
    Q_OBJECT
public:
    struct Callbacks {
        std::function<void()> onArrowUp;
        std::function<void()> onArrowDown;
        std::function<void()> onReturn;
        std::function<void()> onEscape;
    };
    enum class FlowKey { ArrowUp, ArrowDown, Return, Escape };
    // The flow key of a Qt key, whatever the modifiers; none for the rest.
    static std::optional<FlowKey> flowKey(int key);

    explicit FlowKeyMonitor(Callbacks callbacks, QObject* parent = nullptr);
    ~FlowKeyMonitor() override;

    // The next key runs these.
    void setCallbacks(Callbacks callbacks) { callbacks_ = std::move(callbacks); }
    // Remembers the anchor and installs the filter, ahead of every filter
    // installed before; one filter however often it is called.
    void attach(QWidget* anchor);
    // Removes the filter and forgets the anchor.
    void detach();
    bool isAttached() const { return installed_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool inAnchorWindow(QObject* watched) const;

    Callbacks callbacks_;
    QPointer<QWidget> anchor_;
    bool installed_ = false;
};

} // namespace orvane
