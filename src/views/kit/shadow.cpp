#include "views/kit/shadow.h"

#include <QImage>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace orvane {

namespace {

// One pass of a running-sum box blur over `count` values `stride` apart.
void boxBlurLine(const uchar* in, uchar* out, int count, int stride, int radius) {
    const int window = 2 * radius + 1;
    int sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += (i >= 0 && i < count) ? in[i * stride] : 0;
    for (int i = 0; i < count; ++i) {
        out[i * stride] = uchar(sum / window);
        const int leaving = i - radius;
        const int entering = i + radius + 1;
        sum -= leaving >= 0 ? in[leaving * stride] : 0;
        sum += entering < count ? in[entering * stride] : 0;
    }
}

// Three box blurs come close to a Gaussian of deviation `sigma`.
void gaussianBlur(std::vector<uchar>& alpha, int width, int height, qreal sigma) {
    const int radius = std::max(1, int(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
    std::vector<uchar> scratch(alpha.size());
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < height; ++y)
            boxBlurLine(alpha.data() + y * width, scratch.data() + y * width, width, 1, radius);
        for (int x = 0; x < width; ++x)
            boxBlurLine(scratch.data() + x, alpha.data() + x, height, width, radius);
    }
}

} // namespace

void drawShadow(QPainter& painter, const QPainterPath& shape, const QColor& color, qreal radius,
                QPointF offset) {
    if (shape.isEmpty() || radius <= 0 || color.alpha() == 0)
        return;
    const QTransform& t = painter.worldTransform();
    const qreal deviceRatio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const qreal scale = deviceRatio * std::sqrt(std::abs(t.determinant()));
    // The blur is a Gaussian whose deviation is half the radius; three
    // deviations hold nearly all of it.
    const qreal sigma = radius / 2 * scale;
    const qreal margin = std::ceil(3 * radius / 2) + 1;
    const QRectF bounds =
        shape.boundingRect().translated(offset).adjusted(-margin, -margin, margin, margin);
    const int width = int(std::ceil(bounds.width() * scale));
    const int height = int(std::ceil(bounds.height() * scale));
    if (width <= 0 || height <= 0)
        return;

    QImage mask(width, height, QImage::Format_Alpha8);
    mask.fill(0);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(scale, scale);
        p.translate(-bounds.topLeft() + offset);
        p.fillPath(shape, Qt::black);
    }
    std::vector<uchar> alpha(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y)
        std::copy_n(mask.constScanLine(y), width, alpha.begin() + y * width);
    gaussianBlur(alpha, width, height, sigma);

    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    const QRgb base = color.rgba();
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int a = alpha[size_t(y) * size_t(width) + size_t(x)] * qAlpha(base) / 255;
            line[x] = qPremultiply(qRgba(qRed(base), qGreen(base), qBlue(base), a));
        }
    }
    image.setDevicePixelRatio(scale);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(bounds.topLeft(), image);
    painter.restore();
}

} // namespace orvane
