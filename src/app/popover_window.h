#pragma once

#include "app/popover_placement.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QPropertyAnimation>
#include <QWidget>

#include <functional>
#include <optional>

class QScreen;

namespace orvane {

// The area of `screen` the popover stands in: the screen's available area
// less what the desktop's panels reserve on it, and inside the screen's
// pixels also at a fractional scale.
QRect popoverAreaOf(const QScreen& screen, const std::optional<DesktopPanels>& panels);

// The popover: one frameless tool window of a fixed size that opens next to
// its anchor, takes the keyboard, and closes when the application loses
// activation, as a transient popover does.
class PopoverWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize kSize{400, 560};
    // A toggle this soon after an automatic close is the click that caused
    // the close (on the anchor): it must not open the popover again.
    static constexpr qint64 kToggleGraceMs = orvane::kToggleGraceMs;

    explicit PopoverWindow(QWidget* parent = nullptr);

    // The view shown inside; the window owns it.
    void setContent(QWidget* content);
    QWidget* content() const { return content_; }

    // Opens next to `anchor` (global coordinates) on the anchor's screen,
    // un-minimised, raised and active.
    void openAt(const QRect& anchor);
    // Shown to the user: visible and not minimised.
    bool isOpen() const { return isVisible() && !isMinimized(); }
    // Whether Escape closes the popover now (no panel up that owns it).
    void setEscapeCloses(std::function<bool()> closes) { escapeCloses_ = std::move(closes); }
    // Closes without animation.
    void dismiss();
    // Whether a toggle now should be ignored (see kToggleGraceMs).
    bool justClosedByItself() const;
    // Slides horizontally by `dx` in 0.2 s, never past the edges of the
    // screen it opened on.
    void slideBy(int dx);
    // Where the last slide ends (the current place when none runs).
    QPoint slideTarget() const;
    bool sliding() const { return slide_.state() == QAbstractAnimation::Running; }

Q_SIGNALS:
    void shownChanged(bool shown);
    // Closed on losing the keyboard (or the activation).
    void closedByItself();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void closeBecauseInactive();

    QPointer<QWidget> content_;
    QPropertyAnimation slide_;
    QElapsedTimer closedByItself_;
    QRect available_; // the opening screen's area
    QPoint followed_; // where the anchor's moves would have taken it
    std::function<bool()> escapeCloses_;
    bool dismissing_ = false;
};

} // namespace orvane
