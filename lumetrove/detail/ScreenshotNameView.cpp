#include "lumetrove/detail/ScreenshotNameView.h"

#include "lumetrove/detail/CopyToClipboardButtonView.h"
#include "lumetrove/detail/DetailStyle.h"
#include "lumetrove/platform/NamedColors.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace lumetrove {

ScreenshotNameView::ScreenshotNameView(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(15, 13, 10, 10);
    field_ = new QLineEdit(this);
    field_->setFrame(false);
    field_->setAccessibleName(QStringLiteral("Name"));
    field_->setFont(scaledFont(this, kTitle2Scale, true));
    QPalette palette = field_->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    const QColor color = namedColor(u"DetailViewNameColor", palette);
    if (color.isValid()) {
        palette.setColor(QPalette::Text, color);
    }
    field_->setPalette(palette);
    field_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    layout->addWidget(field_);
    connect(field_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (text != screenshotName_) {
            screenshotName_ = text;
            nameDidChange();
        }
    });
}

void ScreenshotNameView::setScreenshotName(const QString& name)
{
    if (name == screenshotName_) {
        return;
    }
    screenshotName_ = name;
    if (field_->text() != name) {
        field_->setText(name);
        // A name longer than the field shows from its first letter, not scrolled to the cursor at its end.
        field_->home(false);
    }
    nameDidChange();
}

void ScreenshotNameView::nameDidChange()
{
    // The record's own handler puts the default name in place of a blank one, ignores an unchanged name and
    // otherwise renames the file and saves; the field keeps showing what was typed.
    if (screenshot_) {
        screenshot_->setName(screenshotName_);
    }
    emit screenshotNameChanged(screenshotName_);
}

ScreenshotDescriptionView::ScreenshotDescriptionView(ScreenshotPtr screenshot, IconsToShowTick* iconsToShowTick,
                                                     QWidget* parent)
    : QWidget(parent)
{
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    copyButton_ = addHeadingWithCopyButton(stack, this, QStringLiteral("AI Description"), QStringLiteral("copyButton2"),
                                           iconsToShowTick);
    text_ = new TextBlockView(this);
    text_->setAccessibleName(QStringLiteral("AI Description"));
    stack->addWidget(text_);
    setScreenshot(std::move(screenshot));
}

void ScreenshotDescriptionView::setScreenshot(ScreenshotPtr screenshot)
{
    disconnect(connection_);
    screenshot_ = std::move(screenshot);
    if (screenshot_) {
        connection_ = connect(screenshot_.get(), &Screenshot::descriptionChanged, this, [this] { refresh(); });
    }
    refresh();
}

void ScreenshotDescriptionView::refresh()
{
    const std::optional<QString> description = screenshot_ ? screenshot_->description() : std::nullopt;
    if (text_->toPlainText() != description.value_or(QString())) {
        text_->setPlainText(description.value_or(QString()));
    }
    copyButton_->setTextToCopy(description);
}

QString ScreenshotDescriptionView::shownText() const
{
    return text_->toPlainText();
}

} // namespace lumetrove
