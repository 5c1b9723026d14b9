#include "lumetrove/detail/LiveTextImageView.h"

#include "tests/lumetrove/AccessibleControls.h"
#include "tests/lumetrove/Sandbox.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>

namespace lumetrove::testing {
namespace {

TEST(LiveTextPanning, OriginFollowsThePointerWithinTheDocument)
{
    struct Case {
        const char* what;
        double origin, pressed, pointer, document, visible, expected;
    };
    const std::vector<Case> cases = {
        {"drag right by 10 moves the origin back", 50, 100, 110, 1000, 400, 40},
        {"never below 0", 5, 100, 110, 1000, 400, 0},
        {"drag left moves it on", 50, 100, 90, 1000, 400, 60},
        {"never beyond document minus visible", 595, 100, 80, 1000, 400, 600},
        {"an image that fits stays at 0", 0, 100, 50, 300, 400, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_DOUBLE_EQ(panOrigin(c.origin, c.pressed, c.pointer, c.document, c.visible), c.expected);
    }
}

TEST(LiveTextSelection, JoinsWordsByLine)
{
    const std::vector<LiveTextWord> words = {
        {"Total", QRectF(0, 0, 50, 20), 0}, {"due", QRectF(60, 0, 30, 20), 0}, {"42", QRectF(0, 30, 20, 20), 1}};
    EXPECT_EQ(liveTextWordAt(words, QPointF(65, 10)), 1);
    EXPECT_EQ(liveTextWordAt(words, QPointF(55, 10)), -1);
    EXPECT_EQ(liveTextSelection(words, 2, 0), "Total due\n42");
    EXPECT_EQ(liveTextSelection(words, 1, 1), "due");
    EXPECT_EQ(liveTextSelection(words, -1, 1), "");
}

/// Answers every image with the same words, counting its calls; waits while `hold` is set, unless cancelled.
class FixedRecognizer : public TextRecognizer {
public:
    RecognizedText recognize(const QImage& image) const override { return recognizeUnlessCancelled(image, {}); }

    RecognizedText recognizeUnlessCancelled(const QImage&, const std::function<bool()>& cancelled) const override
    {
        ++calls;
        while (hold) {
            if (cancelled && cancelled()) {
                ++cancellations;
                throw TextRecognitionCancelled();
            }
            QThread::msleep(5);
        }
        RecognizedText text;
        text.lines.push_back({"Hello world",
                              QRectF(10, 10, 200, 30),
                              {{"Hello", QRectF(10, 10, 90, 30), 90}, {"world", QRectF(110, 10, 100, 30), 90}}});
        return text;
    }
    mutable std::atomic<int> calls{0};
    mutable std::atomic<int> cancellations{0};
    std::atomic<bool> hold{false};
};

QImage plainImage(int width, int height, QColor color = Qt::white)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

void sendMouse(QWidget* widget, QEvent::Type type, QPoint position, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, position, widget->mapToGlobal(position),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

/// A shown 400 × 300 view whose image of the given size has its words.
struct ShownView {
    std::shared_ptr<FixedRecognizer> recognizer = std::make_shared<FixedRecognizer>();
    LiveTextImageView view{recognizer};

    explicit ShownView(QSize imageSize)
    {
        view.resize(400, 300);
        view.show();
        view.setImage(plainImage(imageSize.width(), imageSize.height()));
        EXPECT_TRUE(processEventsUntil([&] { return view.hasLiveText(); }));
    }
};

TEST(LiveTextImageView, ZoomCentringAndPanning)
{
    ShownView shown({1000, 800});
    LiveTextImageView& view = shown.view;
    const auto& recognizer = shown.recognizer;

    // Zooming keeps the image, its words and makes no new recognition.
    view.setImageZoom(0.5);
    EXPECT_EQ(view.canvas()->size(), QSize(500, 400));
    view.setImage(view.image());
    EXPECT_TRUE(view.hasLiveText());
    EXPECT_EQ(recognizer->calls, 1);

    // Pressing away from the words pans: dragging left by 20 points moves the origin on by 20 image points.
    const QPoint start(300, 200);
    sendMouse(view.canvas(), QEvent::MouseButtonPress, start, Qt::LeftButton);
    sendMouse(view.canvas(), QEvent::MouseMove, start - QPoint(20, 10), Qt::LeftButton);
    sendMouse(view.canvas(), QEvent::MouseButtonRelease, start - QPoint(20, 10), Qt::NoButton);
    EXPECT_NEAR(view.origin().x(), 20, 1);
    EXPECT_NEAR(view.origin().y(), 10, 1);
    EXPECT_EQ(view.selectedText(), "");

    // An image smaller than the visible area is centred.
    view.setImageZoom(0.2);
    const QRect canvas = view.canvas()->geometry();
    EXPECT_NEAR(canvas.center().x(), view.viewport()->rect().center().x(), 1);
    EXPECT_NEAR(canvas.center().y(), view.viewport()->rect().center().y(), 1);
}

TEST(LiveTextImageView, PressingOnWordsSelectsAndCopiesText)
{
    ShownView shown({300, 100});
    LiveTextImageView& view = shown.view;
    const QPointF before = view.origin();

    sendMouse(view.canvas(), QEvent::MouseButtonPress, QPoint(20, 20), Qt::LeftButton);
    sendMouse(view.canvas(), QEvent::MouseMove, QPoint(150, 20), Qt::LeftButton);
    sendMouse(view.canvas(), QEvent::MouseButtonRelease, QPoint(150, 20), Qt::NoButton);
    EXPECT_EQ(view.selectedText(), "Hello world");
    EXPECT_EQ(view.origin(), before);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "Hello world");
}

/// A window whose Edit menu holds Ctrl+C and Ctrl+A and sends them by name to the focused widget, as the
/// program's main window does.
struct WindowWithEditMenu {
    std::shared_ptr<FixedRecognizer> recognizer = std::make_shared<FixedRecognizer>();
    QMainWindow window;
    LiveTextImageView* view = new LiveTextImageView(recognizer);
    QAction* copy = nullptr;
    QAction* selectAll = nullptr;

    WindowWithEditMenu()
    {
        window.setCentralWidget(view);
        QMenu* edit = window.menuBar()->addMenu(QStringLiteral("Edit"));
        const auto command = [&](const char* title, QKeySequence key, const char* slot) {
            QAction* action = edit->addAction(QString::fromLatin1(title));
            action->setShortcut(key);
            QObject::connect(action, &QAction::triggered, [slot] {
                if (QWidget* focused = QApplication::focusWidget()) {
                    QMetaObject::invokeMethod(focused, slot);
                }
            });
            return action;
        };
        selectAll = command("Select All", QKeySequence(Qt::CTRL | Qt::Key_A), "selectAll");
        copy = command("Copy", QKeySequence(Qt::CTRL | Qt::Key_C), "copy");
        window.resize(500, 300);
        window.show();
        QApplication::setActiveWindow(&window);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        view->setImage(plainImage(300, 100));
        EXPECT_TRUE(processEventsUntil([&] { return view->hasLiveText(); }));
        view->setFocus();
    }
};

TEST(LiveTextImageView, CopiesAndSelectsAllByKeysAndTheEditMenuInAWindowThatHasThemAsShortcuts)
{
    WindowWithEditMenu shown;
    LiveTextImageView& view = *shown.view;
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));

