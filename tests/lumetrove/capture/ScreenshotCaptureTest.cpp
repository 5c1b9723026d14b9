#include "lumetrove/capture/ScreenshotCapture.h"

#include "lumetrove/app/WidgetCaptureMainWindow.h"
#include "lumetrove/captureui/OverlayWindow.h"
#include "lumetrove/captureui/ScreenCaptureOverlays.h"
#include "lumetrove/library/Screenshot.h"
#include "lumetrove/platform/ScreenRecordingPermission.h"
#include "lumetrove/platform/TextRecognizer.h"
#include "tests/lumetrove/Sandbox.h"
#include "tests/lumetrove/capture/HeldRecognizer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTest>
#include <QtEndian>
#include <atomic>
#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime's allocator interface, whose header the compiler does not always ship.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumetrove {
namespace {

/// Answers with the image's width, or fails for images 13 pixels wide.
class FakeRecognizer : public TextRecognizer {
public:
    RecognizedText recognize(const QImage& image) const override
    {
        ++calls;
        if (image.width() == 13) {
            throw TextRecognitionError("unreadable");
        }
        RecognizedText text;
        text.lines.push_back(RecognizedLine{QStringLiteral("width %1").arg(image.width()), {}, {}});
        text.lines.push_back(RecognizedLine{QStringLiteral("second line"), {}, {}});
        return text;
    }
    mutable std::atomic<int> calls = 0;
};

struct Completion {
    std::optional<QList<CapturedScreenshotInfo>> results;
    CaptureResult result;
};

class ScreenshotCaptureTest : public testing::SandboxTest {
protected:
    /// Records each completion and answers `followUp`, as the shell would after storing (or not) the records.
    CaptureCompletionHandler recorder(CaptureFollowUp followUp = CaptureFollowUp::showMainWindow)
    {
        return [this, followUp](const std::optional<QList<CapturedScreenshotInfo>>& results, CaptureResult result) {
            completions.push_back(Completion{results, result});
            return followUp;
        };
    }
    bool waitForCompletion(size_t count = 1)
    {
        return testing::processEventsUntil([&] { return completions.size() >= count; });
    }
    /// Starts a capture whose grab gives `grabbed`, one image after the other, and waits for its one report.
    void captureImages(const QList<QImage>& grabbed)
    {
        capture.startAreaCapture(false, recorder());
        capture.closeShadeWindows();
        for (const QImage& image : grabbed) {
            capture.saveGrabbedImage(image);
        }
        ASSERT_TRUE(waitForCompletion());
        QTest::qWait(50); // time for a second report, which must not come
        ASSERT_EQ(completions.size(), 1u);
    }
    QString screenshots() const { return libraryDirectory() + QStringLiteral("/Screenshots"); }
    /// The record's whole text, waited for while it is still being recognised.
    static QString wholeText(const CapturedScreenshotInfo& info)
    {
        if (!info.pendingRecognizedText) {
            return info.recognizedText;
        }
        const QFuture<QString> text = *info.pendingRecognizedText;
        EXPECT_TRUE(testing::processEventsUntil([&] { return text.isFinished(); }));
        return text.isFinished() ? text.result() : QStringLiteral("(still being recognised)");
    }
    QImage image(int width, int height, QColor colour = Qt::red)
    {
        QImage made(width, height, QImage::Format_RGB32);
        made.fill(colour);
        return made;
    }

