#include "lumetrove/app/ContentView.h"
#include "lumetrove/app/LumetroveApp.h"
#include "lumetrove/platform/Memory.h"

#include <QApplication>

int main(int argc, char** argv)
{
    lumetrove::returnLargeBlocksWhenFreed();
    lumetrove::useOneHeapForAllThreads();
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
