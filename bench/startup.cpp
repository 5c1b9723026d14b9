// Cold start of the program, each run a fresh process on a private desktop (Xvfb, openbox and trayer, a system
// tray): from the process start to its tray icon embedded in the tray, and to its main window painted with a
// library of 10k screenshots (the newest, selected at start, with a full-HD image); the CPU time it uses over ten
// seconds at rest, in the tray and with the window shown (goal: under 1 % of one core); and the memory of the
// built program idle in the tray, with 10k and with 100k screenshots, once it has shown that image and its
// recognised text and its window has been closed as a window manager closes it. Beside each, the same of a
// trivial Qt program built beside this one (trivial_tray.cpp): a tray icon and a window with a list of 10k rows.
//
// The timed runs are this program started again with "--child=program" (the application's own start-up, as
// lumetrove/main.cpp does it) or the trivial program; a child prints the monotonic clock when its list has first
// been painted with rows. The memory runs start the built programs themselves and watch them from outside: the
// tray icon and the window on the X server, the processes' CPU time and memory in /proc.

#include "lumetrove/app/ContentView.h"
#include "lumetrove/app/LumetroveApp.h"
#include "lumetrove/browser/ScreenshotListView.h"
#include "lumetrove/detail/LiveTextImageView.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/platform/Memory.h"
#include "lumetrove/platform/TextRecognizer.h"
#include "sqlite/Connection.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QListView>
#include <QMainWindow>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QSettings>
#include <QStringListModel>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

constexpr int libraryRows = 10'000;
constexpr int timeoutMs = 30'000;

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// ---- The children -------------------------------------------------------------------------------------------

/// What a child does once its list is painted.
enum class AfterPaint {
    nothing,
    /// Prints "settled" once the window has done all it does for the screenshot shown, and stays as it is.
    settle,
    /// Then closes the window as a user would, prints "closed" and stays in the tray.
    close,
};