    std::shared_ptr<FakeRecognizer> recognizer = std::make_shared<FakeRecognizer>();
    ScreenshotCapture capture{recognizer, nullptr};
    ScreenCaptureOverlays* overlays = &ScreenCaptureOverlays::installIn(capture);
    std::vector<Completion> completions;
};

TEST_F(ScreenshotCaptureTest, AGrabIsSavedRecognisedAndReportedOnce)
{
    captureImages({image(300, 200)});
    ASSERT_EQ(completions[0].result, CaptureResult::success);
    ASSERT_EQ(completions[0].results->size(), 1);
    const CapturedScreenshotInfo& info = completions[0].results->front();

    // Named at once after the default name of the time its row is to hold.
    ASSERT_TRUE(info.createdAt);
    const QString name = screenshotDefaultName(screenshotCreatedDate(info.createdAt));
    EXPECT_EQ(info.screenshotFilename, name + ".png");
    EXPECT_TRUE(info.screenshotPath.startsWith(QStringLiteral("file:///")));
    EXPECT_EQ(QUrl(info.screenshotPath).fileName(), name + ".png");
    const QString path = QUrl(info.screenshotPath).toLocalFile();
    EXPECT_EQ(QFileInfo(path).absolutePath(), screenshots());
    EXPECT_EQ(QImageReader(path).format(), "png");
    EXPECT_EQ(QImage(path).size(), QSize(300, 200));
    // The record is handed on with its text to come.
    EXPECT_EQ(info.recognizedText, QString());
    EXPECT_EQ(wholeText(info), QStringLiteral("width 300\nsecond line"));
    ASSERT_TRUE(info.thumbnail);
    EXPECT_EQ(QImage::fromData(*info.thumbnail).size(), QSize(200, 140));
    EXPECT_EQ(info.windowDetails, std::nullopt);
}

TEST_F(ScreenshotCaptureTest, ImagesAreProcessedInCaptureOrderAndAFailedRecognitionKeepsTheImage)
{
    // The first image is still being worked on when the others are queued.
    captureImages({image(101, 50), image(13, 50), image(103, 50)});
    const QList<CapturedScreenshotInfo>& results = *completions[0].results;
    ASSERT_EQ(results.size(), 3);
    EXPECT_EQ(wholeText(results[0]), QStringLiteral("width 101\nsecond line"));
    EXPECT_EQ(wholeText(results[1]), QString()) << "stored with empty text";
    EXPECT_TRUE(QFileInfo::exists(QUrl(results[1].screenshotPath).toLocalFile()));
    EXPECT_EQ(wholeText(results[2]), QStringLiteral("width 103\nsecond line"));
    EXPECT_NE(results[0].screenshotFilename, results[2].screenshotFilename);
}

TEST_F(ScreenshotCaptureTest, ARecordWithAnAssistantTaskIsReportedWithItsWholeText)
{
    // Copying or searching the text happens as soon as the record is reported: it cannot wait for a future.
    capture.startAreaCapture(true, recorder());
    ASSERT_FALSE(overlays->windows().isEmpty());
    auto* view = overlays->windows().front()->findChild<ScreenAreaSelectionView*>();
    ASSERT_TRUE(view);
    overlays->didSelectArea(
        *view, QRectF(10, 10, 60, 30),
        WindowDetails{std::nullopt, QStringLiteral("Editor"), std::nullopt, QStringLiteral("Copy text")});
    ASSERT_TRUE(waitForCompletion());
    ASSERT_EQ(completions[0].result, CaptureResult::success);
    ASSERT_EQ(completions[0].results->size(), 1);
    const CapturedScreenshotInfo& info = completions[0].results->front();
    EXPECT_FALSE(info.pendingRecognizedText);
    EXPECT_EQ(info.recognizedText, QStringLiteral("width 60\nsecond line"));
}

TEST_F(ScreenshotCaptureTest, AnImageThatCannotBeWrittenGivesNoRecordAndTheCaptureEndsCancelled)
{
    // A file where the directory should be: no file can be written into it, not even by root.
    QDir().mkpath(libraryDirectory());
    QFile blocker(screenshots());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QWidget mainWindow;
    capture.setMainWindow(std::make_shared<WidgetCaptureMainWindow>(&mainWindow));
    mainWindow.show();
    captureImages({image(300, 200)});
    EXPECT_EQ(completions[0].result, CaptureResult::cancelled);
    EXPECT_FALSE(completions[0].results);
    EXPECT_EQ(recognizer->calls.load(), 0);
    EXPECT_EQ(mainWindow.windowOpacity(), 1.0);
}

TEST_F(ScreenshotCaptureTest, AGrabThatYieldsNothingEndsTheCaptureCancelledLeavingNoFile)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    for (const QRectF area : {QRectF(screen.center(), QSizeF(0, 0)), QRectF(screen.center(), QSizeF(40, 0)),
                              QRectF(screen.right() + 500, screen.bottom() + 500, 40, 40)}) {
        SCOPED_TRACE(QDebug::toString(area).toStdString());
        completions.clear();
        QWidget mainWindow;
        capture.setMainWindow(std::make_shared<WidgetCaptureMainWindow>(&mainWindow));
        mainWindow.show();
        capture.startAreaCapture(false, recorder());
        capture.closeShadeWindows();
        ::testing::internal::CaptureStderr();
        capture.captureAndSaveArea(area);
        QTest::qWait(50); // time for a second report, which must not come
        const std::string logged = ::testing::internal::GetCapturedStderr();

        ASSERT_EQ(completions.size(), 1u);
        EXPECT_EQ(completions[0].result, CaptureResult::cancelled);
        EXPECT_FALSE(completions[0].results);
        EXPECT_NE(logged.find("Could not grab the selected area of the screen"), std::string::npos) << logged;
        EXPECT_EQ(mainWindow.windowOpacity(), 1.0);
        EXPECT_EQ(recognizer->calls.load(), 0);
        EXPECT_TRUE(QDir(screenshots()).isEmpty(QDir::Files | QDir::Hidden));
    }
}

