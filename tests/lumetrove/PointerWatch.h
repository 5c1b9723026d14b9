#pragma once

#include "tests/lumetrove/Sandbox.h"

#include <QDeadlineTimer>
#include <QEvent>
#include <QPoint>
#include <QWindow>
#include <functional>

namespace lumetrove::testing {

/// Notes whether the pointer moved over `window`, as the window system told the program.
class PointerWatch : public QObject {
public:
    explicit PointerWatch(QWindow* window)
    {
        if (window) {
            window->installEventFilter(this);
        }
    }
    bool reached() const { return reached_; }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        reached_ = reached_ || event->type() == QEvent::MouseMove;
        return false;
    }

private:
    bool reached_ = false;
};

/// Moves the pointer to `point` with `moveTo` until `hasPointer` holds, or `timeoutMs` runs out: a window just
/// mapped gets the pointer only once the window system has it under the pointer, which under load comes well
/// after it is listed; the pointer is wiggled by one unit, so that each move is a motion the window system
/// acts on.
inline bool pointAt(QPoint point, const std::function<bool(QPoint)>& moveTo, const std::function<bool()>& hasPointer,
                    int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (int move = 0; !hasPointer() && !deadline.hasExpired(); ++move) {
        if (!moveTo(point + QPoint(move % 2, 0))) {
            return false;
        }
        processEventsUntil(hasPointer, 500);
    }
    return hasPointer();
}

} // namespace lumetrove::testing