/// Prints "painted <ns>" once `view` has painted rows and the window has been flushed to the screen; then does
/// what `after` says. The window has done all it does for the screenshot shown once `liveText`, when given, shows
/// the words of its image.
class PaintReporter : public QObject {
public:
    PaintReporter(QAbstractItemView* view, QWidget* window, AfterPaint after,
                  lumetrove::LiveTextImageView* liveText = nullptr)
        : QObject(view), view_(view), window_(window), liveText_(liveText), after_(after)
    {
        view->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !reported_ && view_->model() != nullptr &&
            view_->model()->rowCount() > 0) {
            reported_ = true;
            // Queued: the paint and the flush of the window's backing store finish first.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    std::printf("painted %lld\n", static_cast<long long>(monotonicNs()));
                    std::fflush(stdout);
                    if (after_ == AfterPaint::nothing) {
                        return;
                    }
                    if (liveText_ == nullptr || liveText_->hasLiveText()) {
                        settled();
                    } else {
                        connect(liveText_, &lumetrove::LiveTextImageView::liveTextChanged, this,
                                &PaintReporter::settled, Qt::SingleShotConnection);
                    }
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    void settled()
    {
        if (after_ == AfterPaint::close) {
            window_->close();
        }
        std::printf(after_ == AfterPaint::close ? "closed\n" : "settled\n");
        std::fflush(stdout);
    }

    QAbstractItemView* view_;
    QWidget* window_;
    lumetrove::LiveTextImageView* liveText_;
    AfterPaint after_;
    bool reported_ = false;
};

int runProgram(int argc, char** argv, AfterPaint after)
{
    lumetrove::returnLargeBlocksWhenFreed();
    lumetrove::useOneHeapForAllThreads();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumetrove"));
    QApplication::setOrganizationName(QStringLiteral("Lumetrove"));
    QApplication::setDesktopFileName(QStringLiteral("lumetrove"));
    // Text is recognised as the program does it, in helper processes; the helper is not beside this program.
    lumetrove::setSharedTextRecognizer(
        lumetrove::makeHelperProcessTextRecognizer(QStringLiteral(LUMETROVE_TEXT_RECOGNITION_HELPER)));
    lumetrove::LumetroveApp program(QStringList{QApplication::arguments().constFirst()});
    if (!program.start()) {
        return 1;
    }
    auto* list = program.mainWindow()->findChild<lumetrove::ScreenshotListView*>();
    if (list == nullptr) {
        return 1;
    }
    new PaintReporter(list, program.mainWindow(), after,
                      program.mainWindow()->findChild<lumetrove::LiveTextImageView*>());
    return QApplication::exec();
}

// ---- The desktop and the library ----------------------------------------------------------------------------

/// A private X server with a window manager and a system tray, for the whole run; ended with the run.
class PrivateDesktop {
public:
    bool start()
    {
        int descriptors[2];
        if (pipe(descriptors) != 0) {
            return false;
        }
        server_ = fork();
        if (server_ == 0) {
            // A benchmark that dies takes its desktop with it.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            close(descriptors[0]);
            dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
            const std::string fd = std::to_string(descriptors[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1600x1000x24", "-nolisten", "tcp",
                   nullptr);
            _exit(127);
        }
        close(descriptors[1]);
        std::string number;
        char c = 0;
        while (read(descriptors[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        close(descriptors[0]);
        if (number.empty()) {
            return false;
        }
        qputenv("DISPLAY", QByteArray(":") + QByteArray::fromStdString(number));
        for (const char* program : {"openbox", "trayer"}) {
            const pid_t pid = fork();
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                const int quiet = open("/dev/null", O_WRONLY);
                dup2(quiet, STDOUT_FILENO);
                dup2(quiet, STDERR_FILENO);
                execlp(program, program, nullptr);
                _exit(127);
            }
            helpers_.push_back(pid);
        }
        return true;
    }

    ~PrivateDesktop()
    {
        for (pid_t pid : helpers_) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (server_ > 0) {
            kill(server_, SIGTERM);
            waitpid(server_, nullptr, 0);
        }
    }

private:
    pid_t server_ = 0;
    std::vector<pid_t> helpers_;
};

/// The X server as the runs watch it: the system tray's window and what is embedded in it.
class TrayWatcher {
public:
    TrayWatcher() : connection_(xcb_connect(nullptr, nullptr), xcb_disconnect)
    {
        if (xcb_connection_has_error(connection_.get()) == 0) {
            root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_.get())).data->root;
        }
    }

    /// Finds the tray's window (WM_CLASS class "trayer"); false when there is none yet.
    bool findTray()
    {
        tray_ = findClass(root_, "trayer");
        return tray_ != 0;
    }

    /// True when a window of process `pid` is embedded and shown in the tray.
    bool embedded(qint64 pid) const { return tray_ != 0 && embeddedBelow(tray_, pid); }

    /// A window of process `pid` that the window manager manages and shows; 0 when there is none.
    xcb_window_t shownWindow(qint64 pid) const
    {
        const Reply<xcb_get_property_reply_t> list = property(root_, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 1024);
        if (!list) {
            return 0;
        }
        const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
        for (int i = 0; i < xcb_get_property_value_length(list.get()) / 4; ++i) {
            if (shownBy(windows[i], pid)) {
                return windows[i];
            }
        }
        return 0;
    }

    /// Asks `window` to close, as a window manager does when its close button is clicked.
    void close(xcb_window_t window) const
    {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom("WM_PROTOCOLS");
        message.data.data32[0] = atom("WM_DELETE_WINDOW");
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection_.get(), 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        xcb_flush(connection_.get());
    }

private:
    template <class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

    /// `window`'s property `name` of `type`, at most `length` 32-bit units of it; null when it cannot be read.
    Reply<xcb_get_property_reply_t> property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type,
                                             std::uint32_t length) const
    {
        xcb_connection_t* c = connection_.get();
        return Reply<xcb_get_property_reply_t>(
            xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, length), nullptr), &std::free);
    }

    std::vector<xcb_window_t> children(xcb_window_t parent) const
    {
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(connection_.get(), xcb_query_tree(connection_.get(), parent), nullptr), &std::free);
        if (!tree) {
            return {};
        }
        const xcb_window_t* list = xcb_query_tree_children(tree.get());
        return std::vector<xcb_window_t>(list, list + xcb_query_tree_children_length(tree.get()));
    }

    std::string wmClass(xcb_window_t window) const
    {
        const Reply<xcb_get_property_reply_t> reply = property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 64);
        if (!reply) {
            return {};
        }
        const std::string value(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                xcb_get_property_value_length(reply.get()));
        const std::size_t split = value.find('\0');
        return split == std::string::npos ? std::string() : std::string(value.c_str() + split + 1);
    }

    xcb_window_t findClass(xcb_window_t parent, const std::string& name) const
    {
        for (xcb_window_t child : children(parent)) {
            if (wmClass(child) == name) {
                return child;
            }
            if (const xcb_window_t found = findClass(child, name)) {
                return found;
            }
        }
        return 0;
    }

    bool embeddedBelow(xcb_window_t parent, qint64 pid) const
    {
        for (xcb_window_t child : children(parent)) {
            if (shownBy(child, pid) || embeddedBelow(child, pid)) {
                return true;
            }
        }
        return false;
    }

    /// True when `window` is mapped and viewable and belongs to process `pid`.
    bool shownBy(xcb_window_t window, qint64 pid) const
    {
        xcb_connection_t* c = connection_.get();
        const Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr), &std::free);
        return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && pidOf(window) == pid;
    }

    /// The process that owns `window` (_NET_WM_PID), -1 when it does not say.
    qint64 pidOf(xcb_window_t window) const
    {
        const Reply<xcb_get_property_reply_t> owner = property(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 1);
        if (!owner || xcb_get_property_value_length(owner.get()) != 4) {
            return -1;
        }
        return *static_cast<const quint32*>(xcb_get_property_value(owner.get()));
    }

    xcb_atom_t atom(const std::string& name) const
    {
        auto& known = atoms_[name];
        if (known == XCB_ATOM_NONE) {
            Reply<xcb_intern_atom_reply_t> reply(
                xcb_intern_atom_reply(connection_.get(),
                                      xcb_intern_atom(connection_.get(), 0, name.size(), name.c_str()), nullptr),
                &std::free);
            known = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        }
        return known;
    }

    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection_;
    xcb_window_t root_ = 0;
    xcb_window_t tray_ = 0;
    mutable std::map<std::string, xcb_atom_t> atoms_;
};

