#include "tests/lumetrove/wayland/WaylandDesktop.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

// The built program on the Wayland desktop, driven from outside as the desktop's tray would (its
// StatusNotifierItem and that item's menu over the session bus), and as its user would where the desktop has no
// tray (its keys).
namespace lumetrove {
namespace {

using namespace lumetrove::testing;

struct MenuItem {
    int id = 0;
    QVariantMap properties;
    std::vector<MenuItem> children;
};

/// One item of a com.canonical.dbusmenu layout: (id, properties, children as variants of items).
MenuItem readMenuItem(const QDBusArgument& argument)
{
    MenuItem item;
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        item.children.push_back(readMenuItem(child.variant().value<QDBusArgument>()));
    }
    argument.endArray();
    argument.endStructure();
    return item;
}

std::optional<int> findLabel(const MenuItem& item, const QString& label)
{
    if (item.properties.value(QStringLiteral("label")).toString() == label) {
        return item.id;
    }
    for (const MenuItem& child : item.children) {
        if (const std::optional<int> id = findLabel(child, label)) {
            return id;
        }
    }
    return std::nullopt;
}

QVariant property(const QString& service, const QString& path, const QString& interface, const QString& name)
{
    QDBusMessage get = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << interface << name;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return {};
    }
    return reply.arguments().front().value<QDBusVariant>().variant();
}

/// The tray item (bus name, object path) that the watcher lists for process `pid`.
std::optional<std::pair<QString, QString>> trayItemOf(qint64 pid)
{
    const QStringList items =
        property(QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
                 QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("RegisteredStatusNotifierItems"))
            .toStringList();
    for (const QString& item : items) {
        const qsizetype slash = item.indexOf(QLatin1Char('/'));
        const QString service = slash < 0 ? item : item.left(slash);
        const QString path = slash < 0 ? QStringLiteral("/StatusNotifierItem") : item.mid(slash);
        const QDBusReply<uint> owner = QDBusConnection::sessionBus().interface()->servicePid(service);
        if (owner.isValid() && owner.value() == pid) {
            return std::pair{service, path};
        }
    }
    return std::nullopt;
}

const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");

bool trayWatcherRegistered()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(watcherName);
}

/// While it lives, the desktop has no tray: the bar that hosts the tray (and the StatusNotifier watcher) is
/// taken out of sway's configuration. Afterwards it is put back, so later tests of the same run have their tray.
class DesktopWithoutTray {
public:
    DesktopWithoutTray() : config_(qEnvironmentVariable("LUMETROVE_WAYLAND_DIR") + QStringLiteral("/sway.conf")) {}
    ~DesktopWithoutTray()
    {
        if (!original_.isEmpty() && write(original_)) {
            processEventsUntil(trayWatcherRegistered, waylandStepTimeoutMs);
        }
    }

    /// Whether the tray is gone.
    bool removeTray()
    {
        QFile file(config_);
        if (!file.open(QIODevice::ReadOnly)) {
            return false;
        }
        original_ = QString::fromUtf8(file.readAll());
        QString withoutBar = original_;
        withoutBar.remove(
            QRegularExpression(QStringLiteral("^bar \\{.*?^\\}\\n"),
                               QRegularExpression::MultilineOption | QRegularExpression::DotMatchesEverythingOption));
        return withoutBar != original_ && write(withoutBar) &&
               processEventsUntil([] { return !trayWatcherRegistered(); }, waylandStepTimeoutMs);
    }

private:
    /// Gives sway `text` as its configuration.
    bool write(const QString& text) const
    {
        QFile file(config_);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toUtf8()) >= 0 &&
               file.flush() && runProgram(QStringLiteral("swaymsg"), {QStringLiteral("reload")}).has_value();
    }

    QString config_;
    QString original_;
};

/// Whether the program shows a full-screen overlay on each of the two outputs.
/// Starts the program in `sandbox`, its errors on the test's.
bool startProgram(QProcess& program, const QTemporaryDir& sandbox)
{
    program.setProcessEnvironment(programEnvironment(sandbox));
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(LUMETROVE_PROGRAM), {});
    return program.waitForStarted();
}

