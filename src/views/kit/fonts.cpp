#include "views/kit/fonts.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QThread>

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace orvane {

namespace {

int requestedWeight(FontWeight weight) {
    switch (weight) {
    case FontWeight::Regular:
        return QFont::Normal;
    case FontWeight::Medium:
        return QFont::Medium;
    case FontWeight::Semibold:
        return QFont::DemiBold;
    case FontWeight::Bold:
        return QFont::Bold;
    }
    return QFont::Normal;
}

// The family's upright weight closest to `wanted`; on a tie the heavier one.
// Without this, fontconfig would embolden a regular face for a weight the
// family lacks.
int nearestWeight(const QString& family, int wanted) {
    static QHash<QString, QList<int>> weightsByFamily;
    auto found = weightsByFamily.find(family);
    if (found == weightsByFamily.end()) {
        QList<int> weights;
        for (const QString& style : QFontDatabase::styles(family))
            if (!QFontDatabase::italic(family, style))
                weights.append(QFontDatabase::weight(family, style));
        found = weightsByFamily.insert(family, weights);
    }
    int best = wanted;
    int bestDistance = -1;
    for (const int weight : *found) {
        const int distance = std::abs(weight - wanted);
        if (bestDistance < 0 || distance < bestDistance ||
            (distance == bestDistance && weight > best)) {
            best = weight;
            bestDistance = distance;
        }
    }
    return best;
}

QFont sized(QFont font, qreal pixelSize, FontWeight weight) {
    font.setPixelSize(std::max(1, qRound(pixelSize)));
    // Pin the family fontconfig resolved, so the weight comes from its faces.
    const QString family = QFontInfo(font).family();
    font.setFamily(family);
    font.setWeight(QFont::Weight(nearestWeight(family, requestedWeight(weight))));
    return font;
}

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

qreal digitCell(const QFontMetricsF& metrics) {
    qreal widest = 0;
    for (char16_t d = u'0'; d <= u'9'; ++d)
        widest = std::max(widest, metrics.horizontalAdvance(QChar(d)));
    return widest;
}

// Walks `text` as runs of other characters (measured whole, so kerning and
// ligatures stay) and single digits (each in its cell).
template <typename Visit>
qreal walkDigitCells(const QFont& font, const QString& text, Visit visit) {
    const QFontMetricsF metrics(font);
    const qreal cell = digitCell(metrics);
    qreal x = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        if (isDigit(text[i])) {
            const QString digit(text[i]);
            visit(x + (cell - metrics.horizontalAdvance(text[i])) / 2, digit);
            x += cell;
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < text.size() && !isDigit(text[end]))
            ++end;
        const QString run = text.mid(i, end - i);
        visit(x, run);
        x += metrics.horizontalAdvance(run);
        i = end;
    }
    return x;
}

} // namespace

namespace {
// Resolving a family asks fontconfig and builds a font engine: the views ask
// for the same few fonts at every paint, so each is resolved once, and again
// only when the desktop's font changes. Kept fonts keep their engines too.
struct Cache {
    std::optional<QFont> base;
    QHash<quint32, QFont> fonts;
};
// Never destroyed: fonts must not outlive the application's font cache.
Cache* const caches = new Cache[2];

QFont cachedFont(QFontDatabase::SystemFont kind, qreal pixelSize, FontWeight weight) {
    DesktopFonts::shared().follow();
    Cache& cache = caches[kind == QFontDatabase::FixedFont ? 1 : 0];
    if (!cache.base)
        cache.base = QFontDatabase::systemFont(kind);
    const int pixels = std::max(1, qRound(pixelSize));
    const quint32 key = (quint32(pixels) << 2) | quint32(weight);
    auto found = cache.fonts.constFind(key);
    if (found == cache.fonts.constEnd())
        found = cache.fonts.insert(key, sized(*cache.base, pixels, weight));
    return *found;
}

bool sameFont(const QFont& a, const QFont& b) {
    return a == b && a.family() == b.family();
}
} // namespace

DesktopFonts& DesktopFonts::shared() {
    static auto* fonts = new DesktopFonts;
    return *fonts;
}

DesktopFonts::DesktopFonts()
    : m_general(QFontDatabase::systemFont(QFontDatabase::GeneralFont)),
      m_fixed(QFontDatabase::systemFont(QFontDatabase::FixedFont)) {
    // Whatever uses a font first makes this, perhaps on a worker thread; Qt
    // lets only an object of the GUI thread filter the application's events.
    QCoreApplication* app = QCoreApplication::instance();
    moveToThread(app->thread());
    // Every event passes the filter, so its test is one comparison of its type.
    if (QThread::currentThread() == app->thread())
        app->installEventFilter(this);
    else
        QMetaObject::invokeMethod(
            this, [this, app] { app->installEventFilter(this); }, Qt::QueuedConnection);
}

void DesktopFonts::follow() {
    const QFont general = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (sameFont(general, m_general) && sameFont(fixed, m_fixed))
        return;
    m_general = general;
    m_fixed = fixed;
    for (Cache* cache : {&caches[0], &caches[1]})
        *cache = Cache();
    Q_EMIT changed();
}

bool DesktopFonts::eventFilter(QObject*, QEvent* event) {
    // A theme change goes to every window, and changes the fonts at most once.
    if (event->type() == QEvent::ThemeChange || event->type() == QEvent::ApplicationFontChange)
        follow();
    return false;
}

QFont systemFont(qreal pixelSize, FontWeight weight) {
    return cachedFont(QFontDatabase::GeneralFont, pixelSize, weight);
}

QFont monospacedFont(qreal pixelSize, FontWeight weight) {
    return cachedFont(QFontDatabase::FixedFont, pixelSize, weight);
}

qreal digitCellTextWidth(const QFont& font, const QString& text) {
    return walkDigitCells(font, text, [](qreal, const QString&) {});
}

void drawDigitCellText(QPainter& painter, const QPointF& baselineStart, const QFont& font,
                       const QString& text) {
    painter.save();
    painter.setFont(font);
    walkDigitCells(font, text, [&](qreal x, const QString& piece) {
        painter.drawText(baselineStart + QPointF(x, 0), piece);
    });
    painter.restore();
}

} // namespace orvane
