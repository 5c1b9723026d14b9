#pragma once

#include <QAbstractButton>
#include <functional>
#include <memory>

namespace lumetrove {

class AILoadingIconView;
class AIVisionViewModel;
class AnalysisTask;

/// The "Process With AI" button: a gradient button that shows the AI-processing indicator instead while its
/// model is loading and the host's current analysis exists and is not cancelled. It starts nothing itself: a
/// press on the button face runs the host's action. While the indicator is shown the button takes no press
/// (pointer, keyboard or `click`): the running request is the one to wait for. Main thread.
class ProcessButtonView : public QAbstractButton {
    Q_OBJECT

public:
    /// The host's running analysis, if any.
    using CurrentTask = std::function<std::shared_ptr<AnalysisTask>()>;

    ProcessButtonView(AIVisionViewModel& model, CurrentTask currentTask,
                      std::function<void()> aiProcessScreenshotAction, QWidget* parent = nullptr);

    /// Whether the indicator is shown instead of the button face.
    bool showsBusyFace() const;
    /// Chooses the face again; the host calls it when its current task changes (model changes are followed).
    void refresh();

    QSize sizeHint() const override { return QSize(150, 25); }

protected:
    bool hitButton(const QPoint& position) const override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    AIVisionViewModel& model_;
    CurrentTask currentTask_;
    AILoadingIconView* indicator_;
};

} // namespace lumetrove
