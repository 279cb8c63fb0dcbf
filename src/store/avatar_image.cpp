#include "store/avatar_image.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>

namespace orvane {

namespace {

// Enough for the largest allowed side square at 32 bits per pixel; a format
// that would decode to more (16-bit PNG) is refused. Counted here, not with
// the reader's process-wide limit: photos decode on a worker thread.
constexpr qint64 kMostDecodedBytes = 64 * 1024 * 1024;

// Sniffed from the bytes, as the sender's content type is not trusted; and
// by us, so that only the one decoder is loaded, not every image plug-in
// Qt would ask.
QByteArray sniffedFormat(const QByteArray& data) {
    if (data.startsWith("\x89PNG\r\n\x1a\n"))
        return "png";
    if (data.startsWith("\xff\xd8\xff"))
        return "jpeg";
    if (data.startsWith("GIF87a") || data.startsWith("GIF89a"))
        return "gif";
    if (data.size() >= 12 && data.startsWith("RIFF") && data.mid(8, 4) == "WEBP")
        return "webp";
    if (data.startsWith("BM"))
        return "bmp";
    return {};
}

} // namespace

std::optional<QImage> decodeAvatarImage(const QByteArray& data) {
    if (data.isEmpty() || data.size() > kAvatarMaxBytes)
        return std::nullopt;
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray format = sniffedFormat(data);
    if (format.isEmpty())
        return std::nullopt;
    QImageReader reader(&buffer, format);
    const QSize size = reader.size();
    if (size.width() < 1 || size.height() < 1 || size.width() > kAvatarMaxSide ||
        size.height() > kAvatarMaxSide)
        return std::nullopt;
    // The circle is filled: its centre square is all that shows.
    const int side = std::min(size.width(), size.height());
    reader.setClipRect(QRect((size.width() - side) / 2, (size.height() - side) / 2, side, side));
    const int scaled = std::min(side, kAvatarPixelSide);
    reader.setScaledSize(QSize(scaled, scaled));
    // The handlers that do not say decode to 32 bits.
    const QImage::Format decodedAs = reader.imageFormat();
    const int bits = decodedAs == QImage::Format_Invalid
                         ? 32
                         : int(QImage::toPixelFormat(decodedAs).bitsPerPixel());
    if (qint64(size.width()) * size.height() * bits / 8 > kMostDecodedBytes)
        return std::nullopt;
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return std::nullopt;
    return image;
}

} // namespace orvane