/// The sandbox the children run in: home, data, settings and runtime directories of their own, no session bus,
/// a library of 10k screenshots and a key in the settings, so that nothing asks for one.
struct Sandbox {
    QTemporaryDir root;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    bool prepare()
    {
        for (const char* name : {"home", "data", "config/Lumetrove", "cache", "runtime"}) {
            if (!QDir().mkpath(root.filePath(QString::fromLatin1(name)))) {
                return false;
            }
        }
        QFile::setPermissions(root.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QStringList names = {QStringLiteral("HOME"), QStringLiteral("XDG_DATA_HOME"),
                                   QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral("XDG_CACHE_HOME"),
                                   QStringLiteral("XDG_RUNTIME_DIR")};
        const QStringList folders = {QStringLiteral("home"), QStringLiteral("data"), QStringLiteral("config"),
                                     QStringLiteral("cache"), QStringLiteral("runtime")};
        for (qsizetype i = 0; i < names.size(); ++i) {
            environment.insert(names[i], root.filePath(folders[i]));
            // This process seeds the library in the same place.
            qputenv(names[i].toUtf8(), root.filePath(folders[i]).toUtf8());
        }
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=") + root.filePath(QStringLiteral("no-bus")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        QSettings settings(root.filePath(QStringLiteral("config/Lumetrove/Lumetrove.conf")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("OpenAIAPIKey"), QStringLiteral("sk-benchmark"));
        settings.setValue(QStringLiteral("hasLaunchedBefore"), true);
        settings.sync();
        return seedLibrary();
    }

    bool seedLibrary()
    {
        const std::optional<QString> path = lumetrove::databaseFilePath();
        if (!path) {
            return false;
        }
        store = std::make_shared<lumetrove::ScreenshotsDB>();
        store->openDatabase(*path);
        const auto db = store->db();
        addRows(0, libraryRows);
        // The newest screenshot, selected at start, has a full-HD image of text: the detail pane shows it.
        QImage image(1920, 1080, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(16);
        painter.setFont(font);
        painter.setPen(Qt::black);
        for (int line = 0; line < 50; ++line) {
            painter.drawText(
                40, 30 + line * 20,
                QStringLiteral("Quarterly budget review, line %1: download the invoice archive").arg(line));
        }
        painter.end();
        const QString file = root.filePath(QStringLiteral("newest.png"));
        if (!image.save(file)) {
            return false;
        }
        db->runStatement("UPDATE screenshots SET path = ? WHERE id = (SELECT max(id) FROM screenshots)",
                         QUrl::fromLocalFile(file).toString().toStdString());
        return true;
    }

    /// Makes the library `rows` screenshots long with rows older than those it has; the newest stays the same.
    void growTo(int rows)
    {
        if (rows > rows_) {
            addRows(libraryRows - rows, libraryRows - rows_);
        }
    }

private:
    /// Adds the rows numbered `from` to `to` (exclusive); row n was taken 60 (libraryRows - n) seconds ago.
    void addRows(int from, int to)
    {
        const auto db = store->db();
        db->transaction([&] {
            const auto insert = db->prepare("INSERT INTO screenshots (name, path, text, captured_app_name, "
                                            "was_imported, created_at) VALUES (?, ?, ?, ?, 0, ?)");
            const QDateTime now = QDateTime::currentDateTimeUtc();
            // A screen's worth of recognised text, as long as the list's snippet of it (600 characters).
            std::string text = "Quarterly budget review\nDownload the invoice archive";
            for (int line = 1; text.size() < 600; ++line) {
                text += "\nLedger entry " + std::to_string(line) + ": transfer to the savings account, approved";
            }
            for (int index = from; index < to; ++index) {
                const std::string name = "Screen Shot " + std::to_string(index);
                const std::string created = now.addSecs(-60LL * (libraryRows - index))
                                                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                                .toStdString();
                insert->runToEnd(name, "file:///nowhere/" + name + ".png", text + " " + std::to_string(index),
                                 std::string("Ledger"), created);
            }
        });
        rows_ += to - from;
    }

    std::shared_ptr<lumetrove::ScreenshotsDB> store;
    int rows_ = 0;
};

Sandbox* sandbox = nullptr;
TrayWatcher* watcher = nullptr;

/// One child run: started, watched until its tray icon is shown and its list painted, and ended. The times are
/// from the start, in seconds. With a rest asked for, the child then closes its window or keeps it shown (once it
/// has done all it does for the screenshot shown) and rests: `rssMiB` is read after `restMs`, and `cpuSeconds`
/// is the CPU time it used over the `restMs` that follow a second of settling.
struct Run {
    double trayShown = 0;
    double painted = 0;
    double rssMiB = 0;
    /// Proportional set size: the resident memory with each shared page divided among the processes mapping it.
    double pssMiB = 0;
    /// The resident part of the recognition engine's and the network's libraries (Tesseract, Leptonica,
    /// libcurl, OpenSSL), which a program at rest does not use.
    double unusedLibrariesMiB = 0;
    double cpuSeconds = 0;
    bool ok = false;
};

enum class Rest { none, memoryInTray, cpuInTray, cpuWindowShown };

/// User plus system CPU time of process `pid` so far, in seconds; negative when it cannot be read.
double cpuSecondsOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    // The command name in parentheses may hold spaces: the fields are counted after its closing one.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) {
        return -1;
    }
    // utime and stime, the 14th and 15th fields of the line, in clock ticks.
    const double ticks = fields[11].toDouble() + fields[12].toDouble();
    return ticks / double(sysconf(_SC_CLK_TCK));
}

