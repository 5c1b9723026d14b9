#include "lumetrove/detail/AIAssistantResultsView.h"

#include "lumetrove/detail/CopyToClipboardButtonView.h"
#include "lumetrove/detail/DetailStyle.h"
#include "lumetrove/platform/NamedColors.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace lumetrove {

AIAssistantResultsView::AIAssistantResultsView(ScreenshotPtr screenshot, IconsToShowTick* iconsToShowTick,
                                               QWidget* parent)
    : QWidget(parent)
{
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    copyButton_ = addHeadingWithCopyButton(stack, this, QStringLiteral("AI Assistant Results"),
                                           QStringLiteral("copyButton1"), iconsToShowTick, 8);

    auto* questionRow = new QWidget(this);
    questionRow->setFixedHeight(43);
    questionRow->setAutoFillBackground(true);
    QPalette rowPalette = questionRow->palette();
    const QColor background = namedColor(u"AIAssistantQueryBackground", rowPalette);
    if (background.isValid()) {
        rowPalette.setColor(QPalette::Window, background);
    }
    questionRow->setPalette(rowPalette);
    auto* questionLayout = new QHBoxLayout(questionRow);
    questionLayout->setContentsMargins(0, 0, 0, 0);
    questionLayout->setSpacing(0);
    auto* bar = new QFrame(questionRow);
    bar->setFixedWidth(2);
    bar->setAutoFillBackground(true);
    QPalette barPalette = bar->palette();
    barPalette.setColor(QPalette::Window, QColor(0, 122, 255));
    bar->setPalette(barPalette);
    questionLayout->addWidget(bar);
    question_ = new QLabel(questionRow);
    question_->setTextFormat(Qt::PlainText);
    question_->setFont(scaledFont(this, kTitle3Scale, true));
    question_->setContentsMargins(14, 0, 14, 0);
    fadeText(question_, 0.7);
    questionLayout->addWidget(question_, 1);
    stack->addWidget(questionRow);

    answer_ = new TextBlockView(this);
    answer_->setAccessibleName(QStringLiteral("AI Assistant Results"));
    stack->addWidget(answer_);

    setScreenshot(std::move(screenshot));
}

void AIAssistantResultsView::setScreenshot(ScreenshotPtr screenshot)
{
    disconnect(taskConnection_);
    disconnect(resultsConnection_);
    screenshot_ = std::move(screenshot);
    if (screenshot_) {
        taskConnection_ = connect(screenshot_.get(), &Screenshot::aiAssistantTaskChanged, this, [this] { refresh(); });
        resultsConnection_ =
            connect(screenshot_.get(), &Screenshot::aiAssistantResultsChanged, this, [this] { refresh(); });
    }
    refresh();
}

void AIAssistantResultsView::refresh()
{
    const std::optional<QString> task = screenshot_ ? screenshot_->aiAssistantTask() : std::nullopt;
    const std::optional<QString> results = screenshot_ ? screenshot_->aiAssistantResults() : std::nullopt;
    question_->setText(task.value_or(QString()));
    if (answer_->toPlainText() != results.value_or(QString())) {
        answer_->setPlainText(results.value_or(QString()));
    }
    copyButton_->setTextToCopy(results);
}

QString AIAssistantResultsView::question() const
{
    return question_->text();
}

QString AIAssistantResultsView::answer() const
{
    return answer_->toPlainText();
}

} // namespace lumetrove
