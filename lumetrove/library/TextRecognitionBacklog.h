#pragma once

#include <QObject>
#include <QThreadPool>
#include <atomic>
#include <memory>

namespace lumetrove {

class ScreenshotsDB;
class ScreenshotsListManager;
class TextRecognizer;

/// Gives the library's screenshots whose text never came the text and thumbnail they lack: rows that opening
/// the library gave back (images it found without a row) and captures whose run ended before their text was
/// recognised (`ScreenshotsDB::screenshotsAwaitingText`). Off the main thread, one image at a time, oldest
/// first; the missing thumbnails are drawn before any text is read, and the list manager then tells its views
/// (`ScreenshotsListManager::thumbnailsRedrawn`); each text goes to the list manager, which stores it and shows it.
/// Main thread.
class TextRecognitionBacklog : public QObject {
    Q_OBJECT

public:
    /// `recognizer` null means the shared recogniser.
    TextRecognitionBacklog(ScreenshotsListManager& manager, std::shared_ptr<ScreenshotsDB> store,
                           std::shared_ptr<TextRecognizer> recognizer = nullptr, QObject* parent = nullptr);
    ~TextRecognitionBacklog() override;

    /// Works off the screenshots that await their text now. Returns at once.
    void start();

signals:
    /// Every screenshot that awaited its text when `start` was called has it (or was found without image).
    void finished();

private:
    ScreenshotsListManager& manager_;
    std::shared_ptr<ScreenshotsDB> store_;
    std::shared_ptr<TextRecognizer> recognizer_;
    std::shared_ptr<std::atomic<bool>> stopping_ = std::make_shared<std::atomic<bool>>(false);
    QThreadPool worker_;
};

} // namespace lumetrove