/// Asks the program to end, and ends it where it does not.
void endProgram(QProcess& program)
{
    program.terminate();
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished();
    }
}

const QString mainTitle = QStringLiteral("Screenshots");

/// Starts the program on the Wayland desktop with a key stored in `sandbox`, its main window up, and gives its
/// tray item in `item` once the watcher lists it.
void startWithTrayItem(QProcess& program, const QTemporaryDir& sandbox,
                       std::optional<std::pair<QString, QString>>& item)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    ASSERT_NO_FATAL_FAILURE(prepareProgramSandbox(sandbox, QStringLiteral("sk-wayland-test")));
    ASSERT_TRUE(startProgram(program, sandbox));
    const qint64 pid = program.processId();
    ASSERT_TRUE(windowNamed(pid, mainTitle));
    ASSERT_TRUE(processEventsUntil([&] { return (item = trayItemOf(pid)).has_value(); }, waylandStepTimeoutMs));
}

/// The bar's left click on the program's tray item `item`; answered once the program has handled it.
::testing::AssertionResult clickTrayItem(const std::pair<QString, QString>& item)
{
    QDBusMessage activate = QDBusMessage::createMethodCall(
        item.first, item.second, QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"));
    activate << 0 << 0;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(activate);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return ::testing::AssertionFailure() << reply.errorMessage().toStdString();
    }
    return ::testing::AssertionSuccess();
}

bool overlaysOnEveryOutput(qint64 pid)
{
    QStringList outputs;
    for (const SwayView& view : swayViewsOf(pid)) {
        if (view.fullScreen) {
            outputs << view.output;
        }
    }
    outputs.removeDuplicates();
    return outputs.size() == 2;
}

