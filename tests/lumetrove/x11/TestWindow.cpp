// A window of another application for the desktop tests: lines of known text on white, at the position
// given on the command line. Prints "ready" once the window is shown and painted. A line "red" on standard
// input turns it plain red; it prints "changed" once it has painted that.

#include <QApplication>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <unistd.h>

namespace {

class TextWindow : public QWidget {
public:
    void turnRed()
    {
        red_ = true;
        repaint();
        std::puts("changed");
        std::fflush(stdout);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        if (red_) {
            painter.fillRect(rect(), Qt::red);
            return;
        }
        painter.fillRect(rect(), Qt::white);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(20);
        painter.setFont(font);
        painter.setPen(QColor(0x22, 0x22, 0x22));
        painter.drawText(30, 60, QStringLiteral("Quarterly budget review"));
        painter.drawText(30, 100, QStringLiteral("Download the invoice archive"));
        if (!announced_) {
            announced_ = true;
            QTimer::singleShot(200, [] {
                std::puts("ready");
                std::fflush(stdout);
            });
        }
    }

private:
    bool announced_ = false;
    bool red_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ledger"));
    TextWindow window;
    window.setWindowTitle(QStringLiteral("Budget - Ledger"));
    const QStringList arguments = QApplication::arguments();
    const int x = arguments.size() > 2 ? arguments[1].toInt() : 100;
    const int y = arguments.size() > 2 ? arguments[2].toInt() : 100;
    window.setGeometry(x, y, 460, 150);
    window.show();
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[64] = {};
        const ssize_t size = read(STDIN_FILENO, line, sizeof line - 1);
        if (size <= 0) {
            input.setEnabled(false);
        } else if (QByteArray(line, int(size)).startsWith("red")) {
            window.turnRed();
        }
    });
    return application.exec();
}
