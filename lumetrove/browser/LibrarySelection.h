#pragma once

#include "lumetrove/library/FolderSection.h"
#include "lumetrove/library/Screenshot.h"

#include <QObject>

namespace lumetrove {

/// What the main window's root view owns and hands to the sidebar, the screenshot list, its rows and the
/// detail pane: the sidebar's section, the selected screenshot and that screenshot's position in the list.
/// The views read and write it here and never through each other. Each signal fires only on a real
/// change (a screenshot compares by identity, a section by id). Main thread.
class LibrarySelection : public QObject {
    Q_OBJECT
    Q_PROPERTY(lumetrove::ScreenshotPtr selectedScreenshot READ selectedScreenshot WRITE setSelectedScreenshot NOTIFY
                   selectedScreenshotChanged)
    Q_PROPERTY(int selectionIndex READ selectionIndex WRITE setSelectionIndex NOTIFY selectionIndexChanged)
    Q_PROPERTY(lumetrove::FolderSection section READ section WRITE setSection NOTIFY sectionChanged)

public:
    explicit LibrarySelection(QObject* parent = nullptr) : QObject(parent) {}

    const ScreenshotPtr& selectedScreenshot() const { return selectedScreenshot_; }
    void setSelectedScreenshot(ScreenshotPtr screenshot)
    {
        if (screenshot == selectedScreenshot_) {
            return;
        }
        selectedScreenshot_ = std::move(screenshot);
        if (selectedScreenshot_) {
            // The long texts that the list left out, for the detail pane, a drag and an AI request.
            selectedScreenshot_->loadDetails();
        }
        emit selectedScreenshotChanged(selectedScreenshot_);
    }

    /// May lie beyond the end of the list for a moment (the list shrank before the root view moved the
    /// selection): readers check it against the list before they use it.
    int selectionIndex() const { return selectionIndex_; }
    void setSelectionIndex(int index)
    {
        if (index == selectionIndex_) {
            return;
        }
        selectionIndex_ = index;
        emit selectionIndexChanged(selectionIndex_);
    }

    const FolderSection& section() const { return section_; }
    void setSection(FolderSection section)
    {
        if (section == section_) {
            // Same id; keep the newer folder value (a renamed folder) without announcing a new selection.
            section_ = std::move(section);
            return;
        }
        section_ = std::move(section);
        emit sectionChanged(section_);
    }

signals:
    void selectedScreenshotChanged(const lumetrove::ScreenshotPtr& screenshot);
    void selectionIndexChanged(int index);
    void sectionChanged(const lumetrove::FolderSection& section);

private:
    ScreenshotPtr selectedScreenshot_;
    int selectionIndex_ = 0;
    FolderSection section_ = FolderSection::all();
};

} // namespace lumetrove
