#include "lumetrove/app/AppCommands.h"

#include "lumetrove/app/AppState.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "lumetrove/platform/SoftwareUpdater.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QUrl>

namespace lumetrove {

CheckForUpdatesViewModel::CheckForUpdatesViewModel(SoftwareUpdater& updater, QObject* parent) : QObject(parent)
{
    assign(updater.canCheckForUpdates());
    connect(&updater, &SoftwareUpdater::canCheckForUpdatesChanged, this, &CheckForUpdatesViewModel::assign);
}

void CheckForUpdatesViewModel::assign(bool canCheck)
{
    canCheckForUpdates_ = canCheck;
    emit canCheckForUpdatesChanged(canCheck);
}

void postTakeScreenshot()
{
    NotificationCenter::defaultCenter().post(QStringLiteral("takeScreenshot"));
}

void postAIAssistantScreenshot()
{
    NotificationCenter::defaultCenter().post(
        QStringLiteral("takeScreenshot"),
        {{QStringLiteral("shouldAIProcess"), true}, {QStringLiteral("aiAssistant"), true}});
}

void postDeleteSelectedScreenshot()
{
    NotificationCenter::defaultCenter().post(QStringLiteral("deleteSelectedScreenshot"));
}

bool editsText(const QWidget* widget)
{
    if (widget == nullptr) {
        return false;
    }
    if (const auto* line = qobject_cast<const QLineEdit*>(widget)) {
        return !line->isReadOnly() || line->hasSelectedText();
    }
    return qobject_cast<const QTextEdit*>(widget) != nullptr ||
           qobject_cast<const QPlainTextEdit*>(widget) != nullptr ||
           qobject_cast<const QAbstractSpinBox*>(widget) != nullptr || widget->testAttribute(Qt::WA_InputMethodEnabled);
}

void sendResponderAction(const char* action)
{
    QWidget* focused = QApplication::focusWidget();
    if (focused == nullptr) {
        return;
    }
    // Text widgets (and any view that offers the same slots) answer by name, like a responder chain of one.
    const QByteArray signature = QByteArray(action) + "()";
    if (focused->metaObject()->indexOfMethod(signature.constData()) >= 0) {
        QMetaObject::invokeMethod(focused, action);
    }
}

void feedbackAction()
{
    const QUrl url(QString::fromLatin1(feedbackAddress), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty()) {
        return;
    }
    QDesktopServices::openUrl(url);
}

namespace {

/// Takes the window's menu shortcuts for keys that reach the window itself unmatched. On Wayland the program
/// learns that its window is active a round trip after the keyboard focus came to it, and Qt matches a key
/// against the shortcuts when the key arrives but delivers it later: keys that come at once behind the focus
/// match no shortcut, and reach the window, by then active, as plain keys. A key that a shortcut took never
/// reaches it, and with no focus widget in the window no widget can have claimed the key for itself.
class EarlyShortcuts : public QObject {
public:
    explicit EarlyShortcuts(QMainWindow& window) : QObject(&window), window_(window) { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || receiver != &window_) {
            return false;
        }
        const QKeySequence key(static_cast<QKeyEvent*>(event)->keyCombination());
        for (QAction* action : window_.menuBar()->findChildren<QAction*>()) {
            if (action->isEnabled() && action->shortcuts().contains(key)) {
                action->trigger();
                return true;
            }
        }
        return false;
    }

private:
    QMainWindow& window_;
};

/// The desktop's own keys to close a window: the main window then goes to the tray, as from its title bar.
void addCloseWindowKeys(QMainWindow& window)
{
    // It belongs to no menu, but lives under the bar so that a key arriving early still finds it.
    auto* closeWindow = new QAction(window.menuBar());
    // Ctrl+W whatever the desktop's key scheme, and whatever else that scheme closes a window with.
    QList<QKeySequence> closeKeys = QKeySequence::keyBindings(QKeySequence::Close);
    if (!closeKeys.contains(QKeySequence(Qt::CTRL | Qt::Key_W))) {
        closeKeys.prepend(QKeySequence(Qt::CTRL | Qt::Key_W));
    }
    closeWindow->setShortcuts(closeKeys);
    window.addAction(closeWindow);
    QObject::connect(closeWindow, &QAction::triggered, &window, &QWidget::close);
}

/// F10 opens the first menu, as on the desktop's other programs; with the menus' Alt keys, the whole bar is in
/// reach of the keyboard.
void addMenuBarKey(QMainWindow& window)
{
    // Under the bar, as the close keys, so that a key arriving early still finds it.
    QMenuBar* bar = window.menuBar();
    auto* openMenus = new QAction(bar);
    openMenus->setShortcut(QKeySequence(Qt::Key_F10));
    window.addAction(openMenus);
    QObject::connect(openMenus, &QAction::triggered, bar, [bar] {
        const QList<QAction*> menus = bar->actions();
        if (!menus.isEmpty()) {
            bar->setActiveAction(menus.front());
        }
    });
}

} // namespace

