#include "lumetrove/app/AppDelegate.h"

#include "lumetrove/app/AppCommands.h"
#include "lumetrove/app/AppState.h"
#include "lumetrove/app/URLHandler.h"
#include "lumetrove/platform/Memory.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <QAction>
#include <QApplication>
#include <QBackingStore>
#include <QCloseEvent>
#include <QFont>
#include <QFontMetricsF>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScopedValueRollback>
#include <QSystemTrayIcon>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cmath>

namespace lumetrove {

namespace {

/// Runs the items of an open menu that belongs to no window (the tray's) by the shortcuts they show: the
/// window shortcuts of such a menu reach no window, so without this a shown shortcut would do nothing.
class OpenMenuShortcuts : public QObject {
public:
    explicit OpenMenuShortcuts(QMenu* menu) : QObject(menu), menu_(menu) { menu->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != menu_ || event->type() != QEvent::KeyPress) {
            return false;
        }
        const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
        for (QAction* action : menu_->actions()) {
            if (!action->shortcut().isEmpty() && action->shortcut() == pressed && action->isEnabled()) {
                menu_->close();
                action->trigger();
                return true;
            }
        }
        return false;
    }

private:
    QMenu* menu_;
};

// Rounds halves away from zero, as the badge's measurements are rounded.
int roundAway(qreal x)
{
    return static_cast<int>(std::lround(x));
}

QFont badgeFont()
{
    QFont font = QApplication::font();
    font.setPixelSize(12);
    font.setBold(true);
    return font;
}

/// Notes the first press of a key, a mouse button or a touch that reaches any window of the program, then
/// watches no more.
class FirstInputWatch : public QObject {
public:
    explicit FirstInputWatch(QObject* parent) : QObject(parent) { qApp->installEventFilter(this); }

    bool seen() const { return seen_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (event->spontaneous() &&
            (type == QEvent::MouseButtonPress || type == QEvent::KeyPress || type == QEvent::ShortcutOverride ||
             type == QEvent::TouchBegin || type == QEvent::TabletPress)) {
            seen_ = true;
            qApp->removeEventFilter(this);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool seen_ = false;
};

} // namespace

AIBadgeLayout aiBadgeLayout(QSizeF textSize)
{
    const int width = roundAway(textSize.width()) + 24;
    const int height = roundAway(textSize.height()) + 6;
    return {QSize(width, height),
            QPoint(roundAway((width - textSize.width()) / 2) + 1, roundAway((height - textSize.height()) / 2)),
            height / 2.0};
}

QImage makeAIBadgeImage()
{
    const QString text = QStringLiteral("New");
    const QFont font = badgeFont();
    const QFontMetricsF metrics(font);
    const QSizeF textSize(metrics.horizontalAdvance(text), metrics.height());
    const AIBadgeLayout layout = aiBadgeLayout(textSize);

    QImage image(layout.imageSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath capsule;
    capsule.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(layout.imageSize)), layout.cornerRadius, layout.cornerRadius);
    painter.fillPath(capsule, QColor::fromRgbF(0.6f, 0.75f, 1.0f, 1.0f));
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRectF(layout.textOrigin, textSize), Qt::AlignLeft | Qt::AlignTop, text);
    return image;
}

QWidget* findScreenshotsWindow()
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isWindow() && window->windowTitle() == QLatin1String(mainWindowTitle)) {
            return window;
        }
    }
    return nullptr;
}

AppDelegate::AppDelegate(QObject* parent) : QObject(parent)
{}

AppDelegate::~AppDelegate()
{
    delete menu_;
}

bool AppDelegate::trayAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void AppDelegate::applicationDidFinishLaunching(QWidget* firstWindow)
{
    setupStatusBarMenu(firstWindow);
}

void AppDelegate::setupStatusBarMenu(QWidget* firstWindow)
{
    showStatusItem();
    if (launched_) {
        return;
    }
    launched_ = true;
    guardedWindow_ = firstWindow;
    if (firstWindow != nullptr) {
        firstWindow->installEventFilter(this);
        // Quitting closes every window first, and stops when one refuses: the guard must see it coming.
        qApp->installEventFilter(this);
    }
    if (!permissionCheck_() && firstWindow != nullptr) {
        const QScopedValueRollback closing(closingGuardedWindow_, true);
        firstWindow->close();
    }
}

void AppDelegate::showStatusItem()
{
    if (statusBarItem_ != nullptr) {
        return;
    }
    statusBarItem_ = new QSystemTrayIcon(this);
    const QIcon icon(QStringLiteral(":/app/MenuItem.png"));
    if (!icon.isNull()) {
        // The artwork is monochrome; let the tray recolour it like other symbolic tray icons.
        QIcon templateIcon = icon;
        templateIcon.setIsMask(true);
        statusBarItem_->setIcon(templateIcon);
    }
    statusBarItem_->setToolTip(QStringLiteral("Lumetrove"));

    menu_ = new QMenu();
    auto* assistant = menu_->addAction(QStringLiteral("AI Assistant"), this, &AppDelegate::takeAssistantScreenshot);
    // The badge where the size asked holds it; menus ask for a 16-pixel square, into which the badge's word
    // shrinks to a smudge, so they are given the assistant's symbol instead (the smallest larger image wins).
    QIcon assistantIcon(QPixmap::fromImage(makeAIBadgeImage()));
    assistantIcon.addFile(QStringLiteral(":/app/AIAssistant.png"), QSize(32, 32));
    assistant->setIcon(assistantIcon);
    assistant->setIconVisibleInMenu(true);
    menu_->addSeparator();
    menu_->addAction(QStringLiteral("Take Screenshot"), this, &AppDelegate::takeScreenshot);
    menu_->addAction(QStringLiteral("View Screenshots"), this, &AppDelegate::showScreenshotsWindow);
    menu_->addSeparator();
    auto* settings = menu_->addAction(QStringLiteral("Settings..."), this, &AppDelegate::showSettings);
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    menu_->addSeparator();
    menu_->addAction(QStringLiteral("Quit"), qApp, &QCoreApplication::quit);
    new OpenMenuShortcuts(menu_);
    statusBarItem_->setContextMenu(menu_);
    // A left click opens the same menu where the tray sends it as an activation rather than a context click.
    auto* inputWatch = new FirstInputWatch(this);
    connect(statusBarItem_, &QSystemTrayIcon::activated, this,
            [this, inputWatch](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    openMenuFromTray(inputWatch->seen());
                }
            });
    statusBarItem_->show();
}

