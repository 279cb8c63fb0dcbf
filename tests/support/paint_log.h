#pragma once

#include <QEvent>
#include <QObject>
#include <QPaintEvent>
#include <QRegion>
#include <QWidget>

#include <vector>

namespace orvane::test {

// The regions a widget is asked to paint, in its own coordinates.
class PaintLog : public QObject {
public:
    explicit PaintLog(QWidget* widget) { widget->installEventFilter(this); }
    std::vector<QRegion> regions;
    QRegion all() const {
        QRegion united;
        for (const QRegion& r : regions)
            united += r;
        return united;
    }
    void clear() { regions.clear(); }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            regions.push_back(static_cast<QPaintEvent*>(event)->region());
        return false;
    }
};

} // namespace orvane::test
