#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QPropertyAnimation>
#include <QWidget>

namespace orvane {

// The popover: one frameless tool window of a fixed size that opens next to
// its anchor, takes the keyboard, and closes when the application loses
// activation, as a transient popover does.
class PopoverWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize kSize{400, 560};
    // A toggle this soon after an automatic close is the click that caused
    // the close (on the anchor): it must not open the popover again.
    static constexpr qint64 kToggleGraceMs = 250;

    explicit PopoverWindow(QWidget* parent = nullptr);

    // The view shown inside; the window owns it.
    void setContent(QWidget* content);
    QWidget* content() const { return content_; }

    // Opens next to `anchor` (global coordinates) on the anchor's screen.
    void openAt(const QRect& anchor);
    // Closes without animation.
    void dismiss();
    // Whether a toggle now should be ignored (see kToggleGraceMs).
    bool justClosedByItself() const;
    // Slides horizontally by `dx` in 0.2 s.
    void slideBy(int dx);
    bool sliding() const { return slide_.state() == QAbstractAnimation::Running; }

Q_SIGNALS:
    void shownChanged(bool shown);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void closeByItself();

    QPointer<QWidget> content_;
    QPropertyAnimation slide_;
    QElapsedTimer closedByItself_;
};

} // namespace orvane
