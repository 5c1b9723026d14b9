#pragma once

#include <QObject>

namespace lumetrove {

/// The tabs of the Settings window.
enum class Tab { openAIAPI };

/// Which tab the Settings window shows. One instance lives as long as the application; the main window and
/// the detail pane select the API tab through it before they open Settings. Main thread.
class SettingsViewModel : public QObject {
    Q_OBJECT

public:
    explicit SettingsViewModel(QObject* parent = nullptr) : QObject(parent) {}

    Tab selectedTab() const { return selectedTab_; }
    /// Every assignment is published, also one of the tab already shown.
    void setSelectedTab(Tab tab)
    {
        selectedTab_ = tab;
        emit selectedTabChanged();
    }

signals:
    void selectedTabChanged();

private:
    Tab selectedTab_ = Tab::openAIAPI;
};

} // namespace lumetrove
