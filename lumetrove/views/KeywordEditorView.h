#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QLineEdit;
class QPushButton;
class QVBoxLayout;
class QHBoxLayout;

namespace flowlayout {
class FlowStack;
}

namespace lumetrove {

/// Edits a list of keywords held by its owner as one text of words separated by single spaces
/// (`keywordsString`). Each keyword is a chip that removes it when clicked; a field with an "Add" button
/// adds lower-cased keywords. The view never touches a record: the owner listens to
/// `keywordsStringChanged` and saves. `isForSheet` only changes the look (the smart-folder sheet uses it).
class KeywordEditorView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString keywordsString READ keywordsString WRITE setKeywordsString NOTIFY keywordsStringChanged)

public:
    /// `keywordsString` is the owner's text at creation; the chips are loaded from it at once.
    KeywordEditorView(QString keywordText, QString newKeyword, QStringList keywords, QString keywordsString,
                      bool isForSheet, QWidget* parent = nullptr);

    const QString& keywordsString() const { return keywordsString_; }
    /// The owner's text changed: the chips are rebuilt from it. Setting the same text does nothing.
    void setKeywordsString(const QString& keywordsString);

    const QStringList& keywords() const { return keywords_; }
    QString newKeyword() const;
    void setNewKeyword(const QString& text);
    bool isForSheet() const { return isForSheet_; }

    /// Rebuilds the chips from `keywordsString`, split at every single space (empty pieces kept).
    void loadKeywords();
    /// Turns the typed text into keywords: split at spaces, each trimmed and lower-cased; an empty piece
    /// stops without touching the field, a keyword already present clears the field and stops.
    void addKeywords();
    /// Removes the first keyword equal to `keyword`.
    void removeKeyword(const QString& keyword);

signals:
    /// The keywords text changed, by the view's own edit or by the owner.
    void keywordsStringChanged(const QString& keywordsString);

private:
    void writeKeywordsString();
    void rebuildChips();
    void updatePadding();

    QString keywordText_;
    QStringList keywords_;
    QString keywordsString_;
    bool isForSheet_;
    QVBoxLayout* stack_;
    QWidget* chipArea_;
    flowlayout::FlowStack* flow_;
    QHBoxLayout* fieldRow_;
    QLineEdit* field_;
    QPushButton* addButton_;
};

} // namespace lumetrove
