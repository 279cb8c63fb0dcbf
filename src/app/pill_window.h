#pragma once

#include "app/menu_bar_pill_view.h"

#include <QWidget>

namespace orvane {

// The status item's first form, for desktops without a notification area
// that takes our item: the pill in a small window of its own at the bottom
// right of the primary screen, clear of panels and of title-bar buttons.
// Opaque with a mask on X11, since a translucent window shows garbage without
// a compositor; translucent on Wayland, where every compositor blends.
class PillWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPaddingX = 8;
    static constexpr int kPaddingY = 5;
    static constexpr int kMargin = 12;

    PillWindow(AppStore& store, std::function<void()> onTap);

    MenuBarPillView* pill() const { return pill_; }
    // The status item's length: the width given to the pill.
    void setItemLength(int length);
    int itemLength() const { return pill_->width(); }
    // Where the window is, in global coordinates, and the pill's centre. Kept
    // from our own placement: a reparenting window manager (openbox) leaves
    // Qt believing the window sits at 0, 0.
    QRect anchor() const;
    QPoint pillCenter() const;
    // Back to the bottom right of the primary screen's available area.
    void place();
    // Shown on every workspace, above normal windows, out of the taskbar.
    void setVisible(bool visible) override;

Q_SIGNALS:
    void clicked();
    void geometryChanged();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    MenuBarPillView* pill_;
    QPoint placedAt_;
};

} // namespace orvane
