// Cold start of the program, each run a fresh process on a private desktop (Xvfb, openbox and trayer, a system
// tray): from the process start to its tray icon embedded in the tray, and to its main window painted with a
// library of 10k screenshots (the newest, selected at start, with a full-HD image); and its resident memory once
// idle in the tray with the window closed after it showed that image and its recognised text; and the CPU time it
// uses over ten seconds at rest, in the tray and with the window shown (goal: under 1 % of one core). Beside
// each, the same of a trivial Qt program: a tray icon and a window with a list of 10k rows.
//
// The runs are this program started again with "--child=program" (the application's own start-up, as
// lumetrove/main.cpp does it) or "--child=trivial"; a child prints the monotonic clock when its list has first
// been painted with rows. The tray icon is watched from outside, on the X server.

#include "lumetrove/app/ContentView.h"
#include "lumetrove/app/LumetroveApp.h"
#include "lumetrove/browser/ScreenshotListView.h"
#include "lumetrove/detail/LiveTextImageView.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/ScreenshotsDB.h"
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
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumetrove"));
    QApplication::setOrganizationName(QStringLiteral("Lumetrove"));
    QApplication::setDesktopFileName(QStringLiteral("lumetrove"));
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

int runTrivial(int argc, char** argv, AfterPaint after)
{
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap icon(22, 22);
    icon.fill(Qt::darkBlue);
    QSystemTrayIcon tray{QIcon(icon)};
    tray.show();
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Trivial"));
    QStringList rows;
    rows.reserve(libraryRows);
    for (int row = 0; row < libraryRows; ++row) {
        rows << QStringLiteral("Screen Shot %1").arg(row);
    }
    QStringListModel model(rows);
    auto* list = new QListView(&window);
    // Rows of one height, as the program's are: the view need not measure every row before painting.
    list->setUniformItemSizes(true);
    list->setModel(&model);
    window.setCentralWidget(list);
    new PaintReporter(list, &window, after);
    window.resize(1400, 800);
    window.show();
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

private:
    template <class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

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
        Reply<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(
                connection_.get(),
                xcb_get_property(connection_.get(), 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64), nullptr),
            &std::free);
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
        xcb_connection_t* c = connection_.get();
        for (xcb_window_t child : children(parent)) {
            Reply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, child), nullptr), &std::free);
            Reply<xcb_get_property_reply_t> owner(
                xcb_get_property_reply(c, xcb_get_property(c, 0, child, pidAtom(), XCB_ATOM_CARDINAL, 0, 1), nullptr),
                &std::free);
            if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && owner &&
                xcb_get_property_value_length(owner.get()) == 4 &&
                *static_cast<const quint32*>(xcb_get_property_value(owner.get())) == pid) {
                return true;
            }
            if (embeddedBelow(child, pid)) {
                return true;
            }
        }
        return false;
    }

    xcb_atom_t pidAtom() const
    {
        if (pidAtom_ == XCB_ATOM_NONE) {
            const char* name = "_NET_WM_PID";
            Reply<xcb_intern_atom_reply_t> reply(
                xcb_intern_atom_reply(connection_.get(), xcb_intern_atom(connection_.get(), 0, std::strlen(name), name),
                                      nullptr),
                &std::free);
            pidAtom_ = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        }
        return pidAtom_;
    }

    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection_;
    xcb_window_t root_ = 0;
    xcb_window_t tray_ = 0;
    mutable xcb_atom_t pidAtom_ = XCB_ATOM_NONE;
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
        auto store = std::make_shared<lumetrove::ScreenshotsDB>();
        store->openDatabase(*path);
        const auto db = store->db();
        db->transaction([&] {
            const auto insert = db->prepare("INSERT INTO screenshots (name, path, text, captured_app_name, "
                                            "was_imported, created_at) VALUES (?, ?, ?, ?, 0, ?)");
            const QDateTime now = QDateTime::currentDateTimeUtc();
            for (int index = 0; index < libraryRows; ++index) {
                const std::string name = "Screen Shot " + std::to_string(index);
                const std::string created = now.addSecs(-60LL * (libraryRows - index))
                                                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                                .toStdString();
                insert->runToEnd(name, "file:///nowhere/" + name + ".png",
                                 "Quarterly budget review\nDownload the invoice archive " + std::to_string(index),
                                 std::string("Ledger"), created);
            }
        });
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
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const QByteArray range = line.left(line.indexOf(' '));
        if (range.contains('-') && std::all_of(range.begin(), range.end(), [](char c) {
                return c == '-' || std::isxdigit(static_cast<unsigned char>(c));
            })) {
            // A mapping's header line: its address range, permissions, ... and its file.
            const QByteArray file = line.mid(line.lastIndexOf(' ') + 1);
            inUnused =
                std::any_of(unused.begin(), unused.end(), [&](const QByteArray& name) { return file.contains(name); });
        } else if (line.startsWith("Rss:")) {
            run.rssMiB += kib(line);
            if (inUnused) {
                run.unusedLibrariesMiB += kib(line);
            }
        } else if (line.startsWith("Pss:")) {
            run.pssMiB += kib(line);
        }
    }
}

Run runChild(const char* mode, Rest rest = Rest::none, int restMs = 0)
{
    Run run;
    QProcess child;
    child.setProcessEnvironment(sandbox->environment);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.setStandardErrorFile(QProcess::nullDevice());
    QStringList arguments{QString::fromLatin1(mode)};
    if (rest == Rest::memoryInTray || rest == Rest::cpuInTray) {
        arguments << QStringLiteral("--close-window");
    } else if (rest == Rest::cpuWindowShown) {
        arguments << QStringLiteral("--settle");
    }
    const qint64 start = monotonicNs();
    child.start(QCoreApplication::applicationFilePath(), arguments);
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

/// Resident memory after two seconds idle in the tray with the window closed; the time is the start to the
/// painted window of that run, the memory is the counter.
void idleInTray(benchmark::State& state, const char* mode)
{
    Run most;
    for (auto _ : state) {
        const Run run = runChild(mode, Rest::memoryInTray, 2000);
        if (!run.ok || run.rssMiB <= 0) {
            state.SkipWithError("the child's resident memory could not be read");
            return;
        }
        state.SetIterationTime(run.painted);
        if (run.rssMiB > most.rssMiB) {
            most = run;
        }
    }
    state.counters["rss_MiB"] = most.rssMiB;
    state.counters["pss_MiB"] = most.pssMiB;
    state.counters["engine_and_network_libraries_rss_MiB"] = most.unusedLibrariesMiB;
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
BENCHMARK_CAPTURE(idleInTray, baseline, "--child=trivial")
    ->Name("idle_in_tray_memory/baseline")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK_CAPTURE(idleInTray, lumetrove, "--child=program")
    ->Name("idle_in_tray_memory/lumetrove")
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

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], lumetrove::textRecognitionHelperArgument) == 0) {
        return lumetrove::runTextRecognitionHelper();
    }
    if (argc > 1 && std::strncmp(argv[1], "--child=", 8) == 0) {
        AfterPaint after = AfterPaint::nothing;
        if (argc > 2 && std::strcmp(argv[2], "--close-window") == 0) {
            after = AfterPaint::close;
        } else if (argc > 2 && std::strcmp(argv[2], "--settle") == 0) {
            after = AfterPaint::settle;
        }
        return std::strcmp(argv[1], "--child=program") == 0 ? runProgram(argc, argv, after)
                                                            : runTrivial(argc, argv, after);
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