/// Reads the resident and proportional set sizes of process `pid`, and the resident part of the libraries it
/// does not use at rest, into `run`.
void readMemory(qint64 pid, Run& run)
{
    QFile maps(QStringLiteral("/proc/%1/smaps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly)) {
        return;
    }
    const QList<QByteArray> unused{"libtesseract", "liblept", "libcurl", "libssl", "libcrypto"};
    bool inUnused = false;
    const auto kib = [](const QByteArray& line) {
        return line.mid(line.indexOf(':') + 1).trimmed().split(' ').constFirst().toDouble() / 1024.0;
    };
    // With LUMETROVE_BENCH_MAPPINGS set, the files that hold the most resident memory are printed.
    std::map<QByteArray, double> byFile;
    QByteArray file;
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const QByteArray range = line.left(line.indexOf(' '));
        if (range.contains('-') && std::all_of(range.begin(), range.end(), [](char c) {
                return c == '-' || std::isxdigit(static_cast<unsigned char>(c));
            })) {
            // A mapping's header line: its address range, permissions, ... and its file.
            const QList<QByteArray> fields = line.simplified().split(' ');
            file = fields.size() > 5 ? fields[5] : QByteArray("[anonymous]");
            inUnused =
                std::any_of(unused.begin(), unused.end(), [&](const QByteArray& name) { return file.contains(name); });
        } else if (line.startsWith("Rss:")) {
            run.rssMiB += kib(line);
            byFile[file] += kib(line);
            if (inUnused) {
                run.unusedLibrariesMiB += kib(line);
            }
        } else if (line.startsWith("Pss:")) {
            run.pssMiB += kib(line);
        }
    }
    if (qEnvironmentVariableIsSet("LUMETROVE_BENCH_MAPPINGS")) {
        std::vector<std::pair<double, QByteArray>> largest;
        for (const auto& [name, mib] : byFile) {
            largest.emplace_back(mib, name);
        }
        std::sort(largest.rbegin(), largest.rend());
        largest.resize(std::min<std::size_t>(largest.size(), 30));
        std::fprintf(stderr, "process %lld: %.1f MiB resident\n", static_cast<long long>(pid), run.rssMiB);
        for (const auto& [mib, name] : largest) {
            std::fprintf(stderr, "  %7.2f MiB  %s\n", mib, name.constData());
        }
    }
}

