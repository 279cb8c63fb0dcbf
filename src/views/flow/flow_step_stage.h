#pragma once

#include <QPixmap>
#include <QWidget>

#include <vector>

class QVariantAnimation;

namespace orvane {

// The area below the search row that holds one page per step. A change of
// step slides the new page in (from the trailing edge when going forward,
// from the leading edge when going back) while a still picture of the old
// one slides out; both stay inside the area. The live page is the new step's
// from the first frame, so keys and clicks during the slide act on it; the
// picture takes clicks and does nothing with them.
class FlowStepStage : public QWidget {
    Q_OBJECT
public:
    enum class Motion {
        Spring,  // pushes and the back key: mass 0.5, stiffness 170, damping 22
        Default, // the resets of the empty states: ease in and out, 0.35 s
    };
    static constexpr int kSpringMs = 600;
    static constexpr int kDefaultMs = 350;

    explicit FlowStepStage(QWidget* parent = nullptr);

    void addPage(QWidget* page);
    int currentIndex() const { return current_; }
    QWidget* currentPage() const;
    // Shows page `index`, sliding while on screen; at once when hidden. A
    // slide still running ends first.
    void setCurrentIndex(int index, Motion motion);
    bool isSliding() const;
    // The still picture of the page sliding out; hidden when no slide runs.
    QWidget* outgoingPicture() const { return ghost_; }

    // The spring's path from 0 to 1 over its duration (t in 0…1).
    static qreal springProgress(qreal t);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void place(qreal progress);
    void finish();

    std::vector<QWidget*> pages_;
    int current_ = 0;
    int direction_ = 1; // +1 forward, -1 back
    qreal progress_ = 1;
    QWidget* ghost_;
    QVariantAnimation* slide_;
};

} // namespace orvane
