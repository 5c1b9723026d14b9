#include "settingsopener/OpenSettingsInjection.h"

#include "settingsopener/SurroundingActionsButtonStyle.h"

#include <QPushButton>
#include <QVBoxLayout>

namespace settingsopener {

OpenSettingsInjection::OpenSettingsInjection(QWidget* content, OpenSettingsAction* action, QWidget* parent,
                                             SettingsRoad road)
    : QWidget(parent), action_(action ? action : &defaultOpenSettingsAction()), content_(content)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    if (road != SettingsRoad::settingsLink) {
        return;
    }
    // The link takes no room and is never seen: it only carries the trigger that opens the Settings scene.
    auto* link = new QPushButton(this);
    link->setObjectName(QStringLiteral("settingsLink"));
    link->setFlat(true);
    link->setFixedSize(0, 0);
    link->hide();
    link_ = link;
    surroundingActionsButtonStyle(link_, &openSettingsScene, nullptr, nullptr, action_->closureBinding());
}

OpenSettingsAction& OpenSettingsInjection::action() const
{
    return action_ ? *action_ : defaultOpenSettingsAction();
}

OpenSettingsInjection* withOpenSettingsInjection(QWidget* content, QWidget* parent)
{
    return new OpenSettingsInjection(content, nullptr, parent);
}

} // namespace settingsopener
