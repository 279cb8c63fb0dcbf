#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
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

// Runs the event loop in rounds until one round lays out and paints nothing:
// what a change left for later has then reached the screen. Each round ends
// with an event posted behind all pending paints.
inline void untilDrawn() {
    class Round : public QObject {
    public:
        int work = 0;
        QEventLoop loop;
        bool event(QEvent* e) override {
            if (e->type() != QEvent::User)
                return QObject::event(e);
            loop.quit();
            return true;
        }
        bool eventFilter(QObject*, QEvent* e) override {
            const QEvent::Type t = e->type();
            work += t == QEvent::LayoutRequest || t == QEvent::UpdateRequest || t == QEvent::Paint;
            return false;
        }
    } round;
    QCoreApplication::instance()->installEventFilter(&round);
    do {
        round.work = 0;
        QCoreApplication::postEvent(&round, new QEvent(QEvent::User), Qt::LowEventPriority);
        round.loop.exec();
    } while (round.work > 0);
    QCoreApplication::instance()->removeEventFilter(&round);
}

} // namespace orvane::test
