#include "lumetrove/app/SettingsView.h"

#include "lumetrove/platform/Symbols.h"
#include "lumetrove/platform/UserDefaults.h"
#include "lumetrove/views/SettingsViewModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>

namespace lumetrove {

OpenAIAPIView::OpenAIAPIView(QWidget* parent)
    : QWidget(parent), keyField_(new QLineEdit(this)), saveProblem_(new QLabel(this))
{
    auto* prompt = new QLabel(QStringLiteral("Paste your OpenAI API key into the text field below."), this);
    prompt->setAlignment(Qt::AlignHCenter);
    prompt->setContentsMargins(0, 80, 0, 40);

    auto* caption = new QLabel(QStringLiteral("OpenAI API Key:"), this);
    keyField_->setPlaceholderText(QStringLiteral("sk-xxxx"));
    keyField_->setAccessibleName(QStringLiteral("OpenAI API Key"));
    caption->setBuddy(keyField_);

    auto* fieldColumn = new QVBoxLayout;
    fieldColumn->addWidget(caption, 0, Qt::AlignLeft);
    fieldColumn->addWidget(keyField_);
    saveProblem_->setWordWrap(true);
    saveProblem_->setTextFormat(Qt::PlainText);
    saveProblem_->hide();
    fieldColumn->addWidget(saveProblem_);
    auto* fieldRow = new QHBoxLayout;
    fieldRow->setContentsMargins(65, 0, 65, 0);
    fieldRow->addLayout(fieldColumn, 1);
    fieldRow->addStretch(0);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addLayout(fieldRow);
    layout->addStretch(1);

    keyField_->setText(UserDefaults::string(UserDefaults::openAIAPIKey).value_or(QString()));
    // Connected after the stored text is shown, so that opening the pane stores nothing.
    connect(keyField_, &QLineEdit::textChanged, this, [this](const QString& key) {
        // Without a word the key would seem kept, and the next request would ask for a key all the same.
        const bool saved = saveKey(key);
        saveProblem_->setText(
            saved
                ? QString()
                : QStringLiteral("The key could not be saved: “%1” cannot be written.").arg(UserDefaults::fileName()));
        saveProblem_->setVisible(!saved);
    });
}

QString OpenAIAPIView::openAIAPIKey() const
{
    return keyField_->text();
}

bool OpenAIAPIView::saveKey(const QString& key)
{
    return UserDefaults::setValue(UserDefaults::openAIAPIKey, key.trimmed());
}

SettingsView::SettingsView(SettingsViewModel& settingsViewModel, QWidget* parent)
    : QWidget(parent), tabs_(new QTabWidget(this)), openAIAPIView_(new OpenAIAPIView)
{
    setWindowTitle(QStringLiteral("Settings"));
    tabs_->addTab(openAIAPIView_, symbolIcon(QStringLiteral("brain.head.profile")), QStringLiteral("OpenAI API"));
    tabs_->setFixedSize(500, 300);
    // The key is what this window is opened for: its field has the keyboard when the window comes up, not the
    // tab bar in front of it, so a key can be pasted or typed at once. Set once the pane has its place, since
    // moving a widget into another window takes its focus away.
    openAIAPIView_->keyField()->setFocus();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_, 0, Qt::AlignCenter);

    // Closed from the keyboard as well as from the title bar, as a desktop's windows are; the Close keys are
    // all the desktop binds (Ctrl+W and Ctrl+F4 on most).
    const auto closeWindow = [this] {
        if (isWindow()) {
            close();
        }
    };
    connect(new QShortcut(QKeySequence::Close, this), &QShortcut::activated, this, closeWindow);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, closeWindow);

    // The tab view and the model's selection follow each other; tab positions follow the order of `Tab`.
    QPointer<SettingsViewModel> model(&settingsViewModel);
    const auto showSelected = [this, model] {
        if (model) {
            tabs_->setCurrentIndex(static_cast<int>(model->selectedTab()));
        }
    };
    showSelected();
    connect(&settingsViewModel, &SettingsViewModel::selectedTabChanged, this, showSelected);
    connect(tabs_, &QTabWidget::currentChanged, this, [model](int index) {
        if (model && index >= 0 && model->selectedTab() != static_cast<Tab>(index)) {
            model->setSelectedTab(static_cast<Tab>(index));
        }
    });
}

} // namespace lumetrove
