#pragma once

#include <QLabel>

namespace lumetrove {

/// The uniform section heading of the detail pane: the title, bold, at 70 % opacity, 35 points high.
class DetailHeadingView : public QLabel {
    Q_OBJECT

public:
    explicit DetailHeadingView(const QString& title, QWidget* parent = nullptr);
};

} // namespace lumetrove
