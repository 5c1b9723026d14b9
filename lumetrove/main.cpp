#include "lumetrove/app/ContentView.h"
#include "lumetrove/app/LumetroveApp.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <QApplication>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], lumetrove::textRecognitionHelperArgument) == 0) {
        return lumetrove::runTextRecognitionHelper();
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumetrove"));
    QApplication::setOrganizationName(QStringLiteral("Lumetrove"));
    QApplication::setDesktopFileName(QStringLiteral("lumetrove"));
    lumetrove::LumetroveApp lumetrove(QApplication::arguments());
    if (!lumetrove.start()) {
        return 0;
    }
    return QApplication::exec();
}