void installAppCommands(QMainWindow& window, SoftwareUpdater& updater)
{
    new EarlyShortcuts(window);
    QMenuBar* bar = window.menuBar();

    QMenu* appMenu = bar->addMenu(QStringLiteral("&Lumetrove"));
    QAction* checkForUpdates = appMenu->addAction(QStringLiteral("Check for Updates\u2026"));
    auto* model = new CheckForUpdatesViewModel(updater, checkForUpdates);
    checkForUpdates->setEnabled(model->canCheckForUpdates());
    QObject::connect(model, &CheckForUpdatesViewModel::canCheckForUpdatesChanged, checkForUpdates,
                     &QAction::setEnabled);
    QObject::connect(checkForUpdates, &QAction::triggered, &updater, &SoftwareUpdater::checkForUpdates);
    QAction* settings = appMenu->addAction(QStringLiteral("Settings..."));
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    QObject::connect(settings, &QAction::triggered, [] { AppState::shared().sendOpenSettings(); });
    appMenu->addSeparator();
    QAction* quit = appMenu->addAction(QStringLiteral("Quit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QObject::connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit);

    QMenu* fileMenu = bar->addMenu(QStringLiteral("&File"));
    QAction* newScreenshot = fileMenu->addAction(QStringLiteral("New Screenshot"));
    newScreenshot->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    QObject::connect(newScreenshot, &QAction::triggered, [] { postTakeScreenshot(); });
    QAction* assistant = fileMenu->addAction(QStringLiteral("AI Assistant"));
    QObject::connect(assistant, &QAction::triggered, [] { postAIAssistantScreenshot(); });

    QMenu* editMenu = bar->addMenu(QStringLiteral("&Edit"));
    QAction* deleteAction = editMenu->addAction(QStringLiteral("Delete"));
    // Delete, as in the desktop's file managers: Backspace alone never sends a screenshot to the Trash.
    deleteAction->setShortcut(QKeySequence(Qt::Key_Delete));
    QObject::connect(deleteAction, &QAction::triggered, [] {
        // A text field keeps its own Delete and Backspace: editing a name never moves a screenshot to the Trash.
        if (!editsText(QApplication::focusWidget())) {
            postDeleteSelectedScreenshot();
        }
    });
    editMenu->addSeparator();
    const struct {
        const char* title;
        QKeySequence key;
        const char* action;
    } editCommands[] = {{"Select All", QKeySequence(Qt::CTRL | Qt::Key_A), "selectAll"},
                        {"Cut", QKeySequence(Qt::CTRL | Qt::Key_X), "cut"},
                        {"Copy", QKeySequence(Qt::CTRL | Qt::Key_C), "copy"},
                        {"Paste", QKeySequence(Qt::CTRL | Qt::Key_V), "paste"}};
    for (const auto& command : editCommands) {
        QAction* action = editMenu->addAction(QString::fromLatin1(command.title));
        action->setShortcut(command.key);
        const char* name = command.action;
        QObject::connect(action, &QAction::triggered, [name] { sendResponderAction(name); });
    }

    addCloseWindowKeys(window);
    addMenuBarKey(window);

    QMenu* helpMenu = bar->addMenu(QStringLiteral("&Help"));
    QObject::connect(helpMenu->addAction(QStringLiteral("Feedback")), &QAction::triggered, [] { feedbackAction(); });
}

} // namespace lumetrove