TEST(TrayOnWaylandTest, TheTrayItemIsRegisteredWithTheWatcherAndItsTakeScreenshotItemStartsACapture)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    QTemporaryDir sandbox;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), sandbox.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), sandbox.filePath(QStringLiteral("config")));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(LUMETROVE_PROGRAM), {});
    ASSERT_TRUE(program.waitForStarted());
    const qint64 pid = program.processId();

    std::optional<std::pair<QString, QString>> item;
    ASSERT_TRUE(processEventsUntil([&] { return (item = trayItemOf(pid)).has_value(); }, waylandStepTimeoutMs))
        << "the watcher lists no tray item of the program";
    const QString menuPath =
        property(item->first, item->second, QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Menu"))
            .value<QDBusObjectPath>()
            .path();
    ASSERT_FALSE(menuPath.isEmpty()) << "the tray item has no menu";
    QDBusMessage getLayout = QDBusMessage::createMethodCall(
        item->first, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
    getLayout << 0 << -1 << QStringList();
    const QDBusMessage layout = QDBusConnection::sessionBus().call(getLayout);
    ASSERT_EQ(layout.type(), QDBusMessage::ReplyMessage) << layout.errorMessage().toStdString();
    ASSERT_EQ(layout.arguments().size(), 2);
    const MenuItem root = readMenuItem(layout.arguments().at(1).value<QDBusArgument>());
    for (const char* label : {"AI Assistant", "View Screenshots", "Settings...", "Quit"}) {
        EXPECT_TRUE(findLabel(root, QString::fromLatin1(label))) << label;
    }
    const std::optional<int> takeScreenshot = findLabel(root, QStringLiteral("Take Screenshot"));
    ASSERT_TRUE(takeScreenshot);

    // Nothing of the program is full screen until the item is clicked.
    for (const SwayView& view : swayViewsOf(pid)) {
        EXPECT_FALSE(view.fullScreen);
    }
    QDBusMessage click = QDBusMessage::createMethodCall(item->first, menuPath, QStringLiteral("com.canonical.dbusmenu"),
                                                        QStringLiteral("Event"));
    click << *takeScreenshot << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
    ASSERT_TRUE(QDBusConnection::sessionBus().send(click));

    // The capture: the portal's screenshot, then a full-screen overlay on each output.
    std::vector<SwayView> overlays;
    EXPECT_TRUE(processEventsUntil(
        [&] {
            overlays.clear();
            for (const SwayView& view : swayViewsOf(pid)) {
                if (view.fullScreen) {
                    overlays.push_back(view);
                }
            }
            return overlays.size() == 2 && overlays[0].output != overlays[1].output;
        },
        waylandStepTimeoutMs))
        << "no overlay on every output";
    endProgram(program);
}

TEST(TrayOnWaylandTest, AClickOnTheTrayItemWhileTheWindowIsHiddenBringsTheWindowBackAndNoOtherWindow)
{
    QTemporaryDir sandbox;
    QProcess program;
    std::optional<std::pair<QString, QString>> item;
    ASSERT_NO_FATAL_FAILURE(startWithTrayItem(program, sandbox, item));
    const qint64 pid = program.processId();
    std::optional<SwayView> main = windowNamed(pid, mainTitle);
    ASSERT_TRUE(main);

    // Ctrl+W leaves the program in the tray only.
    ASSERT_TRUE(focus(*main));
    ASSERT_TRUE(press({QStringLiteral("-M"), QStringLiteral("ctrl"), QStringLiteral("w"), QStringLiteral("-m"),
                       QStringLiteral("ctrl")}));
    ASSERT_TRUE(processEventsUntil([&] { return swayViewsOf(pid).empty(); }, waylandStepTimeoutMs));

    // The bar's left click on the item.
    ASSERT_TRUE(clickTrayItem(*item));
    EXPECT_TRUE(windowNamed(pid, mainTitle)) << "the click did not bring the main window back";
    for (const SwayView& view : swayViewsOf(pid)) {
        EXPECT_EQ(view.name.toStdString(), mainTitle.toStdString())
            << "a window of its own, " << view.rect.width() << "x" << view.rect.height();
    }
    endProgram(program);
}

TEST(TrayOnWaylandTest, AClickOnTheTrayItemBeforeAnyInputOpensNoWindowOfItsOwn)
{
    QTemporaryDir sandbox;
    QProcess program;
    std::optional<std::pair<QString, QString>> item;
    ASSERT_NO_FATAL_FAILURE(startWithTrayItem(program, sandbox, item));
    const qint64 pid = program.processId();

    // The bar's left click, before the user has pressed anything in the program's windows: Wayland gives the
    // program no serial for a popup menu yet.
    ASSERT_TRUE(clickTrayItem(*item));
    // The click has been handled once the call is answered; a menu it opened is mapped a few frames later.
    // What a few seconds do not show, the click did not open.
    std::vector<SwayView> stray;
    processEventsUntil(
        [&] {
            stray.clear();
            for (const SwayView& view : swayViewsOf(pid)) {
                if (view.name != mainTitle) {
                    stray.push_back(view);
                }
            }
            return !stray.empty();
        },
        5000);
    for (const SwayView& view : stray) {
        ADD_FAILURE() << "a window of its own, \"" << view.name.toStdString() << "\" " << view.rect.width() << "x"
                      << view.rect.height();
    }
    EXPECT_TRUE(windowNamed(pid, mainTitle)) << "the main window went away";
    endProgram(program);
}

TEST(TrayOnWaylandTest, WithNoTrayHostTheMainWindowShowsAtLaunchAndEveryActionStaysReachable)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    DesktopWithoutTray desktop;
    ASSERT_TRUE(desktop.removeTray()) << "the tray's watcher stayed on the bus";
    QTemporaryDir sandbox;
    // With a key stored, no alert stands between the user and the window.
    ASSERT_NO_FATAL_FAILURE(prepareProgramSandbox(sandbox, QStringLiteral("sk-wayland-test")));
    QProcess program;
    ASSERT_TRUE(startProgram(program, sandbox));
    const qint64 pid = program.processId();

    // The main window comes up by itself: nothing else would show the program.
    std::optional<SwayView> main = windowNamed(pid, mainTitle);
    ASSERT_TRUE(main) << "the main window did not come up at launch";

    // "Take Screenshot": Ctrl+N starts a capture over every output; Escape ends it and the window comes back.
    // The keys come while the program is busy, right behind the keyboard focus, as when it is pressed at once
    // after a click on the window: the program learns that its window is active only after them.
    ASSERT_TRUE(runProgram(QStringLiteral("swaymsg"),
                           {QStringLiteral("focus"), QStringLiteral("output"), QStringLiteral("HEADLESS-2")}));
    ASSERT_EQ(::kill(pid_t(pid), SIGSTOP), 0);
    const bool focused = focus(*main);
    const bool pressed = press({QStringLiteral("-M"), QStringLiteral("ctrl"), QStringLiteral("n"), QStringLiteral("-m"),
                                QStringLiteral("ctrl")});
    ASSERT_EQ(::kill(pid_t(pid), SIGCONT), 0);
    ASSERT_TRUE(focused && pressed);
    EXPECT_TRUE(processEventsUntil([&] { return overlaysOnEveryOutput(pid); }, waylandStepTimeoutMs))
        << "Ctrl+N started no capture";
    ASSERT_TRUE(press({QStringLiteral("-k"), QStringLiteral("Escape")}));
    EXPECT_TRUE(processEventsUntil([&] { return !overlaysOnEveryOutput(pid); }, waylandStepTimeoutMs))
        << "Escape did not end the capture";
    main = windowNamed(pid, mainTitle);
    ASSERT_TRUE(main) << "the main window did not come back after the capture";

    // "View Screenshots": closing the main window must not take it out of reach, as a hidden window with no tray
    // icon could never be shown again.
    ASSERT_TRUE(
        runProgram(QStringLiteral("swaymsg"), {QStringLiteral("[con_id=%1]").arg(main->id), QStringLiteral("kill")}));
    // "Settings...": Ctrl+, opens the settings window. The keys reach the program after the close request, so the
    // window takes them only when the close left it open.
    ASSERT_TRUE(focus(*main));
    ASSERT_TRUE(press({QStringLiteral("-M"), QStringLiteral("ctrl"), QStringLiteral(","), QStringLiteral("-m"),
                       QStringLiteral("ctrl")}));
    const std::optional<SwayView> settings = windowNamed(pid, QStringLiteral("Settings"));
    EXPECT_TRUE(settings) << "Ctrl+, in the main window after its close opened no settings window";
    if (settings) {
        runProgram(QStringLiteral("swaymsg"),
                   {QStringLiteral("[con_id=%1]").arg(settings->id), QStringLiteral("kill")});
    }
    main = windowNamed(pid, mainTitle);
    ASSERT_TRUE(main) << "closing the main window hid it with no tray to bring it back";
    EXPECT_EQ(program.state(), QProcess::Running);
    // Starting the program again, from the desktop's menu, brings the window of the one that runs to the front.
    QProcess again;
    again.setProcessEnvironment(programEnvironment(sandbox));
    again.start(QStringLiteral(LUMETROVE_PROGRAM), {});
    EXPECT_TRUE(processEventsUntil([&] { return again.state() == QProcess::NotRunning; }, waylandStepTimeoutMs));
    EXPECT_EQ(again.exitCode(), 0);
    main = windowNamed(pid, mainTitle);
    ASSERT_TRUE(main);

    // "Quit": Ctrl+Q ends the program.
    ASSERT_TRUE(focus(*main));
    ASSERT_TRUE(press({QStringLiteral("-M"), QStringLiteral("ctrl"), QStringLiteral("q"), QStringLiteral("-m"),
                       QStringLiteral("ctrl")}));
    EXPECT_TRUE(processEventsUntil([&] { return program.state() == QProcess::NotRunning; }, waylandStepTimeoutMs))
        << "Ctrl+Q did not quit";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    if (program.state() != QProcess::NotRunning) {
        program.kill();
        program.waitForFinished();
    }
}

} // namespace
} // namespace lumetrove