TEST_F(ScreenshotCaptureTest, EscapeEndsTheCaptureClosesEveryOverlayAndRestoresTheMainWindow)
{
    QWidget mainWindow;
    capture.setMainWindow(std::make_shared<WidgetCaptureMainWindow>(&mainWindow));
    mainWindow.show();
    QWidget strayOverlay; // any window at the overlay level is closed
    strayOverlay.setProperty(OverlayWindow::levelProperty, ScreenshotCapture::screenshotWindowOverlayWindowLevel);
    strayOverlay.show();
    QWidget namesake; // the main window is the one handed over, whatever the titles
    namesake.setWindowTitle(QStringLiteral("Screenshots"));
    namesake.show();

    capture.startAreaCapture(false, recorder());
    EXPECT_EQ(mainWindow.windowOpacity(), 0.0);
    EXPECT_EQ(namesake.windowOpacity(), 1.0);
    EXPECT_TRUE(namesake.isVisible());
    ASSERT_EQ(overlays->windows().size(), QGuiApplication::screens().size());
    QWidget* overlay = overlays->windows().front();
    ASSERT_TRUE(overlay->isVisible());
    strayOverlay.show();
    QTest::keyClick(overlay->findChild<ScreenAreaSelectionView*>(), Qt::Key_Escape);

    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].result, CaptureResult::cancelled);
    EXPECT_FALSE(completions[0].results);
    EXPECT_FALSE(strayOverlay.isVisible());
    EXPECT_TRUE(overlays->windows().isEmpty());
    EXPECT_EQ(mainWindow.windowOpacity(), 1.0);
    QTest::keyClick(&mainWindow, Qt::Key_Escape);
    EXPECT_EQ(completions.size(), 1u) << "the handler is called once";
}

TEST_F(ScreenshotCaptureTest, TheMainWindowsAlertLeavesTheScreenWithItAndComesBackAfterIt)
{
    QWidget mainWindow;
    const auto window = std::make_shared<WidgetCaptureMainWindow>(&mainWindow);
    capture.setMainWindow(window);
    mainWindow.show();
    auto* alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Import"), QStringLiteral("not imported"),
                                  QMessageBox::Ok, &mainWindow);
    alert->setWindowModality(Qt::WindowModal);
    alert->open();
    QWidget other; // a window of its own, not the main window's
    other.show();

    // Made transparent with the window (this platform draws translucency), so that it is not in the picture.
    capture.startAreaCapture(false, recorder());
    EXPECT_EQ(alert->windowOpacity(), 0.0);
    EXPECT_EQ(other.windowOpacity(), 1.0);
    ASSERT_FALSE(overlays->windows().isEmpty());
    QTest::keyClick(overlays->windows().front()->findChild<ScreenAreaSelectionView*>(), Qt::Key_Escape);
    EXPECT_EQ(alert->windowOpacity(), 1.0);
    EXPECT_TRUE(alert->isVisible());

    // Unmapped with the window, and shown again only after it, by whatever road the window comes back: shown
    // before it, the alert would lie below the window it blocks.
    window->hide();
    EXPECT_FALSE(alert->isVisible());
    EXPECT_TRUE(other.isVisible());
    mainWindow.show();
    EXPECT_FALSE(alert->isVisible());
    EXPECT_TRUE(testing::processEventsUntil([&] { return alert->isVisible(); }));
    EXPECT_TRUE(alert->isModal());
    window->hide();
    window->show();
    EXPECT_TRUE(testing::processEventsUntil([&] { return alert->isVisible(); })) << "and again";
}

