#include <QApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

// For suites that need widgets. Test discovery runs the binary at build time,
// where no display may exist: draw offscreen unless told otherwise.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The tests' own fonts, unless a test's child process was given others.
    if (qEnvironmentVariableIsEmpty("FONTCONFIG_FILE"))
        qputenv("FONTCONFIG_FILE", ORVANE_TEST_FONTCONFIG);
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
