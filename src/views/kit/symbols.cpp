#include "views/kit/symbols.h"

#include <QPainter>
#include <QPainterPathStroker>
#include <QTransform>

#include <array>
#include <cmath>
#include <map>
#include <numbers>
#include <utility>

namespace orvane {

namespace {

// Line width of a symbol drawn next to text of a weight, as a share of its box.
qreal lineWidth(FontWeight weight) {
    switch (weight) {
    case FontWeight::Regular:
        return 0.08;
    case FontWeight::Medium:
        return 0.095;
    case FontWeight::Semibold:
        return 0.11;
    case FontWeight::Bold:
        return 0.125;
    }
    return 0.08;
}

// Strokes and boolean operations turn curves into polygons with tolerances
// in absolute units, far too coarse for a 1 × 1 box: they work on the drawing
// blown up by this factor.
constexpr qreal kWorkScale = 1000;

QPainterPath up(const QPainterPath& path) {
    return QTransform::fromScale(kWorkScale, kWorkScale).map(path);
}

QPainterPath down(const QPainterPath& path) {
    return QTransform::fromScale(1 / kWorkScale, 1 / kWorkScale).map(path);
}

QPainterPath unite(const QPainterPath& a, const QPainterPath& b) {
    return down(up(a).united(up(b)));
}

QPainterPath subtract(const QPainterPath& a, const QPainterPath& b) {
    return down(up(a).subtracted(up(b)));
}

QPainterPath stroke(const QPainterPath& path, qreal width, Qt::PenCapStyle cap = Qt::RoundCap) {
    QPainterPathStroker stroker;
    stroker.setWidth(width * kWorkScale);
    stroker.setCapStyle(cap);
    stroker.setJoinStyle(Qt::RoundJoin);
    // Stroke outlines overlap themselves; make them one plain outline.
    return down(stroker.createStroke(up(path)).simplified());
}

QPainterPath polyline(std::initializer_list<QPointF> points) {
    QPainterPath path;
    bool first = true;
    for (const QPointF& point : points) {
        if (first)
            path.moveTo(point);
        else
            path.lineTo(point);
        first = false;
    }
    return path;
}

QPainterPath line(QPointF from, QPointF to) {
    return polyline({from, to});
}

QPainterPath circle(QPointF centre, qreal radius) {
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return path;
}

// A slash from top left to bottom right, cut free from what it crosses.
QPainterPath slashed(const QPainterPath& shape, qreal w) {
    const QPainterPath slash = line({0.12, 0.1}, {0.88, 0.9});
    return unite(subtract(shape, stroke(slash, w + 0.09)), stroke(slash, w));
}

QPainterPath pauseFill(qreal) {
    QPainterPath path;
    path.addRoundedRect(QRectF(0.22, 0.14, 0.2, 0.72), 0.05, 0.05);
    path.addRoundedRect(QRectF(0.58, 0.14, 0.2, 0.72), 0.05, 0.05);
    return path;
}

QPainterPath playFill(qreal) {
    QPainterPath triangle = polyline({{0.28, 0.16}, {0.28, 0.84}, {0.84, 0.5}});
    triangle.closeSubpath();
    // The stroke rounds the corners.
    return unite(triangle, stroke(triangle, 0.08));
}

QPainterPath stopFill(qreal) {
    QPainterPath path;
    path.addRoundedRect(QRectF(0.16, 0.16, 0.68, 0.68), 0.12, 0.12);
    return path;
}

QPainterPath plus(qreal w) {
    return unite(stroke(line({0.5, 0.14}, {0.5, 0.86}), w),
                 stroke(line({0.14, 0.5}, {0.86, 0.5}), w));
}

QPainterPath chevronRight(qreal w) {
    return stroke(polyline({{0.37, 0.12}, {0.66, 0.5}, {0.37, 0.88}}), w);
}

QPainterPath chevronLeft(qreal w) {
    return stroke(polyline({{0.63, 0.12}, {0.34, 0.5}, {0.63, 0.88}}), w);
}

QPainterPath checkmark(qreal w) {
    return stroke(polyline({{0.14, 0.54}, {0.4, 0.8}, {0.86, 0.2}}), w);
}

QPainterPath xmark(qreal w) {
    return unite(stroke(line({0.2, 0.2}, {0.8, 0.8}), w), stroke(line({0.8, 0.2}, {0.2, 0.8}), w));
}

QPainterPath eyeFill(qreal) {
    QPainterPath almond;
    almond.moveTo(0.04, 0.5);
    almond.cubicTo(0.22, 0.16, 0.78, 0.16, 0.96, 0.5);
    almond.cubicTo(0.78, 0.84, 0.22, 0.84, 0.04, 0.5);
    almond.closeSubpath();
    const QPointF centre(0.5, 0.5);
    // Softened tips; a ring of the fill cut out around the pupil.
    const QPainterPath body = unite(almond, stroke(almond, 0.05));
    return unite(subtract(body, circle(centre, 0.2)), circle(centre, 0.12));
}

QPainterPath eyeSlashFill(qreal w) {
    return slashed(eyeFill(w), w);
}

QPainterPath sunMaxFill(qreal w) {
    const QPointF centre(0.5, 0.5);
    QPainterPath path = circle(centre, 0.19);
    for (int i = 0; i < 8; ++i) {
        const qreal angle = i * std::numbers::pi / 4;
        const QPointF direction(std::cos(angle), std::sin(angle));
        path = unite(path, stroke(line(centre + 0.3 * direction, centre + 0.42 * direction), w));
    }
    return path;
}

QPainterPath moonFill(qreal) {
    return subtract(circle({0.47, 0.53}, 0.38), circle({0.7, 0.3}, 0.3));
}

QPainterPath lockFill(qreal w) {
    QPainterPath body;
    body.addRoundedRect(QRectF(0.2, 0.44, 0.6, 0.48), 0.08, 0.08);
    QPainterPath shackle;
    shackle.moveTo(0.32, 0.48);
    shackle.lineTo(0.32, 0.3);
    shackle.arcTo(QRectF(0.32, 0.12, 0.36, 0.36), 180, -180);
    shackle.lineTo(0.68, 0.48);
    return unite(body, stroke(shackle, w * 1.1, Qt::FlatCap));
}

QPainterPath timer(qreal w) {
    const QPointF centre(0.5, 0.54);
    const qreal radius = 0.38;
    // The dial is open at the top where its winder sits.
    QPainterPath dial;
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    dial.arcMoveTo(box, 100);
    dial.arcTo(box, 100, 340);
    QPainterPath path = stroke(dial, w);
    path = unite(path, stroke(line({0.5, 0.1}, {0.5, 0.26}), w));
    path = unite(path, stroke(line(centre, {0.35, 0.39}), w));
    return unite(path, circle(centre, w * 0.9));
}

QPainterPath magnifyingglass(qreal w) {
    return unite(stroke(circle({0.42, 0.42}, 0.27), w),
                 stroke(line({0.63, 0.63}, {0.86, 0.86}), w * 1.4));
}

// A bust, head and shoulders; `size` 1 is about 0.64 high.
struct Bust {
    QPainterPath head;
    QPainterPath torso;