TEST_F(ScreenshotCaptureTest, AMainWindowThatIsGoneIsLeftOutOfTheCapture)
{
    {
        QWidget mainWindow;
        capture.setMainWindow(std::make_shared<WidgetCaptureMainWindow>(&mainWindow));
        mainWindow.show();
    }
    capture.startAreaCapture(false, recorder());
    ASSERT_FALSE(overlays->windows().isEmpty());
    QTest::keyClick(overlays->windows().front()->findChild<ScreenAreaSelectionView*>(), Qt::Key_Escape);
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].result, CaptureResult::cancelled);
}

TEST_F(ScreenshotCaptureTest, ACaptureThatStoresNothingGivesTheMainWindowBackAsItWas)
{
    // A capture whose records the shell kept nowhere (it copied or searched for their text), and Escape: the
    // window is where it was, shown or in the tray, and fully opaque.
    for (const bool shown : {true, false}) {
        for (const QString& task : {QStringLiteral("Copy text"), QString()}) {
            SCOPED_TRACE((shown ? "shown, " : "in the tray, ") + (task.isEmpty() ? "Escape" : task.toStdString()));
            completions.clear();
            QWidget mainWindow;
            capture.setMainWindow(std::make_shared<WidgetCaptureMainWindow>(&mainWindow));
            if (shown) {
                mainWindow.show();
            }
            capture.startAreaCapture(!task.isEmpty(), recorder(CaptureFollowUp::returnToPreviousWindow));
            ASSERT_FALSE(overlays->windows().isEmpty());
            auto* view = overlays->windows().front()->findChild<ScreenAreaSelectionView*>();
            ASSERT_TRUE(view);
            if (task.isEmpty()) {
                QTest::keyClick(view, Qt::Key_Escape);
            } else {
                overlays->didSelectArea(*view, QRectF(10, 10, 60, 30),
                                        WindowDetails{std::nullopt, QStringLiteral("Editor"), std::nullopt, task});
            }
            ASSERT_TRUE(waitForCompletion());
            EXPECT_EQ(mainWindow.isVisible(), shown);
            EXPECT_EQ(mainWindow.windowOpacity(), 1.0);
        }
    }
}

TEST_F(ScreenshotCaptureTest, AStoredCaptureBringsTheMainWindowForward)
{
    QWidget mainWindow;
    capture.setMainWindow(std::make_shared<WidgetCaptureMainWindow>(&mainWindow));
    capture.startAreaCapture(false, recorder());
    auto* view = overlays->windows().front()->findChild<ScreenAreaSelectionView*>();
    ASSERT_TRUE(view);
    overlays->didSelectArea(*view, QRectF(10, 10, 60, 30),
                            WindowDetails{std::nullopt, QStringLiteral("Editor"), std::nullopt, std::nullopt});
    ASSERT_TRUE(waitForCompletion());
    EXPECT_TRUE(mainWindow.isVisible());
    EXPECT_EQ(mainWindow.windowOpacity(), 1.0);
}