    // The keys reach the view, not just the window's shortcuts.
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view.selectedText(), "Hello world");
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "Hello world");

    // Edit › Copy reaches the focused view by name and copies what is selected now.
    sendMouse(view.canvas(), QEvent::MouseButtonPress, QPoint(130, 20), Qt::LeftButton);
    sendMouse(view.canvas(), QEvent::MouseButtonRelease, QPoint(130, 20), Qt::NoButton);
    EXPECT_EQ(view.selectedText(), "world");
    shown.copy->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "world");
    shown.selectAll->trigger();
    EXPECT_EQ(view.selectedText(), "Hello world");
}

TEST(LiveTextImageView, ARightClickKeepsTheSelectionAndOffersCopyAndSelectAll)
{
    ShownView shown({300, 100});
    LiveTextImageView& view = shown.view;
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    sendMouse(view.canvas(), QEvent::MouseButtonPress, QPoint(20, 20), Qt::LeftButton);
    sendMouse(view.canvas(), QEvent::MouseButtonRelease, QPoint(20, 20), Qt::NoButton);
    ASSERT_EQ(view.selectedText(), "Hello");

    QMouseEvent rightPress(QEvent::MouseButtonPress, QPointF(40, 20), view.canvas()->mapToGlobal(QPointF(40, 20)),
                           Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(view.canvas(), &rightPress);
    EXPECT_EQ(view.selectedText(), "Hello");
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(40, 20), view.canvas()->mapToGlobal(QPoint(40, 20)));
    QApplication::sendEvent(view.canvas(), &menuEvent);
    QMenu* menu = openMenu();
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions[0]->text(), "Copy");
    EXPECT_EQ(actions[0]->shortcut(), QKeySequence(QKeySequence::Copy));
    EXPECT_EQ(actions[1]->text(), "Select All");
    EXPECT_EQ(actions[1]->shortcut(), QKeySequence(QKeySequence::SelectAll));
    actions[0]->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "Hello");
    actions[1]->trigger();
    EXPECT_EQ(view.selectedText(), "Hello world");
    menu->close();
}

