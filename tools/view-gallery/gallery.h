#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

namespace orvane::gallery {

enum class Backdrop { Dark, Light };

// One picture: a widget in one state, on a backdrop.
struct Shot {
    QString name; // file name without ".png"
    std::function<QWidget*()> make;
    Backdrop backdrop = Backdrop::Dark;
    int width = 0; // 0: the widget's own size hint
    // Runs once the widget is on (the offscreen) screen, e.g. to stop an
    // animation at a telling moment.
    std::function<void(QWidget*)> settle = {};
};

// A widget that only paints: for sheets of drawings that are not views.
QWidget* paintBox(QSize size, std::function<void(QPainter&, const QRectF&)> paint);

class Gallery {
public:
    void add(Shot shot) { m_shots.push_back(std::move(shot)); }
    // Writes every shot as <outDir>/<name>.png, `scale` device pixels to a
    // logical one; returns how many failed.
    int writeAll(const QString& outDir, qreal scale) const;

private:
    std::vector<Shot> m_shots;
};

// Preferences and keychain of the pictures' own, never the user's, and a
// service address on this machine that takes requests and never answers, so
// that no refresh changes a picture's scripted state.
void isolateFromUser();

// The shots of each part of the app, registered by main().
void addKitShots(Gallery& gallery);
void addAppShots(Gallery& gallery);
void addLoginShots(Gallery& gallery);
void addPopoverShots(Gallery& gallery);
void addTimerViewShots(Gallery& gallery);
void addFlowShots(Gallery& gallery);

} // namespace orvane::gallery
