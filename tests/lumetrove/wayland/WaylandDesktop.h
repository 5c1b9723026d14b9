#pragma once

#include "tests/lumetrove/PointerWatch.h"
#include "tests/lumetrove/Sandbox.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRect>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>
#include <functional>
#include <optional>

// What the Wayland desktop tests share: sway's view of the desktop, the test pointer and a window of another
// application with known text.
namespace lumetrove::testing {

/// Every step waits generously: the tests run under the sanitizers, beside others.
constexpr int waylandStepTimeoutMs = 60000;

/// Runs `program` while the event loop goes on; its standard output when it ended with status 0.
inline std::optional<QByteArray> runProgram(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!processEventsUntil([&] { return process.state() == QProcess::NotRunning; }, waylandStepTimeoutMs) ||
        process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

/// The environment of the built program started in `sandbox` (made by prepareProgramSandbox): its own home,
/// library, settings and cache; the desktop's runtime directory (where its sockets are) and session bus.
inline QProcessEnvironment programEnvironment(const QTemporaryDir& sandbox)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, directory] :
         {std::pair{"HOME", "home"}, std::pair{"XDG_DATA_HOME", "data"}, std::pair{"XDG_CONFIG_HOME", "config"},
          std::pair{"XDG_CACHE_HOME", "cache"}}) {
        environment.insert(QString::fromLatin1(name), sandbox.filePath(QString::fromLatin1(directory)));
    }
    return environment;
}

/// A window as sway lays it out.
struct SwayView {
    qint64 pid = 0;
    qint64 id = 0; ///< sway's container id, for commands about this window
    QString name;  ///< the window's title
    QString output;
    QRect rect;
    bool fullScreen = false;
    bool focused = false; ///< it has the keyboard
};

/// Every window on the desktop, with the output it is on.
inline std::vector<SwayView> swayViews()
{
    std::vector<SwayView> views;
    const std::optional<QByteArray> tree =
        runProgram(QStringLiteral("swaymsg"), {QStringLiteral("-r"), QStringLiteral("-t"), QStringLiteral("get_tree")});
    if (!tree) {
        return views;
    }
    std::function<void(const QJsonObject&, const QString&)> walk = [&](const QJsonObject& node, const QString& output) {
        const QString here = node.value(QStringLiteral("type")).toString() == QLatin1String("output")
                                 ? node.value(QStringLiteral("name")).toString()
                                 : output;
        if (node.contains(QStringLiteral("pid"))) {
            const QJsonObject rect = node.value(QStringLiteral("rect")).toObject();
            views.push_back(SwayView{
                node.value(QStringLiteral("pid")).toInteger(), node.value(QStringLiteral("id")).toInteger(),
                node.value(QStringLiteral("name")).toString(), here,
                QRect(rect.value(QStringLiteral("x")).toInt(), rect.value(QStringLiteral("y")).toInt(),
                      rect.value(QStringLiteral("width")).toInt(), rect.value(QStringLiteral("height")).toInt()),
                node.value(QStringLiteral("fullscreen_mode")).toInt() == 1,
                node.value(QStringLiteral("focused")).toBool()});
        }
        for (const char* children : {"nodes", "floating_nodes"}) {
            for (const QJsonValue& child : node.value(QLatin1String(children)).toArray()) {
                walk(child.toObject(), here);
            }
        }
    };
    walk(QJsonDocument::fromJson(*tree).object(), QString());
    return views;
}

inline std::vector<SwayView> swayViewsOf(qint64 pid)
{
    std::vector<SwayView> mine;
    for (const SwayView& view : swayViews()) {
        if (view.pid == pid) {
            mine.push_back(view);
        }
    }
    return mine;
}

/// Presses `keys` (wtype's arguments) in the window that sway focuses. wtype brings a keyboard of its own, whose
/// keymap sway sends the program ahead of the keys; the program bound the seat's keyboard when it started, as
/// the desktop has one from its start.
inline bool press(const QStringList& keys)
{
    return runProgram(QStringLiteral("wtype"), keys).has_value();
}

/// Focuses sway's window `view`, as a click on it would.
inline bool focus(const SwayView& view)
{
    return runProgram(QStringLiteral("swaymsg"), {QStringLiteral("[con_id=%1]").arg(view.id), QStringLiteral("focus")})
        .has_value();
}

/// The program's window titled `name`, once sway shows it.
inline std::optional<SwayView> windowNamed(qint64 pid, const QString& name)
{
    std::optional<SwayView> found;
    processEventsUntil(
        [&] {
            for (const SwayView& view : swayViewsOf(pid)) {
                if (view.name == name && !view.fullScreen) {
                    found = view;
                }
            }
            return found.has_value();
        },
        waylandStepTimeoutMs);
    return found;
}

/// The logical size of the whole layout.
inline QSize layoutSize()
{
    QRect layout;
    for (const QScreen* screen : QGuiApplication::screens()) {
        layout = layout.united(screen->geometry());
    }
    return layout.size();
}

/// Runs the test pointer's `command` (its words after the layout's size).
inline bool movePointer(const QStringList& command)
{
    const QSize layout = layoutSize();
    return runProgram(QStringLiteral(LUMETROVE_TEST_POINTER_PROGRAM),
                      QStringList{QString::number(layout.width()), QString::number(layout.height())} + command)
        .has_value();
}

/// Drags the left button from `from` to `to` (layout coordinates) with the test pointer.
inline bool drag(QPoint from, QPoint to)
{
    return movePointer({QStringLiteral("drag"), QString::number(from.x()), QString::number(from.y()),
                        QString::number(to.x()), QString::number(to.y()), QStringLiteral("12")});
}

/// Moves the test pointer to `point` until `hasPointer` holds: sway hands the pointer to a window it has
/// just mapped only once the window's first frame at its new size is in, which under load comes well after
/// sway lists the window; it finds the window under the pointer again at each move.
inline bool pointAt(QPoint point, const std::function<bool()>& hasPointer)
{
    return pointAt(
        point,
        [](QPoint at) {
            return movePointer({QStringLiteral("move"), QString::number(at.x()), QString::number(at.y())});
        },
        hasPointer, waylandStepTimeoutMs);
}

/// The text window of another application ("Ledger": "Quarterly budget review", "Download the invoice
/// archive" in dark grey on white, from its top-left corner), which sway tiles over the output it opens on.
class TextWindow {
public:
    ~TextWindow()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }

    /// Opens the window on `output`; its place in the layout, none when it did not come up.
    std::optional<QRect> openOn(const QString& output)
    {
        if (!runProgram(QStringLiteral("swaymsg"), {QStringLiteral("focus"), QStringLiteral("output"), output})) {
            return std::nullopt;
        }
        process_.start(QStringLiteral(LUMETROVE_TEST_WINDOW_PROGRAM), {});
        if (!processEventsUntil([&] { return process_.canReadLine(); }, waylandStepTimeoutMs)) {
            return std::nullopt;
        }
        std::optional<QRect> rect;
        processEventsUntil(
            [&] {
                for (const SwayView& view : swayViewsOf(process_.processId())) {
                    if (view.output == output) {
                        rect = view.rect;
                    }
                }
                return rect.has_value();
            },
            waylandStepTimeoutMs);
        return rect;
    }

private:
    QProcess process_;
};

} // namespace lumetrove::testing