void AppDelegate::openMenuFromTray(bool inputSeen)
{
    // A Wayland program cannot place a menu at the tray's icon: its menu hangs from one of its own windows.
    // With the main window hidden there is none, and the compositor would map the menu as an ordinary window
    // filling the output; the click shows the main window instead, from which every command of the menu is at
    // hand. Nor can a menu hang from it before the user has pressed anything in the program's windows: Qt makes
    // a menu a popup only with the serial of such a press, and without one maps it as a window of its own,
    // which the compositor floats in the middle of the output.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        QWidget* window = findScreenshotsWindow();
        if (window == nullptr || !window->isVisible() || window->isMinimized() || window->windowHandle() == nullptr ||
            !inputSeen) {
            showScreenshotsWindow();
            return;
        }
        menu_->winId();
        menu_->windowHandle()->setTransientParent(window->windowHandle());
    }
    menu_->popup(QCursor::pos());
}

bool AppDelegate::windowShouldClose(QWidget* window)
{
    if (window == nullptr || window->windowTitle() != QLatin1String(mainWindowTitle)) {
        return true;
    }
    if (trayAvailable()) {
        window->hide();
        if (releaseRows_) {
            releaseRows_();
        }
    } else {
        window->showMinimized();
    }
    return false;
}

void AppDelegate::applicationDidUnhide()
{
    if (QWidget* window = findScreenshotsWindow()) {
        if (QWidget* focused = window->focusWidget()) {
            focused->clearFocus();
        }
        window->setFocus(Qt::OtherFocusReason);
    }
}

void AppDelegate::openURLs(const QList<QUrl>& urls)
{
    if (urls.isEmpty()) {
        return;
    }
    URLHandler::shared().setUrls(urls);
}

void AppDelegate::showScreenshotsWindow()
{
    if (QWidget* window = findScreenshotsWindow()) {
        if (window->isMinimized()) {
            window->showNormal();
        } else {
            window->show();
        }
        window->raise();
        // Qt's Wayland activation goes through the surface of the window that has the focus; a focus window
        // whose surface is already gone (an overlay just closed) would be followed into a null pointer.
        const QWindow* focus = QGuiApplication::focusWindow();
        if (focus == nullptr || focus->handle() != nullptr) {
            window->activateWindow();
        }
    }
}

void AppDelegate::showSettings()
{
    AppState::shared().sendOpenSettings();
}

void AppDelegate::takeScreenshot()
{
    postTakeScreenshot();
}

void AppDelegate::takeScreenshotAndAIProcess()
{
    NotificationCenter::defaultCenter().post(QStringLiteral("takeScreenshot"),
                                             {{QStringLiteral("shouldAIProcess"), true}});
}

void AppDelegate::takeAssistantScreenshot()
{
    postAIAssistantScreenshot();
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == qApp && event->type() == QEvent::Quit) {
        // The closes that follow are the program's own; a quit that another window refuses ends them.
        closingGuardedWindow_ = true;
        QTimer::singleShot(0, this, [this] { closingGuardedWindow_ = false; });
        return false;
    }
    if (watched == guardedWindow_) {
        // Every close but the program's own is the user's: on X11 it comes as a spontaneous event, while Qt's
        // Wayland plugin answers the compositor's close request by closing the window as the program would.
        if (event->type() == QEvent::Close && !closingGuardedWindow_) {
            if (!windowShouldClose(guardedWindow_)) {
                event->ignore();
                return true;
            }
        } else if (event->type() == QEvent::Show && !event->spontaneous()) {
            setTextRecognitionEnginesKept(true);
            applicationDidUnhide();
        } else if (event->type() == QEvent::Hide && !event->spontaneous()) {
            // Closed to the tray: recognition engines, the images the window showed (let go of by their views
            // as they were hidden) and the window's pixel buffer, which the next paint sizes again, go back to
            // the system, so that the idle program stays small.
            setTextRecognitionEnginesKept(false);
            if (QBackingStore* store = guardedWindow_->backingStore()) {
                store->resize(QSize(1, 1));
            }
            QTimer::singleShot(0, this, [release = releaseCaches_] {
                // On the pool: a cache may wait for a connection that a load holds.
                QThreadPool::globalInstance()->start([release] {
                    if (release) {
                        release();
                    }
                    returnFreedMemoryToSystem();
                });
            });
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace lumetrove
