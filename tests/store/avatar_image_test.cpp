#include "store/app_store.h"
#include "store/avatar_image.h"
#include "support/await.h"
#include "support/raw_server.h"
#include "support/store_world.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace orvane;
using test::FakeResponse;

namespace {

QByteArray encoded(QSize size, const char* format, QImage::Format pixels = QImage::Format_RGB32) {
    QImage image(size, pixels);
    image.fill(Qt::red);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return buffer.data();
}

quint32 crc32(const QByteArray& bytes) {
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A real PNG whose header claims other dimensions (checksum mended, so that
// only the size is a lie).
QByteArray pngClaiming(quint32 width, quint32 height) {
    QByteArray png = encoded(QSize(4, 3), "PNG");
    qToBigEndian(width, png.data() + 16);
    qToBigEndian(height, png.data() + 20);
    qToBigEndian(crc32(png.mid(12, 17)), png.data() + 29);
    return png;
}

TEST(AvatarImage, OnlySaneImagesDecodeAndComeOutAsASmallSquare) {
    const QByteArray svg = "<svg xmlns='http://www.w3.org/2000/svg' width='20000' height='20000'>"
                           "<rect width='20000' height='20000'/></svg>";
    const struct {
        const char* name;
        QByteArray body;
        std::optional<QSize> size;
    } cases[] = {
        {"PNG", encoded(QSize(4, 3), "PNG"), QSize(3, 3)},
        {"JPEG", encoded(QSize(4, 3), "JPEG"), QSize(3, 3)},
        {"BMP", encoded(QSize(4, 3), "BMP"), QSize(3, 3)},
        {"GIF",
         QByteArray::fromHex("47494638396101000100800000ffffff00000021f90401000000002c000000"
                             "00010001000002024401003b"),
         QSize(1, 1)},
        {"JPEG under a PNG signature",
         QByteArray("\x89PNG\r\n\x1a\n") + encoded(QSize(4, 3), "JPEG"), std::nullopt},
        {"ICO", QByteArray::fromHex("00000100010001010000010020003000000016000000"), std::nullopt},
        {"wide photo", encoded(QSize(600, 300), "PNG"), QSize(128, 128)},
        {"tall photo", encoded(QSize(300, 900), "JPEG"), QSize(128, 128)},
        {"empty", QByteArray(), std::nullopt},
        {"HTML", "<html><body>Anmelden</body></html>", std::nullopt},
        {"cut off", encoded(QSize(40, 30), "PNG").left(40), std::nullopt},
        {"claims 100000 x 100000", pngClaiming(100000, 100000), std::nullopt},
        {"5000 x 2 strip", encoded(QSize(5000, 2), "PNG"), std::nullopt},
        {"16-bit, 67 MB decoded", encoded(QSize(2900, 2900), "PNG", QImage::Format_RGBA64),
         std::nullopt},
        {"SVG", svg, std::nullopt},
        {"beyond 5 MB", encoded(QSize(4, 3), "PNG") + QByteArray(5 * 1024 * 1024, '\0'),
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QElapsedTimer took;
        took.start();
        const std::optional<QImage> image = decodeAvatarImage(c.body);
        EXPECT_LT(took.elapsed(), 10000) << "an image bomb is refused before decoding";
        ASSERT_EQ(image.has_value(), c.size.has_value());
        if (image) {
            EXPECT_EQ(image->size(), *c.size);
        }
    }
}

TEST(AvatarImage, ABodyBeyondTheCapIsCutOffWithOrWithoutAnnouncedLength) {
    test::StoreWorld w;
    const QByteArray png = encoded(QSize(4, 3), "PNG");
    // Bytes after the image's end do not spoil it: only the cap can refuse these.
    const auto padded = [&](int megabytes) {
        return (png + QByteArray(megabytes * 1024 * 1024, '\0')).toStdString();
    };
    for (const int megabytes : {1, 6}) {
        SCOPED_TRACE(megabytes);
        FakeResponse answer = FakeResponse::json(200, padded(megabytes));
        answer.contentType = "image/png";
        w.service.on("GET", "/avatars/ada", answer);
        const QUrl url(w.service.baseURL() + "/avatars/ada");
        EXPECT_EQ(test::await(w.store().loadAvatarImage(url)).has_value(), megabytes < 5);
    }

    // No length announced: the body runs until the sender closes.
    test::RawServer raw([&](const test::RawRequest&) {
        return test::RawReply{.bytes = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n"
                                       "Connection: close\r\n\r\n" +
                                       padded(64)};
    });
    const QUrl url(raw.baseURL() + "/avatar.png");
    EXPECT_EQ(test::await(w.store().loadAvatarImage(url)), std::nullopt);
}

} // namespace
