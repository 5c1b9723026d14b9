// The yardstick of the start-up and idle-memory benchmarks: a trivial Qt program with a tray icon and a window
// with a list of 10k rows, linked with Qt Widgets only. It prints "painted <monotonic ns>" once the list has been
// painted with rows and flushed; with "--close-window" it then closes the window and prints "closed", with
// "--settle" it prints "settled". Closed from outside (the window manager's close), it stays in the tray.

#include <QApplication>
#include <QListView>
#include <QMainWindow>
#include <QPixmap>
#include <QStringListModel>
#include <QSystemTrayIcon>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

class PaintReporter : public QObject {
public:
    PaintReporter(QAbstractItemView* view, QWidget* window, const char* after)
        : QObject(view), view_(view), window_(window), after_(after)
    {
        view->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !reported_ && view_->model()->rowCount() > 0) {
            reported_ = true;
            // Queued: the paint and the flush of the window's backing store finish first.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    timespec now{};
                    clock_gettime(CLOCK_MONOTONIC, &now);
                    std::printf("painted %lld\n", static_cast<long long>(now.tv_sec) * 1'000'000'000 + now.tv_nsec);
                    if (std::strcmp(after_, "--close-window") == 0) {
                        window_->close();
                        std::printf("closed\n");
                    } else if (std::strcmp(after_, "--settle") == 0) {
                        std::printf("settled\n");
                    }
                    std::fflush(stdout);
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    QAbstractItemView* view_;
    QWidget* window_;
    const char* after_;
    bool reported_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    constexpr int rowCount = 10'000;
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap icon(22, 22);
    icon.fill(Qt::darkBlue);
    QSystemTrayIcon tray{QIcon(icon)};
    tray.show();
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Trivial"));
    QStringList rows;
    rows.reserve(rowCount);
    for (int row = 0; row < rowCount; ++row) {
        rows << QStringLiteral("Screen Shot %1").arg(row);
    }
    QStringListModel model(rows);
    auto* list = new QListView(&window);
    // Rows of one height, as the program's are: the view need not measure every row before painting.
    list->setUniformItemSizes(true);
    list->setModel(&model);
    window.setCentralWidget(list);
    new PaintReporter(list, &window, argc > 1 ? argv[1] : "");
    window.resize(1400, 800);
    window.show();
    return QApplication::exec();
}
