// A window of another application for the desktop tests: lines of known text on white, at the position
// given on the command line. Prints "ready" once the window is shown and painted.

#include <QApplication>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace {

class TextWindow : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
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
    return application.exec();
}
