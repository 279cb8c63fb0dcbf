#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>

class QVariantAnimation;

namespace orvane {

// The dot at a point of its breath: `progress` 0 is the plain dot, 1 the
// fully grown, faded one.
struct DotLook {
    qreal scale = 1;
    qreal opacity = 1;
};
DotLook dotLook(qreal progress);

// The breath is a loop of `kBreathLoopMs`: out for half of it, back for the
// other half, eased in and out.
inline constexpr int kBreathLoopMs = 2800;
// How far out the dot is at a time of the loop (0 plain, 1 fully grown).
qreal breathProgress(int atMs);
// How many looks the dot takes on the way out: each moves its edge by an
// eighth of a device pixel (and its opacity by as much of its way), finer
// steps draw nothing an eye can tell apart on a dot this small.
int breathStepsPerHalf(qreal devicePixelRatio);
// The look drawn at a time of the loop: 0 plain … `stepsPerHalf` fully
// grown, the eased breath rounded down to its step.
int breathStep(int atMs, int stepsPerHalf);
// The loop time where the drawn step next changes after `atMs`: frames fall
// where the breath has moved a step, so the slow turns cost few frames and
// the fast middle no coarser steps than an even frame rate. After the loop's
// last change it is the next loop's first, past `kBreathLoopMs`.
int nextBreathFrameMs(int atMs, int stepsPerHalf);

// A 5-pt dot that, while `animate` is true, breathes between scale 1 at full
// opacity and scale 1.4 at opacity 0.55, 1.4 s each way. It breathes only
// while it is on screen: hiding stops it, showing it again (or turning
// `animate` on while shown) starts it afresh; with `animate` false it is plain.
class PulsingDot : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal kDiameter = 5;
    // The widget is square and large enough for the grown dot: 1 pt of room
    // around the 5-pt dot.
    static constexpr int kSide = 7;

    explicit PulsingDot(QColor color = Qt::white, bool animate = false, QWidget* parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    bool animate() const { return m_animate; }
    void setAnimate(bool animate);

    // What lies under the dot, drawn by the widget it sits on, with the
    // painter at the dot's origin and `at` the dot's place in that widget.
    // With it the dot paints its whole square, so a frame of the breath
    // repaints those few pixels and none of the widgets beneath.
    using Underlay = std::function<void(QPainter& painter, QPoint at)>;
    void setUnderlay(Underlay underlay);

    bool isPulsing() const;
    DotLook look() const { return dotLook(m_progress); }
    int stepsPerHalf() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void follow(bool onScreen);

    QColor m_color;
    bool m_animate;
    Underlay m_underlay;
    qreal m_progress = 0;
    QVariantAnimation* m_breath; // the breath's curve, set to the time of each frame
    QTimer m_frames;
    QElapsedTimer m_since;
};

} // namespace orvane