/// The program a run starts: "--child=program" is this program as the application, anything else the trivial one.
QString childProgram(const char* mode, QStringList& arguments)
{
    if (std::strcmp(mode, "--child=program") == 0) {
        arguments << QString::fromLatin1(mode);
        return QCoreApplication::applicationFilePath();
    }
    return QStringLiteral(TRIVIAL_TRAY_PROGRAM);
}

Run runChild(const char* mode, Rest rest = Rest::none, int restMs = 0)
{
    Run run;
    QProcess child;
    child.setProcessEnvironment(sandbox->environment);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.setStandardErrorFile(QProcess::nullDevice());
    QStringList arguments;
    const QString program = childProgram(mode, arguments);
    if (rest == Rest::memoryInTray || rest == Rest::cpuInTray) {
        arguments << QStringLiteral("--close-window");
    } else if (rest == Rest::cpuWindowShown) {
        arguments << QStringLiteral("--settle");
    }
    const qint64 start = monotonicNs();
    child.start(program, arguments);
    if (!child.waitForStarted()) {
        return run;
    }
    std::optional<qint64> trayAt;
    std::optional<qint64> paintedAt;
    const qint64 deadline = start + qint64(timeoutMs) * 1'000'000;
    while ((!trayAt || !paintedAt) && monotonicNs() < deadline && child.state() == QProcess::Running) {
        if (!trayAt && watcher->embedded(child.processId())) {
            trayAt = monotonicNs();
        }
        if (!paintedAt && (child.canReadLine() || child.waitForReadyRead(1))) {
            const QByteArray line = child.readLine().trimmed();
            if (line.startsWith("painted ")) {
                paintedAt = line.mid(8).toLongLong();
            }
        }
    }
    if (trayAt && paintedAt) {
        run.trayShown = double(*trayAt - start) / 1e9;
        run.painted = double(*paintedAt - start) / 1e9;
        run.ok = true;
        if (rest != Rest::none) {
            const QByteArray awaited = rest == Rest::cpuWindowShown ? "settled" : "closed";
            bool restsNow = false;
            while (!restsNow && monotonicNs() < deadline && child.state() == QProcess::Running) {
                if (child.canReadLine() || child.waitForReadyRead(10)) {
                    restsNow = child.readLine().trimmed() == awaited;
                }
            }
            if (!restsNow) {
                run.ok = false;
            } else if (rest == Rest::memoryInTray) {
                QThread::msleep(restMs);
                readMemory(child.processId(), run);
            } else {
                // What closing or showing left queued (freeing memory, a last paint) runs first.
                QThread::msleep(1000);
                const double before = cpuSecondsOf(child.processId());
                QThread::msleep(restMs);
                const double after = cpuSecondsOf(child.processId());
                run.cpuSeconds = after - before;
                run.ok = before >= 0 && after >= 0 && child.state() == QProcess::Running;
            }
        }
    }
    child.kill();
    child.waitForFinished();
    return run;
}

void startToTray(benchmark::State& state, const char* mode)
{
    for (auto _ : state) {
        const Run run = runChild(mode);
        if (!run.ok) {
            state.SkipWithError("the child showed no tray icon or painted no list");
            return;
        }
        state.SetIterationTime(run.trayShown);
    }
}

