#include "lumetrove/platform/TextRecognizer.h"
#include "tests/lumetrove/Sandbox.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

// The desktop tests run on an X server of their own: an Xvfb display with openbox and trayer, split into two monitors
// side by side so that a capture covers two screens. Splitting a display changes it for every client, so
// the tests never do it to a display that other tests share. Without Xvfb the tests skip, saying so.
namespace {

/// A program started for the desktop, ended (by its id) when this process ends, or killed with it.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { stop(); }

    /// Starts `arguments` with standard output sent to `stdoutFd` (-1 leaves it alone, -2 discards it).
    bool start(const std::vector<std::string>& arguments, int stdoutFd = -2)
    {
        pid_ = fork();
        if (pid_ < 0) {
            return false;
        }
        if (pid_ == 0) {
            // A test process that crashes takes its desktop with it.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int devNull = open("/dev/null", O_WRONLY);
            dup2(devNull, STDERR_FILENO);
            if (stdoutFd != -1) {
                dup2(stdoutFd == -2 ? devNull : stdoutFd, STDOUT_FILENO);
            }
            std::vector<char*> argv;
            for (const std::string& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        return true;
    }

    bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

    void stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
};

struct XcbDisconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using XcbConnection = std::unique_ptr<xcb_connection_t, XcbDisconnect>;

bool runQuietly(const std::vector<std::string>& arguments)
{
    Child child;
    if (!child.start(arguments)) {
        return false;
    }
    QDeadlineTimer deadline(10000);
    while (child.running() && !deadline.hasExpired()) {
        QThread::msleep(10);
    }
    return !child.running();
}

/// Whether the selection `name` of screen 0 has an owner: the window manager holds "WM_S0", a system tray
/// "_NET_SYSTEM_TRAY_S0".
bool selectionOwned(xcb_connection_t* connection, const std::string& name)
{
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, name.size(), name.c_str()), nullptr), &free);
    if (!atom) {
        return false;
    }
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&free)> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr), &free);
    return owner && owner->owner != XCB_NONE;
}

/// The private desktop: Xvfb, openbox and the two monitors. `DISPLAY` names it once it is up.
class Desktop {
public:
    /// Empty when the desktop is up; otherwise why not.
    std::string start()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) {
            return "Xvfb is not installed";
        }
        int pipeFds[2];
        if (pipe(pipeFds) != 0) {
            return "no pipe for the display number";
        }
        // Xvfb picks a free display itself and writes its number once it accepts clients.
        const bool started =
            server_.start({"Xvfb", "-displayfd", "1", "-screen", "0", "1600x1000x24", "-nolisten", "tcp"}, pipeFds[1]);
        close(pipeFds[1]);
        std::string number;
        char c = 0;
        while (started && read(pipeFds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        close(pipeFds[0]);
        if (number.empty()) {
            return "Xvfb did not come up";
        }
        qputenv("DISPLAY", QByteArray(":") + number.c_str());
        // This connection stays open for the whole run: a server whose last client leaves resets, and would
        // forget the monitors.
        connection_.reset(xcb_connect(nullptr, nullptr));
        if (!connection_ || xcb_connection_has_error(connection_.get())) {
            return "cannot connect to the private display";
        }
        if (!windowManager_.start({"openbox"})) {
            return "cannot start openbox";
        }
        QDeadlineTimer deadline(20000);
        while (!selectionOwned(connection_.get(), "WM_S0") && !deadline.hasExpired()) {
            QThread::msleep(20);
        }
        if (!selectionOwned(connection_.get(), "WM_S0")) {
            return "openbox did not take the display";
        }
        // A system tray, so that the program's tray icon is real.
        if (!tray_.start({"trayer"})) {
            return "cannot start trayer";
        }
        while (!selectionOwned(connection_.get(), "_NET_SYSTEM_TRAY_S0") && !deadline.hasExpired()) {
            QThread::msleep(20);
        }
        if (!selectionOwned(connection_.get(), "_NET_SYSTEM_TRAY_S0")) {
            return "trayer did not take the system tray";
        }
        // The display's one output goes to the left monitor, so Qt sees exactly two screens.
        if (!runQuietly({"xrandr", "--setmonitor", "lumetrove-left", "800/211x1000/264+0+0", "screen"}) ||
            !runQuietly({"xrandr", "--setmonitor", "lumetrove-right", "800/211x1000/264+800+0", "none"})) {
            return "xrandr could not split the display";
        }
        return {};
    }

    void stop()
    {
        tray_.stop();
        windowManager_.stop();
        connection_.reset();
        server_.stop();
    }

private:
    Child server_;
    XcbConnection connection_;
    Child windowManager_;
    Child tray_;
};

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The captures made in this process recognise their text here (the program started from outside uses its
    // helper).
    lumetrove::setSharedTextRecognizer(lumetrove::makeTesseractTextRecognizer());
    QTemporaryDir home;
    if (!lumetrove::testing::useSandboxedHome(home)) {
        return 2;
    }

    Desktop desktop;
    bool onDesktop = false;
    if (!::testing::GTEST_FLAG(list_tests)) {
        const std::string failure = desktop.start();
        onDesktop = failure.empty();
        if (!onDesktop) {
            std::fprintf(stderr, "No desktop for the X11 tests: %s.\n", failure.c_str());
        }
    }
    qputenv("QT_QPA_PLATFORM", onDesktop ? "xcb" : "offscreen");
    // These tests are about the X11 road, even when they are started from a Wayland desktop.
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("XDG_SESSION_TYPE");

    int status = 0;
    {
        QApplication application(argc, argv);
        status = RUN_ALL_TESTS();
    }
    desktop.stop();
    return status;
}
