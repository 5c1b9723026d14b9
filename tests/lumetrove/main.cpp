#include "lumetrove/platform/TextRecognizer.h"
#include "tests/lumetrove/Sandbox.h"

#include <QApplication>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>

// One QApplication for the whole run, made before any test, with its own home and XDG directories so that
// no test can touch the user's library or settings even when it forgets its own sandbox.
int main(int argc, char** argv)
{
    // The recogniser tests start this executable as a text-recognition helper, as the program does itself.
    if (argc == 2 && std::strcmp(argv[1], lumetrove::textRecognitionHelperArgument) == 0) {
        return lumetrove::runTextRecognitionHelper();
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir home;
    if (!lumetrove::testing::useSandboxedHome(home)) {
        return 2;
    }

    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
