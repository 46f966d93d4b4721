#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

// main() for suites that need a widget application. Without a display (test discovery at build
// time) Qt's X platform would abort, so listing and such runs use the offscreen platform; the
// suites themselves run under Xvfb.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