void startToPaintedWindow(benchmark::State& state, const char* mode)
{
    for (auto _ : state) {
        const Run run = runChild(mode);
        if (!run.ok) {
            state.SkipWithError("the child showed no tray icon or painted no list");
            return;
        }
        state.SetIterationTime(run.painted);
    }
}

/// The processes whose parent is `pid`.
QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        // The state, then the parent; an ended child waiting to be reaped is no longer running.
        if (fields.size() > 1 && fields[1].toLongLong() == pid && fields[0] != "Z") {
            children.append(entry.toLongLong());
        }
    }
    return children;
}

/// Waits until process `pid` and its children together have used no CPU time for `quietMs`; false when `deadline`
/// (monotonic ns) comes first or the process ends.
bool awaitQuiet(const QProcess& process, int quietMs, qint64 deadline)
{
    const auto used = [pid = process.processId()] {
        double seconds = cpuSecondsOf(pid);
        for (const qint64 child : childrenOf(pid)) {
            seconds += std::max(0.0, cpuSecondsOf(child));
        }
        return seconds;
    };
    double last = used();
    qint64 quietSince = monotonicNs();
    while (monotonicNs() < deadline && process.state() == QProcess::Running) {
        QThread::msleep(100);
        const double now = used();
        if (now != last) {
            last = now;
            quietSince = monotonicNs();
        } else if (monotonicNs() - quietSince >= qint64(quietMs) * 1'000'000) {
            return true;
        }
    }
    return false;
}

/// The memory of a built program at rest in the tray: started, its tray icon and window awaited, left until it
/// and its helpers have done all they do for what the window shows (or, with `closeAtOnce`, not left at all, as
/// a user closes a window opened by mistake), its window closed from outside, and read `restMs` after it came to
/// rest in the tray. `helpers` is the number of its child processes still running then.
struct IdleMemory {
    Run memory;
    int helpers = 0;
};

IdleMemory restInTray(const QString& program, int restMs, bool closeAtOnce)
{
    IdleMemory idle;
    QProcess child;
    child.setProcessEnvironment(sandbox->environment);
    child.setStandardOutputFile(QProcess::nullDevice());
    child.setStandardErrorFile(QProcess::nullDevice());
    child.start(program, {});
    if (!child.waitForStarted()) {
        return idle;
    }
    const qint64 deadline = monotonicNs() + qint64(timeoutMs) * 1'000'000;
    xcb_window_t window = 0;
    while (monotonicNs() < deadline && child.state() == QProcess::Running &&
           !(watcher->embedded(child.processId()) && (window = watcher->shownWindow(child.processId())) != 0)) {
        QThread::msleep(20);
    }
    constexpr int quietMs = 1000;
    if (window != 0 && (closeAtOnce || awaitQuiet(child, quietMs, deadline))) {
        watcher->close(window);
        while (monotonicNs() < deadline && watcher->shownWindow(child.processId()) != 0) {
            QThread::msleep(20);
        }
        if (watcher->shownWindow(child.processId()) == 0 && awaitQuiet(child, quietMs, deadline)) {
            QThread::msleep(restMs);
            readMemory(child.processId(), idle.memory);
            idle.helpers = int(childrenOf(child.processId()).size());
            idle.memory.ok = child.state() == QProcess::Running;
        }
    }
    child.kill();
    child.waitForFinished();
    return idle;
}

/// Resident memory of the built program (or of the trivial one) two seconds after it came to rest in the tray
/// with its window closed, with a library of `rows` screenshots; the time is that of the whole run, the memory
/// the counters.
void idleInTray(benchmark::State& state, const char* program, int rows, bool closeAtOnce = false)
{
    sandbox->growTo(rows);
    IdleMemory most;
    for (auto _ : state) {
        const qint64 start = monotonicNs();
        const IdleMemory run = restInTray(QString::fromLatin1(program), 2000, closeAtOnce);
        if (!run.memory.ok || run.memory.rssMiB <= 0) {
            state.SkipWithError("the program did not come to rest in the tray, or its memory could not be read");
            return;
        }
        state.SetIterationTime(double(monotonicNs() - start) / 1e9);
        if (run.memory.rssMiB > most.memory.rssMiB) {
            most = run;
        }
    }
    state.counters["rss_MiB"] = most.memory.rssMiB;
    state.counters["pss_MiB"] = most.memory.pssMiB;
    state.counters["engine_and_network_libraries_rss_MiB"] = most.memory.unusedLibrariesMiB;
    state.counters["child_processes"] = most.helpers;
}

