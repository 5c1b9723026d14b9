#include "lumetrove/platform/TextRecognizer.h"

#include <QApplication>
#include <QDir>
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
    if (!home.isValid()) {
        return 2;
    }
    QDir().mkpath(home.filePath(QStringLiteral("home")));
    QDir().mkpath(home.filePath(QStringLiteral("data")));
    qputenv("HOME", home.filePath(QStringLiteral("home")).toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());

    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
