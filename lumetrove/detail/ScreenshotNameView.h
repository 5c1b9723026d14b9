#pragma once

#include "lumetrove/library/Screenshot.h"

#include <QString>
#include <QWidget>

class QLineEdit;

namespace lumetrove {

/// The editable name of the shown screenshot. Every change of `screenshotName` — each keystroke, and each
/// change its owner makes — is written straight to the record's `name`, whose handler renames the file and
/// saves the row when the name really changed.
class ScreenshotNameView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString screenshotName READ screenshotName WRITE setScreenshotName NOTIFY screenshotNameChanged)

public:
    explicit ScreenshotNameView(QWidget* parent = nullptr);

    const QString& screenshotName() const { return screenshotName_; }
    /// Shows the text and, when it differs from the current one, writes it to the shown screenshot.
    void setScreenshotName(const QString& name);
    const ScreenshotPtr& screenshot() const { return screenshot_; }
    /// The record the name is written to; none writes nothing.
    void setScreenshot(ScreenshotPtr screenshot) { screenshot_ = std::move(screenshot); }

signals:
    void screenshotNameChanged(const QString& name);

private:
    void nameDidChange();

    QString screenshotName_;
    ScreenshotPtr screenshot_;
    QLineEdit* field_;
};

class CopyToClipboardButtonView;
class IconsToShowTick;
class TextBlockView;

/// The read-only AI summary of the shown screenshot under the heading "AI Description", with a copy
/// button ("copyButton2"). Follows the record's `description`.
class ScreenshotDescriptionView : public QWidget {
    Q_OBJECT

public:
    ScreenshotDescriptionView(ScreenshotPtr screenshot, IconsToShowTick* iconsToShowTick, QWidget* parent = nullptr);

    void setScreenshot(ScreenshotPtr screenshot);
    QString shownText() const;

private:
    void refresh();

    ScreenshotPtr screenshot_;
    CopyToClipboardButtonView* copyButton_;
    TextBlockView* text_;
    QMetaObject::Connection connection_;
};

} // namespace lumetrove
