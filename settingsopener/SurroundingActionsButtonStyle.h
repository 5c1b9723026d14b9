#pragma once

#include "settingsopener/OpenSettingsAction.h"

#include <QObject>
#include <QPointer>
#include <functional>

class QAbstractButton;
class QWidget;

namespace settingsopener {

/// Wraps a button's own action: a click runs `preAction`, the own action, then `postAction`. Once the button is
/// built, on a later turn of the event loop, a closure that runs the own action alone is handed to
/// `performAction`. Lives as a child of the button. Main thread.
class SurroundingActionsButtonStyle : public QObject {
    Q_OBJECT

public:
    SurroundingActionsButtonStyle(QAbstractButton* button, std::function<void()> ownAction,
                                  std::function<void()> preAction, std::function<void()> postAction,
                                  ClosureBinding performAction = ClosureBinding::constant());

    /// Runs what a click runs.
    void press();

private:
    QPointer<QAbstractButton> button_;
    std::function<void()> ownAction_;
    std::function<void()> preAction_;
    std::function<void()> postAction_;
};

/// Applies the style to `button`; an absent binding is the constant one.
SurroundingActionsButtonStyle* surroundingActionsButtonStyle(QAbstractButton* button, std::function<void()> ownAction,
                                                             std::function<void()> preAction,
                                                             std::function<void()> postAction,
                                                             ClosureBinding performAction = ClosureBinding::constant());

/// A button with `text` that opens Settings, running `preAction` before and `postAction` after: on the
/// settings-link road through the registered Settings scene, on the legacy road through `legacyOpenSettings`
/// (its errors dropped).
QAbstractButton* settingsButton(const QString& text, std::function<void()> preAction, std::function<void()> postAction,
                                QWidget* parent = nullptr, SettingsRoad road = runningRoad());

} // namespace settingsopener
