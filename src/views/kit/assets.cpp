#include "views/kit/assets.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

#include <map>
#include <memory>

// The resources live in a static library: nothing would pull them in.
static void registerAssetResources() {
    Q_INIT_RESOURCE(assets);
}

namespace orvane {

namespace {

QSvgRenderer* renderer(QStringView name) {
    static const bool registered = (registerAssetResources(), true);
    Q_UNUSED(registered);
    static std::map<QString, std::unique_ptr<QSvgRenderer>> renderers;
    const QString key = name.toString();
    auto found = renderers.find(key);
    if (found == renderers.end()) {
        // Only plain names: no path can be smuggled into the resource lookup.
        std::unique_ptr<QSvgRenderer> loaded;
        const QString path = QStringLiteral(":/assets/%1.svg").arg(key);
        if (!key.isEmpty() && !key.contains(u'/') && !key.contains(u'.') && QFile::exists(path))
            loaded = std::make_unique<QSvgRenderer>(path);
        if (loaded && !loaded->isValid())
            loaded.reset();
        found = renderers.emplace(key, std::move(loaded)).first;
    }
    return found->second.get();
}

} // namespace

QSizeF assetSize(QStringView name) {
    QSvgRenderer* svg = renderer(name);
    return svg ? svg->viewBoxF().size() : QSizeF();
}

void drawAsset(QPainter& painter, QStringView name, const QRectF& box) {
    QSvgRenderer* svg = renderer(name);
    if (!svg || box.isEmpty())
        return;
    const QSizeF fitted = svg->viewBoxF().size().scaled(box.size(), Qt::KeepAspectRatio);
    const QRectF target(box.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    svg->render(&painter, target);
    painter.restore();
}

QPixmap assetPixmap(QStringView name, QSize logicalSize, qreal devicePixelRatio) {
    if (!renderer(name) || logicalSize.isEmpty())
        return {};
    QPixmap pixmap(logicalSize * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    drawAsset(painter, name, QRectF(QPointF(0, 0), QSizeF(logicalSize)));
    return pixmap;
}

} // namespace orvane