TEST_F(ScreenshotCaptureTest, ImportCopiesPngAndJpegFilesUnderFreeNamesAndSkipsTheRest)
{
    QTemporaryDir sources;
    const auto source = [&](const QString& name, const QImage& content, const char* format) {
        const QString path = sources.filePath(name);
        QImageWriter writer(path, format);
        EXPECT_TRUE(writer.write(content));
        return QUrl::fromLocalFile(path);
    };
    const QUrl png = source(QStringLiteral("Shot.PNG"), image(120, 80), "png");
    const QUrl jpeg = source(QStringLiteral("Shot.jpg"), image(64, 48, Qt::blue), "jpeg");
    QImageWriter rotated(sources.filePath(QStringLiteral("Photo.JPG")), "jpeg");
    rotated.setTransformation(QImageIOHandler::TransformationRotate90);
    ASSERT_TRUE(rotated.write(image(40, 20, Qt::green)));
    const QByteArray photoBytes = [&] {
        QFile file(sources.filePath(QStringLiteral("Photo.JPG")));
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }();
    const QUrl gif = QUrl::fromLocalFile(sources.filePath(QStringLiteral("anim.gif")));
    const QUrl missing = QUrl::fromLocalFile(sources.filePath(QStringLiteral("missing.png")));

    capture.performCaptureFromFileURLs(
        {png, missing, gif, jpeg, QUrl::fromLocalFile(sources.filePath(QStringLiteral("Photo.JPG"))), png}, recorder());
    ASSERT_TRUE(waitForCompletion());
    QTest::qWait(50);
    ASSERT_EQ(completions.size(), 1u) << "a file that fails to copy does not end the import early";
    ASSERT_EQ(completions[0].result, CaptureResult::success);
    const QList<CapturedScreenshotInfo>& results = *completions[0].results;
    QStringList names, filenames;
    for (const CapturedScreenshotInfo& info : results) {
        names.append(QUrl(info.screenshotPath).fileName());
        filenames.append(info.screenshotFilename);
        EXPECT_EQ(QImageReader(QUrl(info.screenshotPath).toLocalFile()).format(), "png");
        EXPECT_FALSE(info.windowDetails);
    }
    // Names differ in case only on a case-sensitive file system: Shot.png is free beside Shot.PNG.
    EXPECT_EQ(names, (QStringList{QStringLiteral("Shot.PNG"), QStringLiteral("Shot.png"), QStringLiteral("Photo.png"),
                                  QStringLiteral("Shot-1.png")}));
    EXPECT_EQ(filenames, (QStringList{QStringLiteral("Shot"), QStringLiteral("Shot"), QStringLiteral("Photo"),
                                      QStringLiteral("Shot")}));
    // The photo is stored upright by its orientation tag, and recognised upright; its source is untouched.
    EXPECT_EQ(QImage(screenshots() + QStringLiteral("/Photo.png")).size(), QSize(20, 40));
    EXPECT_EQ(wholeText(results[2]), QStringLiteral("width 20\nsecond line"));
    QFile photo(sources.filePath(QStringLiteral("Photo.JPG")));
    ASSERT_TRUE(photo.open(QIODevice::ReadOnly));
    EXPECT_EQ(photo.readAll(), photoBytes);
}

TEST_F(ScreenshotCaptureTest, AFileNamedAtTheFileSystemsLimitIsImportedEveryTimeUnderItsWholeName)
{
    // 254 bytes: the longest name a file system takes leaves no room for the partial file or a number.
    QTemporaryDir sources;
    const QString name = QString(125, QChar(0xe9));
    const QString path = sources.filePath(name + QStringLiteral(".png"));
    ASSERT_TRUE(image(30, 20).save(path, "PNG"));
    capture.performCaptureFromFileURLs({QUrl::fromLocalFile(path), QUrl::fromLocalFile(path)}, recorder());
    ASSERT_TRUE(waitForCompletion());
    ASSERT_EQ(completions.size(), 1u);
    const QList<CapturedScreenshotInfo>& results = *completions[0].results;
    ASSERT_EQ(results.size(), 2);
    for (const CapturedScreenshotInfo& info : results) {
        EXPECT_EQ(info.screenshotFilename, name);
        EXPECT_TRUE(QFileInfo::exists(QUrl(info.screenshotPath).toLocalFile()));
    }
    EXPECT_NE(results[0].screenshotPath, results[1].screenshotPath);
}

TEST_F(ScreenshotCaptureTest, AnImportOfNothingImportableSucceedsWithAnEmptyList)
{
    capture.performCaptureFromFileURLs({QUrl::fromLocalFile(QStringLiteral("/tmp/notes.txt"))}, recorder());
    ASSERT_TRUE(waitForCompletion());
    QTest::qWait(50);
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].result, CaptureResult::success);
    EXPECT_TRUE(completions[0].results->isEmpty());
}

