#include "settingsopener/OpenSettingsAction.h"

#include "settingsopener/OpenSettingsInjection.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QWidget>

namespace settingsopener {
namespace {

std::function<void()>& settingsScene()
{
    static std::function<void()> scene;
    return scene;
}

QPointer<QObject>& applicationDelegate()
{
    static QPointer<QObject> delegate;
    return delegate;
}

} // namespace

const char* FallbackOpenSettingsError::what() const noexcept
{
    return value_ == unsupportedPlatform ? "unsupportedPlatform" : "selectorNotFound";
}

const char* OpenSettingsError::what() const noexcept
{
    switch (value_) {
    case unsupportedPlatform:
        return "unsupportedPlatform";
    case selectorNotFound:
        return "selectorNotFound";
    case settingsLinkNotConnected:
        break;
    }
    return "settingsLinkNotConnected";
}

SettingsRoad runningRoad()
{
    return SettingsRoad::settingsLink;
}

OpenSettingsAction::OpenSettingsAction(SettingsRoad road, QObject* parent) : QObject(parent)
{
    if (road == SettingsRoad::legacyAction) {
        closure_ = [] { legacyOpenSettings(SettingsRoad::legacyAction); };
        return;
    }
    // The hook holds the action weakly, so a link that outlives the action neither keeps it nor reaches it.
    QPointer<OpenSettingsAction> self(this);
    closureBinding_.get = [self]() -> std::function<void()> {
        if (!self || !self->closure_) {
            return {};
        }
        return [self] {
            if (self && self->closure_) {
                try {
                    self->closure_();
                } catch (...) {
                }
            }
        };
    };
    closureBinding_.set = [self](std::function<void()> trigger) {
        if (!self) {
            return;
        }
        if (trigger) {
            self->closure_ = [trigger = std::move(trigger)] { trigger(); };
        } else {
            self->closure_ = nullptr;
        }
    };
}

void OpenSettingsAction::openSettings()
{
    if (!closure_) {
        throw OpenSettingsError(OpenSettingsError::settingsLinkNotConnected);
    }
    try {
        closure_();
    } catch (const FallbackOpenSettingsError& error) {
        throw OpenSettingsError(error.value() == FallbackOpenSettingsError::selectorNotFound
                                    ? OpenSettingsError::selectorNotFound
                                    : OpenSettingsError::unsupportedPlatform);
    }
}

OpenSettingsAction& defaultOpenSettingsAction()
{
    // Kept until exit: views anywhere may hold on to it.
    static OpenSettingsAction* action = new OpenSettingsAction;
    return *action;
}

OpenSettingsAction& openSettings(const QWidget* widget)
{
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        if (const auto* injection = qobject_cast<const OpenSettingsInjection*>(w)) {
            return injection->action();
        }
    }
    return defaultOpenSettingsAction();
}

void registerSettingsScene(std::function<void()> showSettings)
{
    settingsScene() = std::move(showSettings);
}

void openSettingsScene()
{
    if (settingsScene()) {
        settingsScene()();
    }
}

void legacyOpenSettings(SettingsRoad running)
{
    if (running != SettingsRoad::legacyAction) {
        throw FallbackOpenSettingsError(FallbackOpenSettingsError::unsupportedPlatform);
    }
    if (sendFallbackSettingsAction("showSettingsWindow")) {
        return;
    }
    if (sendFallbackSettingsAction("showPreferencesWindow")) {
        return;
    }
    throw FallbackOpenSettingsError(FallbackOpenSettingsError::selectorNotFound);
}

bool sendFallbackSettingsAction(const char* action)
{
    QObject* target = applicationDelegate() ? applicationDelegate().data() : QCoreApplication::instance();
    if (!target) {
        return false;
    }
    const QByteArray signature = QByteArray(action) + "()";
    if (target->metaObject()->indexOfMethod(signature.constData()) < 0) {
        return false;
    }
    // Whether the method did anything is not looked at: the action was sent.
    QMetaObject::invokeMethod(target, action, Qt::DirectConnection);
    return true;
}

void setApplicationDelegate(QObject* delegate)
{
    applicationDelegate() = delegate;
}

} // namespace settingsopener
