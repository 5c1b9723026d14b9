#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

// The desktop tests run on a real X server (the Xvfb display that scripts/test starts, with openbox). The
// display is split into two monitors side by side for the run, so that captures cover two screens. Without a
// display the tests skip, saying so.
namespace {

bool displayReachable()
{
    if (!qEnvironmentVariableIsSet("DISPLAY")) {
        return false;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = connection && xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

void xrandr(const QStringList& arguments)
{
    QProcess::execute(QStringLiteral("xrandr"), arguments);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const bool listing = ::testing::GTEST_FLAG(list_tests);
    const bool desktop = !listing && displayReachable();
    qputenv("QT_QPA_PLATFORM", desktop ? "xcb" : "offscreen");
    if (desktop) {
        xrandr({QStringLiteral("--setmonitor"), QStringLiteral("lumetrove-left"),
                QStringLiteral("800/211x1000/264+0+0"), QStringLiteral("none")});
        xrandr({QStringLiteral("--setmonitor"), QStringLiteral("lumetrove-right"),
                QStringLiteral("800/211x1000/264+800+0"), QStringLiteral("none")});
    }
    QTemporaryDir home;
    if (!home.isValid()) {
        return 2;
    }
    for (const char* name : {"home", "data", "config"}) {
        QDir().mkpath(home.filePath(QString::fromLatin1(name)));
    }
    qputenv("HOME", home.filePath(QStringLiteral("home")).toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());

    int status = 0;
    {
        QApplication application(argc, argv);
        status = RUN_ALL_TESTS();
    }
    if (desktop) {
        xrandr({QStringLiteral("--delmonitor"), QStringLiteral("lumetrove-left")});
        xrandr({QStringLiteral("--delmonitor"), QStringLiteral("lumetrove-right")});
    }
    return status;
}
