#include "lumetrove/detail/CopyToClipboardButtonView.h"

#include "lumetrove/detail/DetailHeadingView.h"
#include "lumetrove/platform/Symbols.h"

#include <QBoxLayout>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPointer>
#include <QTimer>
#include <QToolButton>

namespace lumetrove {

void IconsToShowTick::setValue(const QString& buttonName, bool tick)
{
    const bool known = ticks_.contains(buttonName);
    const bool old = ticks_.value(buttonName, false);
    ticks_.insert(buttonName, tick);
    if (!known || old != tick) {
        emit valueChanged(buttonName, tick);
    }
}

CopyToClipboardButtonView::CopyToClipboardButtonView(QString buttonName, std::optional<QString> textToCopy,
                                                     IconsToShowTick* iconsToShowTick, QWidget* parent)
    : QWidget(parent), buttonName_(std::move(buttonName)), textToCopy_(std::move(textToCopy)),
      iconsToShowTick_(iconsToShowTick)
{
    setObjectName(buttonName_);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 5, 20, 0);
    button_ = new QToolButton(this);
    button_->setFixedWidth(40);
    button_->setAutoRaise(true);
    button_->setAccessibleName(QStringLiteral("Copy to Clipboard"));
    button_->setToolTip(QStringLiteral("Copy to Clipboard"));
    layout->addWidget(button_);
    connect(button_, &QToolButton::clicked, this, &CopyToClipboardButtonView::copy);
    connect(iconsToShowTick_, &IconsToShowTick::valueChanged, this, [this](const QString& name) {
        if (name == buttonName_) {
            updateIcon();
        }
    });
    updateIcon();
}

QString CopyToClipboardButtonView::symbolName() const
{
    return iconsToShowTick_->value(buttonName_) ? QStringLiteral("checkmark") : QStringLiteral("doc.on.clipboard");
}

void CopyToClipboardButtonView::updateIcon()
{
    button_->setIcon(symbolIcon(symbolName()));
}

void CopyToClipboardButtonView::copy()
{
    if (!textToCopy_) {
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(*textToCopy_);
    iconsToShowTick_->setValue(buttonName_, true);
    // Each click schedules its own reset; the map outlives the button, so the reset runs even when the
    // button is gone by then.
    QPointer<IconsToShowTick> ticks = iconsToShowTick_;
    const QString name = buttonName_;
    QTimer::singleShot(kTickMilliseconds, iconsToShowTick_, [ticks, name] {
        if (ticks) {
            ticks->setValue(name, false);
        }
    });
}

CopyToClipboardButtonView* addHeadingWithCopyButton(QBoxLayout* stack, QWidget* parent, const QString& title,
                                                    const QString& buttonName, IconsToShowTick* iconsToShowTick,
                                                    int bottomPadding)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    row->setContentsMargins(0, 0, 0, bottomPadding);
    row->addWidget(new DetailHeadingView(title, parent), 1);
    auto* button = new CopyToClipboardButtonView(buttonName, std::nullopt, iconsToShowTick, parent);
    row->addWidget(button);
    stack->addLayout(row);
    return button;
}

} // namespace lumetrove