    Bust(QPointF centre, qreal size) {
        head = circle(centre, 0.13 * size);
        const qreal half = 0.25 * size;
        const qreal base = centre.y() + 0.5 * size;
        torso.moveTo(centre.x() - half, base);
        torso.lineTo(centre.x() - half, base - 0.06 * size);
        torso.cubicTo(centre.x() - half, base - 0.36 * size, centre.x() + half, base - 0.36 * size,
                      centre.x() + half, base - 0.06 * size);
        torso.lineTo(centre.x() + half, base);
        torso.closeSubpath();
    }
    QPainterPath outline(qreal w) const { return unite(stroke(head, w), stroke(torso, w)); }
    QPainterPath area() const { return unite(head, torso); }
};

QPainterPath person2Slash(qreal w) {
    const Bust front({0.3, 0.46}, 0.9);
    const Bust back({0.66, 0.3}, 0.75);
    // The one behind is hidden by the one in front, with a little air between.
    const QPainterPath cover = unite(front.area(), stroke(front.area(), w * 3));
    return slashed(unite(front.outline(w), subtract(back.outline(w), cover)), w);
}

QPainterPath folderBadgePlus(qreal w) {
    QPainterPath folder =
        polyline({{0.06, 0.22}, {0.34, 0.22}, {0.42, 0.31}, {0.9, 0.31}, {0.9, 0.8}, {0.06, 0.8}});
    folder.closeSubpath();
    const QPointF badgeCentre(0.76, 0.74);
    const qreal badgeRadius = 0.23;
    QPainterPath outline = unite(stroke(folder, w), stroke(line({0.06, 0.4}, {0.9, 0.4}), w));
    outline = subtract(outline, circle(badgeCentre, badgeRadius + 0.06));
    const qreal arm = 0.11;
    const QPainterPath cross =
        unite(stroke(line(badgeCentre - QPointF(arm, 0), badgeCentre + QPointF(arm, 0)), w * 0.9),
              stroke(line(badgeCentre - QPointF(0, arm), badgeCentre + QPointF(0, arm)), w * 0.9));
    return unite(outline, subtract(circle(badgeCentre, badgeRadius), cross));
}

QPainterPath checklist(qreal w) {
    QPainterPath path;
    for (const qreal y : {0.22, 0.5, 0.78}) {
        path = unite(path, stroke(polyline({{0.08, y}, {0.15, y + 0.07}, {0.28, y - 0.08}}), w));
        path = unite(path, stroke(line({0.42, y}, {0.92, y}), w));
    }
    return path;
}

// A warning: a triangle on its base with an exclamation mark inside.
QPainterPath exclamationmarkTriangle(qreal w) {
    QPainterPath triangle = polyline({{0.5, 0.12}, {0.92, 0.86}, {0.08, 0.86}});
    triangle.closeSubpath();
    const QPainterPath mark =
        unite(stroke(line({0.5, 0.38}, {0.5, 0.6}), w), circle({0.5, 0.73}, w * 0.6));
    return unite(stroke(triangle, w), mark);
}

using Build = QPainterPath (*)(qreal lineWidth);

constexpr std::array<std::pair<const char16_t*, Build>, 19> kSymbols{{
    {u"pause.fill", pauseFill},
    {u"play.fill", playFill},
    {u"stop.fill", stopFill},
    {u"plus", plus},
    {u"chevron.right", chevronRight},
    {u"chevron.left", chevronLeft},
    {u"eye.fill", eyeFill},
    {u"eye.slash.fill", eyeSlashFill},
    {u"checkmark", checkmark},
    {u"xmark", xmark},
    {u"person.2.slash", person2Slash},
    {u"folder.badge.plus", folderBadgePlus},
    {u"checklist", checklist},
    {u"exclamationmark.triangle", exclamationmarkTriangle},
    {u"lock.fill", lockFill},
    {u"timer", timer},
    {u"sun.max.fill", sunMaxFill},
    {u"moon.fill", moonFill},
    {u"magnifyingglass", magnifyingglass},
}};

Build builderFor(QStringView name) {
    for (const auto& [symbolName, build] : kSymbols)
        if (name == QStringView(symbolName))
            return build;
    return nullptr;
}

QTransform unitBoxTo(const QRectF& box) {
    const qreal side = std::min(box.width(), box.height());
    QTransform transform;
    transform.translate(box.center().x() - side / 2, box.center().y() - side / 2);
    transform.scale(side, side);
    return transform;
}

} // namespace

QPainterPath symbolPath(QStringView name) {
    return symbolPath(name, FontWeight::Regular);
}

QPainterPath symbolPath(QStringView name, FontWeight weight) {
    // Boolean path operations are not cheap; views repaint often.
    static std::map<std::pair<QString, FontWeight>, QPainterPath> cache;
    const Build build = builderFor(name);
    if (!build)
        return {};
    const auto key = std::make_pair(name.toString(), weight);
    auto found = cache.find(key);
    if (found == cache.end()) {
        found = cache.emplace(key, build(lineWidth(weight))).first;
    }
    return found->second;
}

bool hasSymbol(QStringView name) {
    return builderFor(name) != nullptr;
}

QStringList symbolNames() {
    QStringList names;
    for (const auto& entry : kSymbols)
        names.append(QString::fromUtf16(entry.first));
    return names;
}

void drawSymbol(QPainter& painter, QStringView name, const QRectF& box, const QBrush& brush) {
    drawSymbol(painter, name, box, brush, FontWeight::Regular);
}

void drawSymbol(QPainter& painter, QStringView name, const QRectF& box, const QBrush& brush,
                FontWeight weight) {
    const QPainterPath path = symbolPath(name, weight);
    if (path.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(unitBoxTo(box).map(path), brush);
    painter.restore();
}

void drawSymbol(QPainter& painter, QStringView name, QPointF centre, qreal pointSize,
                const QBrush& brush, FontWeight weight) {
    const QRectF box(centre.x() - pointSize / 2, centre.y() - pointSize / 2, pointSize, pointSize);
    drawSymbol(painter, name, box, brush, weight);
}

} // namespace orvane
