#include "lumetrove/app/ProblemBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QToolButton>

namespace lumetrove {

ProblemBar::ProblemBar(QWidget* parent) : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    // As high as its lines, never more: the window's columns take the rest.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    setForegroundRole(QPalette::ToolTipText);
    setAccessibleName(QStringLiteral("Library problems"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 6, 6, 6);
    icon_ = new QLabel(this);
    const int size = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    icon_->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(size, size));
    layout->addWidget(icon_, 0, Qt::AlignTop);
    text_ = new QLabel(this);
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::PlainText);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text_->setForegroundRole(QPalette::ToolTipText);
    layout->addWidget(text_, 1, Qt::AlignVCenter);
    dismiss_ = new QToolButton(this);
    dismiss_->setText(QStringLiteral("Dismiss"));
    dismiss_->setAccessibleName(QStringLiteral("Dismiss"));
    layout->addWidget(dismiss_, 0, Qt::AlignTop);
    connect(dismiss_, &QToolButton::clicked, this, &ProblemBar::dismiss);
    hide();
}

void ProblemBar::addMessage(const QString& message)
{
    messages_.removeAll(message);
    messages_.append(message);
    while (messages_.size() > maximumMessages) {
        messages_.removeFirst();
    }
    refresh();
}

void ProblemBar::dismiss()
{
    messages_.clear();
    refresh();
}

void ProblemBar::refresh()
{
    text_->setText(messages_.join(QLatin1Char('\n')));
    setVisible(!messages_.isEmpty());
}

} // namespace lumetrove
