#pragma once

#include <QImage>
#include <QUrl>
#include <QWidget>
#include <optional>

namespace lumetrove {

/// The in-app preview of a screenshot's image file, opened with Space from the list and following its
/// selection. The file is decoded off the main thread; the window shows the file's name until the image is
/// there, and "Cannot open <name>" when it cannot be read.
class ScreenshotPreviewWindow : public QWidget {
    Q_OBJECT

public:
    explicit ScreenshotPreviewWindow(QWidget* parent = nullptr);

    /// Shows the file at `url` (loading it when it is another file), or closes the window for none.
    void setUrl(const std::optional<QUrl>& url);
    const std::optional<QUrl>& url() const { return url_; }
    /// The decoded image of the current file; null while loading or when it cannot be read.
    const QImage& image() const { return image_; }

signals:
    /// The user closed the window.
    void closedByUser();
    /// The image of the current file was decoded (or failed to be).
    void imageLoaded();

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void load(const QUrl& url);

    std::optional<QUrl> url_;
    QImage image_;
    bool failed_ = false;
    quint64 loadTicket_ = 0;
    bool closingFromCode_ = false;
};

} // namespace lumetrove