TEST_F(ScreenshotCaptureTest, CapturesAndImportsRunSideBySideAndEachReportsItsOwnRecords)
{
    QTemporaryDir sources;
    QList<QUrl> files;
    for (int i = 0; i < 3; ++i) {
        const QString path = sources.filePath(QStringLiteral("import%1.png").arg(i));
        ASSERT_TRUE(image(50 + i, 30).save(path));
        files << QUrl::fromLocalFile(path);
    }
    std::vector<Completion> imported;
    const auto importRecorder = [&](const auto& results, CaptureResult result) {
        imported.push_back(Completion{results, result});
    };
    // A capture started while an import is under way, and an import started while a capture's area is chosen.
    capture.performCaptureFromFileURLs(files, importRecorder);
    capture.startAreaCapture(false, recorder());
    capture.performCaptureFromFileURLs(files.mid(0, 1), importRecorder);
    ASSERT_FALSE(overlays->windows().isEmpty()) << "an import leaves the overlays of a capture alone";
    capture.closeShadeWindows();
    capture.saveGrabbedImage(image(150, 50));
    ASSERT_TRUE(waitForCompletion());
    ASSERT_TRUE(testing::processEventsUntil([&] { return imported.size() == 2; }));
    QTest::qWait(50); // time for a further report, which must not come
    ASSERT_EQ(completions.size(), 1u);
    ASSERT_EQ(imported.size(), 2u);
    EXPECT_EQ(completions[0].result, CaptureResult::success);
    ASSERT_EQ(completions[0].results->size(), 1);
    EXPECT_EQ(wholeText(completions[0].results->front()), QStringLiteral("width 150\nsecond line"));
    QList<int> importedCounts;
    for (const Completion& done : imported) {
        EXPECT_EQ(done.result, CaptureResult::success);
        importedCounts << static_cast<int>(done.results->size());
        for (const CapturedScreenshotInfo& info : *done.results) {
            EXPECT_TRUE(QFileInfo::exists(QUrl(info.screenshotPath).toLocalFile()));
        }
    }
    EXPECT_EQ(importedCounts, (QList<int>{3, 1}));
    EXPECT_EQ(QDir(screenshots()).entryList(QDir::Files | QDir::Hidden).size(), 5);

    // Only a capture whose area is still being chosen is replaced by the next.
    completions.clear();
    std::vector<Completion> replaced;
    capture.startAreaCapture(false, [&](const auto& results, CaptureResult result) {
        replaced.push_back(Completion{results, result});
        return CaptureFollowUp::showMainWindow;
    });
    capture.startAreaCapture(false, recorder());
    capture.closeShadeWindows();
    capture.saveGrabbedImage(image(160, 50));
    ASSERT_TRUE(waitForCompletion());
    QTest::qWait(50);
    EXPECT_TRUE(replaced.empty());
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].results->size(), 1);
}

