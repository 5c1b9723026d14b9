#pragma once

#include "lumetrove/library/Screenshot.h"

#include <QWidget>

class QLabel;

namespace lumetrove {

class CopyToClipboardButtonView;
class IconsToShowTick;
class TextBlockView;

/// The assistant capture's question and the model's answer, with a copy button ("copyButton1") for the
/// answer. The answer can be selected and scrolled, never edited. Follows the shown screenshot's
/// `aiAssistantTask` and `aiAssistantResults`.
class AIAssistantResultsView : public QWidget {
    Q_OBJECT

public:
    AIAssistantResultsView(ScreenshotPtr screenshot, IconsToShowTick* iconsToShowTick, QWidget* parent = nullptr);

    void setScreenshot(ScreenshotPtr screenshot);
    QString question() const;
    QString answer() const;

private:
    void refresh();

    ScreenshotPtr screenshot_;
    CopyToClipboardButtonView* copyButton_;
    QLabel* question_;
    TextBlockView* answer_;
    QMetaObject::Connection taskConnection_, resultsConnection_;
};

} // namespace lumetrove