TEST(LiveTextImageView, ItsFocusRingStandsOutOnALightAndADarkPalette)
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
    for (const QPalette& palette : {QApplication::style()->standardPalette(), dark}) {
        SCOPED_TRACE(palette.color(QPalette::Window).name().toStdString());
        // A picture of the palette's own background, as a screenshot of the desktop often is.
        auto recognizer = std::make_shared<FixedRecognizer>();
        LiveTextImageView view(recognizer);
        view.setPalette(palette);
        view.resize(400, 300);
        view.show();
        view.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
        view.setImage(plainImage(1000, 800, palette.color(QPalette::Window)));
        view.clearFocus();
        const QImage unfocused = view.grab().toImage();
        view.setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(view.hasFocus());
        const QImage focused = view.grab().toImage();
        view.clearFocus();
        EXPECT_EQ(view.grab().toImage(), unfocused) << "the ring goes with the focus";
        const auto difference = [&](QPoint at) {
            const QColor a = unfocused.pixelColor(at), b = focused.pixelColor(at);
            return std::max(
                {std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
        };
        for (const QPoint edge : {QPoint(0, 150), QPoint(200, 1), QPoint(399, 150), QPoint(200, 298)}) {
            EXPECT_GE(difference(edge), 80) << edge.x() << "," << edge.y();
        }
        EXPECT_EQ(difference(QPoint(200, 150)), 0) << "the picture itself is not covered";
    }
}

TEST(LiveTextImageView, AnEarlierImagesRecognitionIsGivenUpWhenTheImageChanges)
{
    auto recognizer = std::make_shared<FixedRecognizer>();
    recognizer->hold = true;
    LiveTextImageView view(recognizer);
    QSignalSpy ready(&view, &LiveTextImageView::liveTextChanged);
    view.setImage(plainImage(300, 100, Qt::white));
    ASSERT_TRUE(processEventsUntil([&] { return recognizer->calls == 1; }));
    // Given up while it runs, not left to end on its own beside the next image's.
    view.setImage(plainImage(300, 100, Qt::gray));
    ASSERT_TRUE(processEventsUntil([&] { return recognizer->cancellations == 1; }));
    recognizer->hold = false;
    ASSERT_TRUE(processEventsUntil([&] { return view.hasLiveText(); }));
    QTest::qWait(50);
    EXPECT_EQ(ready.count(), 1);
    EXPECT_EQ(recognizer->calls, 2);
}

TEST(LiveTextImageView, SelectsTheRecognisedWordsOfARenderedImage)
{
    QImage image = plainImage(640, 160);
    {
        QPainter painter(&image);
        QFont font("DejaVu Sans");
        font.setPixelSize(40);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QPoint(20, 90), "Invoice total");
    }
    LiveTextImageView view(sharedTextRecognizer());
    view.resize(700, 200);
    view.show();
    view.setImage(image);
    ASSERT_TRUE(processEventsUntil([&] { return view.hasLiveText(); }, 60000));
    ASSERT_GE(view.words().size(), 2u);
    const QPoint first = view.words().front().box.center().toPoint();
    const QPoint last = view.words().back().box.center().toPoint();
    sendMouse(view.canvas(), QEvent::MouseButtonPress, first, Qt::LeftButton);
    sendMouse(view.canvas(), QEvent::MouseMove, last, Qt::LeftButton);
    sendMouse(view.canvas(), QEvent::MouseButtonRelease, last, Qt::NoButton);
    // The recogniser may put the two words on one line or two; the selection holds both, in order.
    EXPECT_EQ(view.selectedText().simplified(), "Invoice total");
}

} // namespace
} // namespace lumetrove::testing