TEST_F(ScreenshotCaptureTest, AFileThatCannotBecomeAScreenshotLeavesNothingBehindAndIsToldWithItsReason)
{
    QTemporaryDir sources;
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(sources.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return QUrl::fromLocalFile(file.fileName());
    };
    const auto encoded = [&](const char* format) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImage noisy(400, 300, QImage::Format_RGB32);
        for (int y = 0; y < noisy.height(); ++y) {
            for (int x = 0; x < noisy.width(); ++x) {
                noisy.setPixel(x, y, qRgb((x * 7 + y) % 256, (y * 13) % 256, (x ^ y) % 256));
            }
        }
        EXPECT_TRUE(noisy.save(&buffer, format));
        return bytes;
    };
    const QByteArray png = encoded("png");
    const QByteArray jpeg = encoded("jpeg");
    // A PNG that claims 30000 x 30000 pixels in a few bytes: refused before anything is decoded.
    QByteArray huge("\x89PNG\r\n\x1a\n", 8);
    const auto chunk = [&](const QByteArray& type, const QByteArray& data) {
        QByteArray length(4, 0);
        qToBigEndian<quint32>(static_cast<quint32>(data.size()), length.data());
        // The chunk's CRC-32 (the PNG polynomial), which the decoder checks.
        quint32 crc = 0xffffffffu;
        for (const char byte : type + data) {
            crc ^= static_cast<unsigned char>(byte);
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
            }
        }
        QByteArray checksum(4, 0);
        qToBigEndian<quint32>(crc ^ 0xffffffffu, checksum.data());
        huge += length + type + data + checksum;
    };
    QByteArray header(13, 0);
    qToBigEndian<quint32>(30000, header.data());
    qToBigEndian<quint32>(30000, header.data() + 4);
    header[8] = 8;
    header[9] = 2;
    chunk("IHDR", header);
    chunk("IDAT", QByteArray(64, 0));
    chunk("IEND", QByteArray());
    write(QStringLiteral("notes.txt"), "not an image");
    // A name that is no UTF-8 text: its bytes cannot come back from the text the program is handed.
    const QByteArray notText = QFile::encodeName(sources.path()) + "/not\xfftext.png";
    std::FILE* named = std::fopen(notText.constData(), "wb");
    ASSERT_TRUE(named);
    std::fwrite(png.constData(), 1, static_cast<size_t>(png.size()), named);
    std::fclose(named);

    struct Case {
        QUrl url;
        const char* reason;
    };
    const std::vector<Case> bad{
        {write(QStringLiteral("empty.png"), QByteArray()), "empty"},
        {write(QStringLiteral("half.png"), png.left(png.size() / 2)), "incomplete"},
        {write(QStringLiteral("nearly.png"), png.left(png.size() - 12)), "incomplete"},
        {write(QStringLiteral("half.jpg"), jpeg.left(jpeg.size() / 2)), "incomplete"},
        {write(QStringLiteral("garbage.png"), QByteArray(5000, 'x')), "not a PNG or JPEG image"},
        {write(QStringLiteral("huge.png"), huge), "too large"},
        {QUrl::fromLocalFile(sources.filePath(QStringLiteral("link.png"))), "not a PNG or JPEG image"},
        {QUrl::fromLocalFile(sources.filePath(QStringLiteral("dangling.png"))), "could not be read"},
        {QUrl::fromLocalFile(sources.filePath(QStringLiteral("folder.png"))), "not a regular file"},
        {write(QStringLiteral("notes.gif"), png), "only PNG and JPEG"},
        {QUrl::fromLocalFile(QFile::decodeName(notText)), "not valid text"},
    };
    ASSERT_TRUE(
        QFile::link(sources.filePath(QStringLiteral("notes.txt")), sources.filePath(QStringLiteral("link.png"))));
    ASSERT_TRUE(
        QFile::link(sources.filePath(QStringLiteral("gone.png")), sources.filePath(QStringLiteral("dangling.png"))));
    ASSERT_TRUE(QDir(sources.path()).mkdir(QStringLiteral("folder.png")));
    QList<QUrl> urls{write(QStringLiteral("good.png"), png)};
    for (const Case& each : bad) {
        urls << each.url;
    }
    urls << write(QStringLiteral("good.jpeg"), jpeg);

    std::vector<QList<SkippedImport>> told;
    QList<std::optional<CapturedScreenshotInfo>> steps;
    capture.performCaptureFromFileURLs(
        urls, recorder(),
        [&](const QList<SkippedImport>& skipped) {
            told.push_back(skipped);
            EXPECT_TRUE(completions.empty()) << "the skipped files are told before the completion";
        },
        [&](const std::optional<CapturedScreenshotInfo>& stored) {
            steps << stored;
            EXPECT_TRUE(completions.empty()) << "each file is told before the completion";
        });
    ASSERT_TRUE(waitForCompletion());
    QTest::qWait(50);
    ASSERT_EQ(completions.size(), 1u);
    ASSERT_EQ(completions[0].result, CaptureResult::success);
    ASSERT_EQ(completions[0].results->size(), 2);
    // Each file once, in order: the files left out as none, the stored ones as the records of the completion.
    ASSERT_EQ(steps.size(), urls.size());
    EXPECT_EQ(steps.front(), completions[0].results->at(0));
    for (qsizetype i = 1; i + 1 < steps.size(); ++i) {
        EXPECT_FALSE(steps[i]) << i;
    }
    EXPECT_EQ(steps.back(), completions[0].results->at(1));
    QStringList left = QDir(screenshots()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    left.sort();
    EXPECT_EQ(left, (QStringList{QStringLiteral("good-1.png"), QStringLiteral("good.png")}));
    ASSERT_EQ(told.size(), 1u) << "one message for the batch";
    ASSERT_EQ(told[0].size(), static_cast<qsizetype>(bad.size()));
    for (size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(bad[i].url.fileName().toStdString());
        EXPECT_EQ(told[0][static_cast<qsizetype>(i)].fileName, bad[i].url.fileName());
        EXPECT_TRUE(told[0][static_cast<qsizetype>(i)].reason.contains(QLatin1String(bad[i].reason)))
            << told[0][static_cast<qsizetype>(i)].reason.toStdString();
    }
}

