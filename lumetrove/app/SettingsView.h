#pragma once

#include <QWidget>

class QLabel;
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
    /// False when the settings file could not be written, and the key is not kept.
    static bool saveKey(const QString& key);
    /// Says below the field that the key typed was not kept, and why; hidden while keys are kept.
    QLabel* saveProblem() const { return saveProblem_; }

private:
    QLineEdit* keyField_;
    QLabel* saveProblem_;
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
