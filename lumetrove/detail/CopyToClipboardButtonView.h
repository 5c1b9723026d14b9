#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QWidget>
#include <optional>

class QBoxLayout;
class QToolButton;

namespace lumetrove {

/// The detail pane's map from copy-button name to whether that button shows its check mark. Starts empty;
/// keys are added by clicks and never removed.
class IconsToShowTick : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    /// False for a name never set.
    bool value(const QString& buttonName) const { return ticks_.value(buttonName, false); }
    bool contains(const QString& buttonName) const { return ticks_.contains(buttonName); }
    void setValue(const QString& buttonName, bool tick);

signals:
    void valueChanged(const QString& buttonName, bool tick);

private:
    QHash<QString, bool> ticks_;
};

/// A small button that copies a text to the clipboard as plain text and shows a check mark for two
/// seconds. Without a text it does nothing.
class CopyToClipboardButtonView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kTickMilliseconds = 2000;

    CopyToClipboardButtonView(QString buttonName, std::optional<QString> textToCopy, IconsToShowTick* iconsToShowTick,
                              QWidget* parent = nullptr);

    const QString& buttonName() const { return buttonName_; }
    const std::optional<QString>& textToCopy() const { return textToCopy_; }
    void setTextToCopy(std::optional<QString> text) { textToCopy_ = std::move(text); }
    /// The symbol the button shows now: "checkmark" or "doc.on.clipboard".
    QString symbolName() const;

    /// The click: writes the text to the clipboard and ticks the button.
    void copy();

private:
    void updateIcon();

    QString buttonName_;
    std::optional<QString> textToCopy_;
    IconsToShowTick* iconsToShowTick_;
    QToolButton* button_;
};

/// Adds a row of a section heading with `title` and, at its trailing end, a copy button named `buttonName`
/// to `stack`; `bottomPadding` points below the row. Returns the button.
CopyToClipboardButtonView* addHeadingWithCopyButton(QBoxLayout* stack, QWidget* parent, const QString& title,
                                                    const QString& buttonName, IconsToShowTick* iconsToShowTick,
                                                    int bottomPadding = 0);

} // namespace lumetrove
