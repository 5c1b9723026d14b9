#include "lumetrove/capture/ScreenshotCapture.h"

#include "lumetrove/platform/OverlayWindow.h"
#include "lumetrove/platform/ScreenRecordingPermission.h"
#include "lumetrove/platform/TextRecognizer.h"
#include "tests/lumetrove/Sandbox.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>

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
    CaptureCompletionHandler recorder()
    {
        return [this](const std::optional<QList<CapturedScreenshotInfo>>& results, CaptureResult result) {
            completions.push_back(Completion{results, result});
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
    ScreenshotCapture capture{recognizer};
    std::vector<Completion> completions;
};

TEST_F(ScreenshotCaptureTest, AGrabIsSavedRecognisedAndReportedOnce)
{
    captureImages({image(300, 200)});
    ASSERT_EQ(completions[0].result, CaptureResult::success);
    ASSERT_EQ(completions[0].results->size(), 1);
    const CapturedScreenshotInfo& info = completions[0].results->front();

    EXPECT_TRUE(QRegularExpression(QStringLiteral("^New Screenshot [0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-"
                                                  "[0-9A-F]{12}\\.png$"))
                    .match(info.screenshotFilename)
                    .hasMatch())
        << info.screenshotFilename.toStdString();
    EXPECT_TRUE(info.screenshotPath.startsWith(QStringLiteral("file:///")));
    EXPECT_TRUE(info.screenshotPath.contains(QStringLiteral("New%20Screenshot%20")));
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
    ASSERT_FALSE(capture.shadeWindows().isEmpty());
    auto* view = capture.shadeWindows().front()->findChild<ScreenAreaSelectionView*>();
    ASSERT_TRUE(view);
    capture.didSelectArea(
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
    mainWindow.setWindowTitle(QStringLiteral("Screenshots"));
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
        mainWindow.setWindowTitle(QStringLiteral("Screenshots"));
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
    mainWindow.setWindowTitle(QStringLiteral("Screenshots"));
    mainWindow.show();
    QWidget strayOverlay; // any window at the overlay level is closed
    strayOverlay.setProperty(OverlayWindow::levelProperty, ScreenshotCapture::screenshotWindowOverlayWindowLevel);
    strayOverlay.show();

    capture.startAreaCapture(false, recorder());
    EXPECT_EQ(mainWindow.windowOpacity(), 0.0);
    ASSERT_EQ(capture.shadeWindows().size(), QGuiApplication::screens().size());
    QWidget* overlay = capture.shadeWindows().front();
    ASSERT_TRUE(overlay->isVisible());
    strayOverlay.show();
    QTest::keyClick(overlay->findChild<ScreenAreaSelectionView*>(), Qt::Key_Escape);

    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].result, CaptureResult::cancelled);
    EXPECT_FALSE(completions[0].results);
    EXPECT_FALSE(strayOverlay.isVisible());
    EXPECT_TRUE(capture.shadeWindows().isEmpty());
    EXPECT_EQ(mainWindow.windowOpacity(), 1.0);
    QTest::keyClick(&mainWindow, Qt::Key_Escape);
    EXPECT_EQ(completions.size(), 1u) << "the handler is called once";
}

TEST_F(ScreenshotCaptureTest, ACaptureThatStoresNothingGivesTheMainWindowBackAsItWas)
{
    // "Copy text" and "Web search" store nothing, and neither does Escape: the window is where it was, shown
    // or in the tray, and fully opaque.
    for (const bool shown : {true, false}) {
        for (const QString& task : {QStringLiteral("Copy text"), QStringLiteral("Web search"), QString()}) {
            SCOPED_TRACE((shown ? "shown, " : "in the tray, ") + (task.isEmpty() ? "Escape" : task.toStdString()));
            completions.clear();
            QWidget mainWindow;
            mainWindow.setWindowTitle(QStringLiteral("Screenshots"));
            if (shown) {
                mainWindow.show();
            }
            capture.startAreaCapture(!task.isEmpty(), recorder());
            ASSERT_FALSE(capture.shadeWindows().isEmpty());
            auto* view = capture.shadeWindows().front()->findChild<ScreenAreaSelectionView*>();
            ASSERT_TRUE(view);
            if (task.isEmpty()) {
                QTest::keyClick(view, Qt::Key_Escape);
            } else {
                capture.didSelectArea(*view, QRectF(10, 10, 60, 30),
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
    mainWindow.setWindowTitle(QStringLiteral("Screenshots"));
    capture.startAreaCapture(false, recorder());
    auto* view = capture.shadeWindows().front()->findChild<ScreenAreaSelectionView*>();
    ASSERT_TRUE(view);
    capture.didSelectArea(*view, QRectF(10, 10, 60, 30),
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

TEST_F(ScreenshotCaptureTest, AnImportOfNothingImportableSucceedsWithAnEmptyList)
{
    capture.performCaptureFromFileURLs({QUrl::fromLocalFile(QStringLiteral("/tmp/notes.txt"))}, recorder());
    ASSERT_TRUE(waitForCompletion());
    QTest::qWait(50);
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].result, CaptureResult::success);
    EXPECT_TRUE(completions[0].results->isEmpty());
}

TEST_F(ScreenshotCaptureTest, ANewCaptureDropsWhatTheOldOneStillHadToDo)
{
    std::vector<Completion> first;
    capture.startAreaCapture(false, [&](const auto& results, CaptureResult result) {
        first.push_back(Completion{results, result});
    });
    capture.closeShadeWindows();
    capture.saveGrabbedImage(image(150, 50));
    capture.performCaptureFromFileURLs({}, recorder());
    ASSERT_TRUE(waitForCompletion());
    QTest::qWait(300);
    EXPECT_TRUE(first.empty());
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_TRUE(completions[0].results->isEmpty());
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
