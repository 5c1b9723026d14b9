#include "lumetrove/platform/TextRecognizer.h"
#include "tests/lumetrove/Sandbox.h"
#include "tests/lumetrove/wayland/WaylandDesktopLauncher.h"

#include <QApplication>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>

// The Wayland desktop tests run inside a private headless Wayland desktop of their own (sway with two outputs
// of different scales, the desktop portal, a tray), started by scripts/wayland-desktop: this program starts
// itself again inside one, so each run of it, and so each test that ctest runs, has a fresh desktop.
int main(int argc, char** argv)
{
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
    }
    if (!listing && qEnvironmentVariableIsEmpty("LUMETROVE_WAYLAND_DIR")) {
        return lumetrove::testing::restartInsideWaylandDesktop(argc, argv, LUMETROVE_WAYLAND_DESKTOP);
    }

    ::testing::InitGoogleTest(&argc, argv);
    // The captures made in this process recognise their text here (the program started from outside uses its
    // helper).
    lumetrove::setSharedTextRecognizer(lumetrove::makeTesseractTextRecognizer());
    QTemporaryDir home;
    if (!lumetrove::testing::useSandboxedHome(home)) {
        return 2;
    }
    if (listing) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
