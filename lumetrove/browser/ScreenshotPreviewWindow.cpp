#include "lumetrove/browser/ScreenshotPreviewWindow.h"

#include "lumetrove/platform/ImageUtilities.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QKeyEvent>
#include <QPainter>
#include <QtConcurrent>

namespace lumetrove {

ScreenshotPreviewWindow::ScreenshotPreviewWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAccessibleName(tr("Preview"));
    resize(900, 640);
}

void ScreenshotPreviewWindow::setUrl(const std::optional<QUrl>& url)
{
    if (!url) {
        url_.reset();
        ++loadTicket_;
        closingFromCode_ = true;
        close();
        closingFromCode_ = false;
        return;
    }
    if (url_ != url) {
        url_ = url;
        load(*url);
    }
    setWindowTitle(QFileInfo(url->toLocalFile()).fileName());
    if (!isVisible()) {
        show();
    }
    raise();
}

void ScreenshotPreviewWindow::load(const QUrl& url)
{
    image_ = QImage();
    failed_ = false;
    const quint64 ticket = ++loadTicket_;
    const QString path = url.toLocalFile();
    // The watcher is a child of the window: when the window goes first, the image goes nowhere.
    auto* watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, ticket] {
        watcher->deleteLater();
        if (ticket != loadTicket_) {
            return;
        }
        image_ = watcher->result();
        failed_ = image_.isNull();
        update();
        emit imageLoaded();
    });
    watcher->setFuture(QtConcurrent::run([path] { return readUprightImageFile(path); }));
    update();
}

void ScreenshotPreviewWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (image_.isNull()) {
        const QString name = url_ ? QFileInfo(url_->toLocalFile()).fileName() : QString();
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignCenter, failed_ ? tr("Cannot open %1").arg(name) : name);
        return;
    }
    QSize size = image_.size();
    if (size.width() > width() || size.height() > height()) {
        size.scale(this->size(), Qt::KeepAspectRatio);
    }
    QRect target(QPoint(0, 0), size);
    target.moveCenter(rect().center());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image_);
}

void ScreenshotPreviewWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (!closingFromCode_) {
        url_.reset();
        ++loadTicket_;
        emit closedByUser();
    }
}

void ScreenshotPreviewWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Space) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace lumetrove
