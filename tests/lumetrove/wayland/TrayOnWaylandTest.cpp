#include "tests/lumetrove/wayland/WaylandDesktop.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The built program on the Wayland desktop, driven from outside as the desktop's tray would: its
// StatusNotifierItem and that item's menu over the session bus.
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
    program.terminate();
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished();
    }
}

} // namespace
} // namespace lumetrove
