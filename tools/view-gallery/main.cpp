// Renders the views' states offscreen into PNG files for people to look at.
#include "gallery.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: view-gallery <out-dir>\n");
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
    return gallery.writeAll(QString::fromLocal8Bit(argv[1])) == 0 ? 0 : 1;
}
