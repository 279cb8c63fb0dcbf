#include "gallery.h"

#include "platform/in_memory_keychain.h"
#include "platform/user_defaults.h"

#include <QApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QDir>
#include <QImage>
#include <QPaintEvent>
#include <QVBoxLayout>

#include <cstdio>

namespace orvane::gallery {

namespace {

constexpr int kFrame = 16;

QColor backdropColor(Backdrop backdrop) {
    // The popover's dark chrome and the white control background of light chrome.
    return backdrop == Backdrop::Dark ? QColor(10, 11, 20) : QColor(Qt::white);
}

class PaintBox : public QWidget {
public:
    PaintBox(QSize size, std::function<void(QPainter&, const QRectF&)> paint)
        : m_paint(std::move(paint)) {
        setFixedSize(size);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        m_paint(painter, QRectF(rect()));
    }

private:
    std::function<void(QPainter&, const QRectF&)> m_paint;
};

} // namespace

QWidget* paintBox(QSize size, std::function<void(QPainter&, const QRectF&)> paint) {
    return new PaintBox(size, std::move(paint));
}

int Gallery::writeAll(const QString& outDir, qreal scale) const {
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "view-gallery: cannot create %s\n", qPrintable(outDir));
        return int(m_shots.size());
    }
    int failed = 0;
    for (const Shot& shot : m_shots) {
        QWidget host;
        host.setAutoFillBackground(true);
        QPalette palette = host.palette();
        palette.setColor(QPalette::Window, backdropColor(shot.backdrop));
        host.setPalette(palette);
        auto* layout = new QVBoxLayout(&host);
        layout->setContentsMargins(kFrame, kFrame, kFrame, kFrame);
        QWidget* widget = shot.make();
        layout->addWidget(widget);
        if (shot.width > 0)
            host.setFixedWidth(shot.width + 2 * kFrame);
        // As the popover window does: its content holds the keyboard when it
        // opens, so no control shows the keyboard's ring unless a shot asks.
        host.setFocus(Qt::PopupFocusReason);
        host.show();
        QApplication::processEvents();
        if (shot.settle)
            shot.settle(widget);

        QImage image(host.size() * scale, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::transparent);
        host.render(&image);
        const QString path = QDir(outDir).filePath(shot.name + QStringLiteral(".png"));
        if (!image.save(path)) {
            std::fprintf(stderr, "view-gallery: cannot write %s\n", qPrintable(path));
            ++failed;
        }
    }
    std::printf("view-gallery: %d of %d pictures in %s\n", int(m_shots.size()) - failed,
                int(m_shots.size()), qPrintable(outDir));
    return failed;
}

void isolateFromUser() {
    static QTemporaryDir dir;
    static platform::UserDefaults defaults(dir.path() + QStringLiteral("/defaults.json"));
    static platform::InMemoryKeychain keychain;
    static QTcpServer* silent = [] {
        auto* server = new QTcpServer(qApp);
        server->listen(QHostAddress::LocalHost, 0);
        return server;
    }();
    defaults.setString(QStringLiteral("orvane_api_base_url"),
                       QStringLiteral("http://127.0.0.1:%1").arg(silent->serverPort()));
    platform::UserDefaults::overrideStandard(&defaults);
    platform::Keychain::overrideShared(&keychain);
}

} // namespace orvane::gallery