/// CPU time used over ten seconds at rest, in the tray with the window closed or with it shown; the time is that
/// CPU time, and the counter the share of one core it is.
void idleCpu(benchmark::State& state, const char* mode, Rest rest)
{
    constexpr int restMs = 10'000;
    double share = 0;
    for (auto _ : state) {
        const Run run = runChild(mode, rest, restMs);
        if (!run.ok) {
            state.SkipWithError("the child's CPU time could not be read, or it did not come to rest");
            return;
        }
        // A run that used no measurable time counts as a microsecond, so that a ratio can be printed.
        state.SetIterationTime(std::max(run.cpuSeconds, 1e-6));
        share = std::max(share, 100.0 * run.cpuSeconds / (restMs / 1000.0));
    }
    state.counters["cpu_percent_of_core"] = share;
}

BENCHMARK_CAPTURE(startToTray, baseline, "--child=trivial")
    ->Name("start_to_tray_icon/baseline")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(startToTray, lumetrove, "--child=program")
    ->Name("start_to_tray_icon/lumetrove")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(startToPaintedWindow, baseline, "--child=trivial")
    ->Name("start_to_window_painted_10k/baseline")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(startToPaintedWindow, lumetrove, "--child=program")
    ->Name("start_to_window_painted_10k/lumetrove")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(idleInTray, baseline, TRIVIAL_TRAY_PROGRAM, libraryRows)
    ->Name("idle_in_tray_memory_10k/baseline")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK_CAPTURE(idleInTray, lumetrove, LUMETROVE_PROGRAM, libraryRows)
    ->Name("idle_in_tray_memory_10k/lumetrove")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK_CAPTURE(idleCpu, baseline, "--child=trivial", Rest::cpuInTray)
    ->Name("idle_cpu_10s_in_tray/baseline")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(idleCpu, lumetrove, "--child=program", Rest::cpuInTray)
    ->Name("idle_cpu_10s_in_tray/lumetrove")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(idleCpu, baseline, "--child=trivial", Rest::cpuWindowShown)
    ->Name("idle_cpu_10s_window_shown/baseline")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(idleCpu, lumetrove, "--child=program", Rest::cpuWindowShown)
    ->Name("idle_cpu_10s_window_shown/lumetrove")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// Last: the library stays 100k long.
BENCHMARK_CAPTURE(idleInTray, baseline, TRIVIAL_TRAY_PROGRAM, 10 * libraryRows)
    ->Name("idle_in_tray_memory_100k/baseline")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK_CAPTURE(idleInTray, lumetrove, LUMETROVE_PROGRAM, 10 * libraryRows)
    ->Name("idle_in_tray_memory_100k/lumetrove")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
// The window closed as soon as it is shown, while its first list is still read.
BENCHMARK_CAPTURE(idleInTray, baseline, TRIVIAL_TRAY_PROGRAM, 10 * libraryRows, true)
    ->Name("idle_in_tray_memory_100k_closed_at_once/baseline")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK_CAPTURE(idleInTray, lumetrove, LUMETROVE_PROGRAM, 10 * libraryRows, true)
    ->Name("idle_in_tray_memory_100k_closed_at_once/lumetrove")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strncmp(argv[1], "--child=", 8) == 0) {
        AfterPaint after = AfterPaint::nothing;
        if (argc > 2 && std::strcmp(argv[2], "--close-window") == 0) {
            after = AfterPaint::close;
        } else if (argc > 2 && std::strcmp(argv[2], "--settle") == 0) {
            after = AfterPaint::settle;
        }
        return runProgram(argc, argv, after);
    }
    PrivateDesktop desktop;
    if (!desktop.start()) {
        std::fprintf(stderr, "bench_startup: could not start Xvfb for a private desktop\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    Sandbox box;
    if (!box.root.isValid() || !box.prepare()) {
        std::fprintf(stderr, "bench_startup: could not prepare the sandboxed library\n");
        return 1;
    }
    TrayWatcher tray;
    for (int i = 0; i < 200 && !tray.findTray(); ++i) {
        QThread::msleep(25);
    }
    if (!tray.findTray()) {
        std::fprintf(stderr, "bench_startup: the system tray did not come up\n");
        return 1;
    }
    sandbox = &box;
    watcher = &tray;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
