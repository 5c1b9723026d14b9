#include "lumetrove/views/KeywordEditorView.h"

#include "flowlayout/FlowStack.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace lumetrove {

namespace {

constexpr int kFlowMinimumWidth = 250;
constexpr int kChipSpacing = 8;
constexpr int kChipLineSpacing = 10;
constexpr int kFieldWidth = 150;
// Border and padding (1 + 4 on each side), the text margins (3 each) and the line edit's own 2 on each side,
// with room for the cursor.
constexpr int kFieldChrome = 2 * (1 + 4) + 2 * 3 + 2 * 2 + 4;

/// Trims white space and line breaks of every kind, as the keyword rules ask (QString::trimmed also takes
/// tabs, no-break spaces and the other Unicode spaces).
QString normalisedKeyword(const QString& piece)
{
    return piece.trimmed().toLower().trimmed();
}

/// The field in which keywords are typed. Return with something typed adds it and goes no further: in a
/// dialog it would also press the default button and close the dialog with the next keyword unwritten. An
/// empty field lets Return through to the dialog.
class KeywordField : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

    /// The width the field asks for where its row has room; none: the line edit's own.
    void setPreferredWidth(int width) { preferredWidth_ = width; }
    QSize sizeHint() const override
    {
        const QSize own = QLineEdit::sizeHint();
        return {preferredWidth_ > 0 ? preferredWidth_ : own.width(), own.height()};
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const bool addsKeywords =
            (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !text().isEmpty();
        QLineEdit::keyPressEvent(event);
        if (addsKeywords) {
            event->accept();
        }
    }

private:
    int preferredWidth_ = 0;
};

} // namespace

KeywordEditorView::KeywordEditorView(QString keywordText, QString newKeyword, QStringList keywords,
                                     QString keywordsString, bool isForSheet, QWidget* parent)
    : QWidget(parent), keywordText_(std::move(keywordText)), keywords_(std::move(keywords)),
      keywordsString_(std::move(keywordsString)), isForSheet_(isForSheet)
{
    stack_ = new QVBoxLayout(this);
    stack_->setAlignment(Qt::AlignTop);

    chipArea_ = new QWidget(this);
    // The detail pane is as narrow as a small screen makes it: there the chips wrap within it rather than
    // push the field's row out of sight.
    chipArea_->setMinimumWidth(isForSheet_ ? kFlowMinimumWidth : 0);
    flow_ = new flowlayout::FlowStack(chipArea_, Qt::AlignLeading, flowlayout::Spacing::constant(kChipSpacing),
                                      kChipLineSpacing);
    stack_->addWidget(chipArea_);

    fieldRow_ = new QHBoxLayout;
    auto* field = new KeywordField(this);
    field_ = field;
    field_->setObjectName(QStringLiteral("newKeywordField"));
    field_->setPlaceholderText(QStringLiteral("Keywords"));
    field_->setAccessibleName(QStringLiteral("Keywords"));
    field_->setText(newKeyword);
    if (!isForSheet_) {
        field_->setFrame(false);
        field_->setTextMargins(3, 0, 3, 0);
        field_->setStyleSheet(QStringLiteral(
            "QLineEdit { padding: 4px; border: 1px solid rgba(128, 128, 128, 40%); border-radius: 4px; }"));
        // 150 wide, or as wide as the whole placeholder needs where the desktop's font is larger; in a pane
        // too narrow for that and the button, it gives way down to the placeholder's width.
        const int placeholder = field_->fontMetrics().horizontalAdvance(field_->placeholderText());
        field_->setMinimumWidth(placeholder + kFieldChrome);
        field_->setMaximumWidth(std::max(kFieldWidth, placeholder + kFieldChrome));
        field->setPreferredWidth(field_->maximumWidth());
    }
    addButton_ = new QPushButton(QStringLiteral("Add"), this);
    addButton_->setObjectName(QStringLiteral("addKeywordButton"));
    fieldRow_->addWidget(field_, isForSheet_ ? 0 : 1);
    fieldRow_->addWidget(addButton_);
    fieldRow_->addStretch();
    stack_->addLayout(fieldRow_);

    connect(field_, &QLineEdit::returnPressed, this, &KeywordEditorView::addKeywords);
    connect(addButton_, &QPushButton::clicked, this, &KeywordEditorView::addKeywords);

    loadKeywords();
}

QString KeywordEditorView::newKeyword() const
{
    return field_->text();
}

void KeywordEditorView::setNewKeyword(const QString& text)
{
    field_->setText(text);
}

void KeywordEditorView::setKeywordsString(const QString& keywordsString)
{
    if (keywordsString == keywordsString_) {
        return;
    }
    keywordsString_ = keywordsString;
    loadKeywords();
    emit keywordsStringChanged(keywordsString_);
}

void KeywordEditorView::loadKeywords()
{
    // Split exactly at single spaces: two spaces in a row give an empty keyword, which shows as a chip the
    // user can click away.
    keywords_ = keywordsString_.isEmpty() ? QStringList() : keywordsString_.split(QLatin1Char(' '));
    rebuildChips();
}

void KeywordEditorView::addKeywords()
{
    const QStringList pieces = field_->text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& piece : pieces) {
        const QString keyword = normalisedKeyword(piece);
        if (keyword.isEmpty()) {
            break;
        }
        if (keywords_.contains(keyword)) {
            field_->clear();
            break;
        }
        keywords_.append(keyword);
        field_->clear();
    }
    writeKeywordsString();
}

void KeywordEditorView::removeKeyword(const QString& keyword)
{
    const qsizetype index = keywords_.indexOf(keyword);
    if (index < 0) {
        return;
    }
    keywords_.removeAt(index);
    writeKeywordsString();
}

void KeywordEditorView::writeKeywordsString()
{
    const QString joined = keywords_.join(QLatin1Char(' '));
    if (joined == keywordsString_) {
        return;
    }
    keywordsString_ = joined;
    // A write reloads the chips from the joined text, as any change of the owner's text does.
    loadKeywords();
    emit keywordsStringChanged(keywordsString_);
}

void KeywordEditorView::rebuildChips()
{
    flow_->setContent(keywords_, [this](const QString& keyword) {
        auto* chip = new QPushButton(keyword, chipArea_);
        QPalette palette = chip->palette();
        palette.setColor(QPalette::ButtonText, palette.color(QPalette::PlaceholderText));
        chip->setPalette(palette);
        chip->setToolTip(keyword);
        chip->show();
        connect(chip, &QPushButton::clicked, this, [this, keyword] { removeKeyword(keyword); });
        return chip;
    });
    updatePadding();
}

void KeywordEditorView::updatePadding()
{
    const bool empty = keywords_.isEmpty();
    if (isForSheet_) {
        stack_->setContentsMargins(0, empty ? 5 : 15, 0, 0);
    } else {
        stack_->setContentsMargins(12, empty ? 12 : 18, 12, 20);
    }
    fieldRow_->setContentsMargins(0, empty ? 0 : 10, 0, 0);
    chipArea_->setVisible(!empty);
}

} // namespace lumetrove