TEST_F(ScreenshotCaptureTest, AFifoNamedLikeAnImageBlocksNeitherTheImportNorACapture)
{
    QTemporaryDir sources;
    const QString fifo = sources.filePath(QStringLiteral("pipe.png"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Whatever happens, nothing stays blocked on the FIFO when the test ends: a writer lets a reader go.
    const auto release = qScopeGuard([&] {
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) {
            ::close(writer);
        }
    });
    const QString good = sources.filePath(QStringLiteral("good.png"));
    ASSERT_TRUE(image(70, 20).save(good));

    std::vector<Completion> imported;
    QList<SkippedImport> told;
    capture.performCaptureFromFileURLs(
        {QUrl::fromLocalFile(fifo), QUrl::fromLocalFile(good)},
        [&](const auto& results, CaptureResult result) {
            imported.push_back(Completion{results, result});
        },
        [&](const QList<SkippedImport>& skipped) { told = skipped; });
    captureImages({image(90, 20)});
    EXPECT_EQ(completions[0].result, CaptureResult::success);
    ASSERT_TRUE(testing::processEventsUntil([&] { return !imported.empty(); }));
    ASSERT_EQ(imported[0].results->size(), 1);
    EXPECT_EQ(QUrl(imported[0].results->front().screenshotPath).fileName(), QStringLiteral("good.png"));
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(told[0].fileName, QStringLiteral("pipe.png"));
    EXPECT_TRUE(told[0].reason.contains(QLatin1String("not a regular file"))) << told[0].reason.toStdString();
}

/// Bytes that the program has allocated and not freed.
size_t allocatedBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

TEST_F(ScreenshotCaptureTest, AnImportHoldsOneDecodedImageAtATimeNotEveryOneWaitingForItsText)
{
    // Twelve photos of 7.7 MB each once decoded, in small files; their text is not recognised yet.
    QTemporaryDir sources;
    QList<QUrl> files;
    for (int i = 0; i < 12; ++i) {
        const QString path = sources.filePath(QStringLiteral("photo%1.png").arg(i));
        ASSERT_TRUE(image(1600, 1200, QColor(i * 10, 80, 120)).save(path));
        files << QUrl::fromLocalFile(path);
    }
    auto held = std::make_shared<testing::HeldRecognizer>();
    ScreenshotCapture importing(held, nullptr);
    const auto release = qScopeGuard([&] { held->letGo(); }); // before the capture waits for its recognition
    const size_t before = allocatedBytes();
    importing.performCaptureFromFileURLs(files, recorder());
    ASSERT_TRUE(testing::processEventsUntil([&] { return !completions.empty(); }, 120000));
    ASSERT_EQ(completions[0].results->size(), 12);
    const size_t during = allocatedBytes();
    EXPECT_LT(during, before + 40u * 1024 * 1024)
        << "still allocated while the texts wait: " << (qint64(during) - qint64(before)) / (1024 * 1024) << " MB";
}

TEST(ScreenRecordingPermissionTest, ARelaunchPathIsNeverInterpretedByAShell)
{
    QTemporaryDir directory;
    const QString folder = directory.filePath(QStringLiteral("odd \"name\" $HOME `touch pwned`"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString program = folder + QStringLiteral("/relaunch.sh");
    QFile script(program);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/started\"\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    ASSERT_TRUE(startDetachedProgram(program, {QStringLiteral("$PATH;`id`")}));
    QFile started(folder + QStringLiteral("/started"));
    ASSERT_TRUE(testing::processEventsUntil([&] { return started.exists() && started.size() > 0; }));
    ASSERT_TRUE(started.open(QIODevice::ReadOnly));
    EXPECT_EQ(started.readAll(), "$PATH;`id`");
    EXPECT_FALSE(QFileInfo::exists(QDir::current().filePath(QStringLiteral("pwned"))));
}

} // namespace
} // namespace lumetrove
