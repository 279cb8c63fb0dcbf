#include "app/status_icon.h"

#include "views/kit/assets.h"
#include "views/kit/fonts.h"
#include "views/kit/palette.h"
#include "views/kit/symbols.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QStandardPaths>

#include <algorithm>

#include <cerrno>
#include <signal.h>
#include <unistd.h>

namespace orvane {

QImage statusIconImage(PillContent::Kind kind, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    drawAsset(p, u"OIcon", QRectF(0, 0, size, size));
    if (kind != PillContent::Kind::SignedOut) {
        const qreal badge = size * 0.5;
        const QRectF disc(size - badge, size - badge, badge, badge);
        p.setPen(QPen(QColor(255, 255, 255, 220), std::max<qreal>(1.0, size / 22.0)));
        p.setBrush(Palette::bgDeep());
        p.drawEllipse(disc.adjusted(0.5, 0.5, -0.5, -0.5));
        const qreal inset = badge * 0.28;
        const QRectF mark = disc.adjusted(inset, inset, -inset, -inset);
        if (kind == PillContent::Kind::Running) {
            p.setPen(Qt::NoPen);
            p.setBrush(Palette::pink());
            p.drawEllipse(mark);
        } else {
            drawSymbol(p, u"pause.fill", mark, QColor(Qt::white));
        }
    }
    p.end();
    return image;
}

QList<QImage> statusIconImages(PillContent::Kind kind) {
    QList<QImage> images;
    for (const int size : {16, 22, 32, 48})
        images.append(statusIconImage(kind, size));
    return images;
}

StatusIconFace statusIconFace(const PillContent& content) {
    if (content.kind != PillContent::Kind::Running)
        return {content.kind, {}};
    // "HH:MM:SS", hours uncapped: hours without the leading zero, then minutes.
    const QStringList parts = content.text.split(u':');
    if (parts.size() != 3)
        return {content.kind, {}};
    bool ok = false;
    const qint64 hours = parts[0].toLongLong(&ok);
    if (!ok || parts[1].size() != 2)
        return {content.kind, {}};
    return {content.kind, QString::number(hours) + u':' + parts[1]};
}

namespace {

// Panels draw the item as a square of 16 to 24 pixels, whatever the pixmap's
// shape (a wider one is only scaled down): the time gets the whole square,
// its glyphs drawn narrower than the font's so that the digits can be taller.
QImage statusClockImage(const QString& clock, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF box(0, 0, size, size);
    // The pink rim says "running", as the pill's dot does.
    const qreal rim = std::max<qreal>(1.0, size / 16.0);
    p.setPen(QPen(Palette::pink(), rim));
    p.setBrush(Palette::bgDeep());
    p.drawRoundedRect(box.adjusted(rim / 2, rim / 2, -rim / 2, -rim / 2), size * 0.2, size * 0.2);

    // As tall as the square allows, then as narrow as still reads: fonts
    // differ much in how wide their digits are (DejaVu's are wide).
    const qreal room = size - 2 * rim - std::max<qreal>(1.0, size * 0.05);
    // Each size's font is resolved once and kept (with its engine): the
    // search measures a few sizes every minute.
    QFont font;
    QRectF ink;
    qreal squeeze = 1.0;
    for (int px = int(size * 0.8); px >= 4; --px) {
        font = systemFont(px, FontWeight::Bold);
        ink = QFontMetricsF(font).tightBoundingRect(clock);
        if (ink.height() > size * 0.55 || ink.width() <= 0)
            continue;
        squeeze = std::min(0.85, room / ink.width());
        if (squeeze >= 0.6)
            break;
    }
    p.setFont(font);
    p.setPen(Qt::white);
    p.translate(size / 2.0, size / 2.0);
    p.scale(squeeze, 1.0);
    p.drawText(-ink.center(), clock);
    p.end();
    return image;
}

} // namespace

QList<QImage> statusIconImages(const StatusIconFace& face) {
    if (face.clock.isEmpty())
        return statusIconImages(face.kind);
    QList<QImage> images;
    for (const int size : {16, 22, 32, 48})
        images.append(statusClockImage(face.clock, size));
    return images;
}

QString statusToolTipTitle(const PillContent& content) {
    if (content.text.isEmpty())
        return QStringLiteral("Orvane");
    return QStringLiteral("Orvane ") + content.text;
}

QString statusLabel(const PillContent& content) {
    if (content.kind == PillContent::Kind::SignedOut && content.text.isEmpty())
        return QStringLiteral("Orvane");
    return content.text;
}

namespace {
QString iconFolderBase() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return base.isEmpty() ? QDir::tempPath() : base;
}

// The folder carries its process id, so that one a crash or a kill left
// behind is told apart from a running Orvane's and cleared at the next start.
QString iconFolderTemplate() {
    const QDir base(iconFolderBase());
    const QString prefix = QStringLiteral("orvane-icons-");
    for (const QString& name : base.entryList({prefix + u'*'}, QDir::Dirs | QDir::NoSymLinks)) {
        bool ok = false;
        const qint64 pid = name.mid(prefix.size()).section(u'-', 0, 0).toLongLong(&ok);
        if (ok && pid > 0 && pid != getpid() && kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            QDir(base.filePath(name)).removeRecursively();
    }
    return base.filePath(prefix + QString::number(getpid()) + QStringLiteral("-XXXXXX"));
}
constexpr int kSizes[] = {16, 22, 32, 48};
} // namespace

StatusIconFiles::StatusIconFiles() : dir_(iconFolderTemplate()) {}

QString StatusIconFiles::nameFor(const StatusIconFace& face, const QList<QImage>& images) {
    if (!dir_.isValid())
        return {};
    QString name;
    if (!face.clock.isEmpty())
        name = QStringLiteral("orvane-clock-") + QString(face.clock).replace(u':', u'-');
    else if (face.kind == PillContent::Kind::SignedOut)
        name = QStringLiteral("orvane-signed-out");
    else if (face.kind == PillContent::Kind::Idle)
        name = QStringLiteral("orvane-idle");
    else
        name = QStringLiteral("orvane-running");
    if (written_.contains(name))
        return name;
    if (!write(name, images))
        return {};
    written_.append(name);
    if (!face.clock.isEmpty()) {
        // Hosts load the new name after NewIcon; the old clock is not shown again.
        if (!clockName_.isEmpty()) {
            remove(clockName_);
            written_.removeAll(clockName_);
        }
        clockName_ = name;
    }
    return name;
}

bool StatusIconFiles::write(const QString& name, const QList<QImage>& sizes) const {
    // Sized folders for theme lookups; one file beside them for hosts that
    // look the name up in the folder alone.
    for (qsizetype i = 0; i < sizes.size() && i < qsizetype(std::size(kSizes)); ++i) {
        const QString folder = dir_.path() + QStringLiteral("/hicolor/%1x%1/apps").arg(kSizes[i]);
        if (!QDir().mkpath(folder) ||
            !sizes[i].save(folder + u'/' + name + QStringLiteral(".png"), "PNG"))
            return false;
    }
    return sizes.size() > 1 &&
           sizes[1].save(dir_.path() + u'/' + name + QStringLiteral(".png"), "PNG");
}

void StatusIconFiles::remove(const QString& name) const {
    for (const int size : kSizes)
        QFile::remove(dir_.path() +
                      QStringLiteral("/hicolor/%1x%1/apps/%2.png").arg(size).arg(name));
    QFile::remove(dir_.path() + u'/' + name + QStringLiteral(".png"));
}

QString labelGuide(const QString& text) {
    QString guide = text;
    for (QChar& c : guide)
        if (c.isDigit())
            c = u'0';
    return guide;
}

} // namespace orvane
