#include "lumetrove/app/WindowUtilities.h"

#include <QEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace lumetrove {
namespace {

/// Centres its window on every Show event it sees.
class VisibilityWatcher : public QObject {
public:
    explicit VisibilityWatcher(QWidget* window) : QObject(window), window_(window) { window->installEventFilter(this); }

    bool eventFilter(QObject*, QEvent* event) override;

private:
    QWidget* window_;
};

QPointer<QWidget>& centered()
{
    static QPointer<QWidget> window;
    return window;
}

std::vector<QPointer<VisibilityWatcher>>& subscriptions()
{
    static std::vector<QPointer<VisibilityWatcher>> watchers;
    return watchers;
}

bool VisibilityWatcher::eventFilter(QObject*, QEvent* event)
{
    if (event->type() == QEvent::Show) {
        centered() = window_;
        const QScreen* screen = window_->screen();
        if (screen) {
            QRect frame = window_->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            window_->move(frame.topLeft());
        }
    }
    return false;
}

} // namespace

NoInsetHostingView::NoInsetHostingView(QWidget* rootView, QWidget* parent) : QWidget(parent), rootView_(rootView)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(rootView);
}

WindowAccessor::WindowAccessor(std::function<void(QWidget*)> onChange, QWidget* parent)
    : QWidget(parent), onChange_(std::move(onChange))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(0, 0);
    window_ = parentWidget() ? parentWidget()->window() : nullptr;
    watchAncestors();
}

bool WindowAccessor::event(QEvent* event)
{
    if (event->type() == QEvent::ParentChange) {
        watchAncestors();
        check();
    }
    return QWidget::event(event);
}

bool WindowAccessor::eventFilter(QObject*, QEvent* event)
{
    if (event->type() == QEvent::ParentChange) {
        watchAncestors();
        check();
    }
    return false;
}

void WindowAccessor::watchAncestors()
{
    for (const QPointer<QWidget>& ancestor : watched_) {
        if (ancestor) {
            ancestor->removeEventFilter(this);
        }
    }
    watched_.clear();
    for (QWidget* ancestor = parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
        ancestor->installEventFilter(this);
        watched_.emplace_back(ancestor);
    }
}

void WindowAccessor::check()
{
    QWidget* now = parentWidget() ? parentWidget()->window() : nullptr;
    if (now == window_) {
        return;
    }
    window_ = now;
    if (onChange_) {
        onChange_(now);
    }
}

void WindowCentering::centerWhenShown(QWidget* window)
{
    if (!window) {
        centered() = nullptr;
        for (const QPointer<VisibilityWatcher>& watcher : subscriptions()) {
            delete watcher.data();
        }
        subscriptions().clear();
        return;
    }
    subscriptions().emplace_back(new VisibilityWatcher(window));
}

QWidget* WindowCentering::centeredWindow()
{
    return centered();
}

} // namespace lumetrove
