// Renders the views' states offscreen into PNG files for people to look at.
#include "gallery.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    // Pictures are drawn at twice the logical size, as on a high-density
    // screen, unless another scale is asked for.
    qreal scale = 2;
    if (argc == 4 && std::strcmp(argv[1], "--scale") == 0) {
        scale = std::atof(argv[2]);
        argv[1] = argv[3];
        argc = 2;
    }
    if (argc != 2 || !(scale >= 1 && scale <= 4)) {
        std::fprintf(stderr, "usage: view-gallery [--scale 1|2|3|4] <out-dir>\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    orvane::gallery::Gallery gallery;
    orvane::gallery::addKitShots(gallery);
    orvane::gallery::addAppShots(gallery);
    orvane::gallery::addLoginShots(gallery);
    orvane::gallery::addPopoverShots(gallery);
    orvane::gallery::addTimerViewShots(gallery);
    orvane::gallery::addFlowShots(gallery);
    return gallery.writeAll(QString::fromLocal8Bit(argv[1]), scale) == 0 ? 0 : 1;
}
