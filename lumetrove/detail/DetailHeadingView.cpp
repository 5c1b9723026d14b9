#include "lumetrove/detail/DetailHeadingView.h"

#include "lumetrove/detail/DetailStyle.h"

namespace lumetrove {

DetailHeadingView::DetailHeadingView(const QString& title, QWidget* parent) : QLabel(title, parent)
{
    setTextFormat(Qt::PlainText);
    setFont(scaledFont(this, kTitle3Scale, true));
    setContentsMargins(16, 13, 16, 5);
    setAlignment(Qt::AlignLeading | Qt::AlignVCenter);
    setFixedHeight(35);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    fadeText(this, 0.7);
}

} // namespace lumetrove
