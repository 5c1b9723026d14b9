#pragma once

#include "settingsopener/OpenSettingsAction.h"

#include <QPointer>
#include <QWidget>

class QAbstractButton;

namespace settingsopener {

/// Wraps a window's content and connects the Settings action for everything inside it: on the settings-link
/// road it holds a hidden link to the registered Settings scene and, on a later turn of the event loop, hands
/// the link's trigger to the action. Views inside find the action with `openSettings(widget)`.
class OpenSettingsInjection : public QWidget {
    Q_OBJECT

public:
    /// `action` null means the default action.
    explicit OpenSettingsInjection(QWidget* content, OpenSettingsAction* action = nullptr, QWidget* parent = nullptr,
                                   SettingsRoad road = runningRoad());

    OpenSettingsAction& action() const;
    QWidget* content() const { return content_; }
    /// The hidden link; none on the legacy road.
    QAbstractButton* settingsLink() const { return link_; }

private:
    QPointer<OpenSettingsAction> action_;
    QWidget* content_;
    QAbstractButton* link_ = nullptr;
};

/// Wraps `content` in an `OpenSettingsInjection` with the default action.
OpenSettingsInjection* withOpenSettingsInjection(QWidget* content, QWidget* parent = nullptr);

} // namespace settingsopener
