#include "settingsopener/SurroundingActionsButtonStyle.h"

#include <QAbstractButton>
#include <QMetaObject>
#include <QPushButton>

namespace settingsopener {

SurroundingActionsButtonStyle::SurroundingActionsButtonStyle(QAbstractButton* button, std::function<void()> ownAction,
                                                             std::function<void()> preAction,
                                                             std::function<void()> postAction,
                                                             ClosureBinding performAction)
    : QObject(button), button_(button), ownAction_(std::move(ownAction)), preAction_(std::move(preAction)),
      postAction_(std::move(postAction))
{
    connect(button, &QAbstractButton::clicked, this, &SurroundingActionsButtonStyle::press);
    // Handed over once the caller has finished building the button; the trigger runs the own action alone, and
    // nothing once the button is gone.
    QPointer<SurroundingActionsButtonStyle> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, performAction = std::move(performAction)] {
            performAction.set([self] {
                if (self && self->ownAction_) {
                    self->ownAction_();
                }
            });
        },
        Qt::QueuedConnection);
}

void SurroundingActionsButtonStyle::press()
{
    if (preAction_) {
        preAction_();
    }
    if (ownAction_) {
        ownAction_();
    }
    if (postAction_) {
        postAction_();
    }
}

SurroundingActionsButtonStyle* surroundingActionsButtonStyle(QAbstractButton* button, std::function<void()> ownAction,
                                                             std::function<void()> preAction,
                                                             std::function<void()> postAction,
                                                             ClosureBinding performAction)
{
    return new SurroundingActionsButtonStyle(button, std::move(ownAction), std::move(preAction), std::move(postAction),
                                             std::move(performAction));
}

QAbstractButton* settingsButton(const QString& text, std::function<void()> preAction, std::function<void()> postAction,
                                QWidget* parent, SettingsRoad road)
{
    auto* button = new QPushButton(text, parent);
    if (road == SettingsRoad::settingsLink) {
        surroundingActionsButtonStyle(button, &openSettingsScene, std::move(preAction), std::move(postAction));
        return button;
    }
    QObject::connect(button, &QAbstractButton::clicked, button,
                     [preAction = std::move(preAction), postAction = std::move(postAction)] {
                         if (preAction) {
                             preAction();
                         }
                         try {
                             legacyOpenSettings(SettingsRoad::legacyAction);
                         } catch (const FallbackOpenSettingsError&) {
                         }
                         if (postAction) {
                             postAction();
                         }
                     });
    return button;
}

} // namespace settingsopener
