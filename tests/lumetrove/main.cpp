#include "lumetrove/platform/TextRecognizer.h"
#include "tests/lumetrove/Sandbox.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// One QApplication for the whole run, made before any test, with its own home and XDG directories so that
// no test can touch the user's library or settings even when it forgets its own sandbox.
int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir home;
    if (!lumetrove::testing::useSandboxedHome(home)) {
        return 2;
    }

    // Recognition in this process, where the tests watch its engines; the recogniser tests start the helper
    // program themselves.
    lumetrove::setSharedTextRecognizer(lumetrove::makeTesseractTextRecognizer());
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
