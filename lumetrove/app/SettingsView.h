#pragma once

#include <QWidget>

class QLineEdit;
class QTabWidget;

namespace lumetrove {

class SettingsViewModel;

/// The API-key pane: a clear single-line field that shows the stored key and stores every change at once,
/// without the blanks and line breaks around it that a paste brings along. Nothing is stored until the first
/// edit. Main thread.
class OpenAIAPIView : public QWidget {
    Q_OBJECT

public:
    explicit OpenAIAPIView(QWidget* parent = nullptr);

    /// What the field shows and edits.
    QString openAIAPIKey() const;
    QLineEdit* keyField() const { return keyField_; }

    /// Stores `key` under "OpenAIAPIKey" without leading and trailing white space and line breaks; what is
    /// inside the key is kept as it is (a key that holds a line break there is still refused when sent).
    static void saveKey(const QString& key);

private:
    QLineEdit* keyField_;
};

/// The Settings window's content: a tab view, 500 × 300, bound to the model's selected tab, with the one tab
/// "OpenAI API". As a window, it closes on Escape and on the desktop's Close keys. Main thread.
class SettingsView : public QWidget {
    Q_OBJECT

public:
    explicit SettingsView(SettingsViewModel& settingsViewModel, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return tabs_; }
    OpenAIAPIView* openAIAPIView() const { return openAIAPIView_; }

private:
    QTabWidget* tabs_;
    OpenAIAPIView* openAIAPIView_;
};

} // namespace lumetrove
