#pragma once

#include <QAccessible>
#include <QApplication>
#include <QList>
#include <QMenu>
#include <QString>
#include <QWidget>
#include <gtest/gtest.h>

namespace lumetrove::testing {

/// The name a screen reader reads for `widget`: its accessible name, or what Qt derives from its text or
/// title when it has none.
inline QString accessibleName(QWidget* widget)
{
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->text(QAccessible::Name) : widget->accessibleName();
}

/// The controls of type `T` in `root` (itself included) that a screen reader names `name`, among those that
/// would be on screen with `root` (a hidden control is not read).
template <typename T = QWidget> QList<T*> controlsNamed(QWidget* root, const QString& name)
{
    QList<T*> found;
    QList<T*> candidates = root->findChildren<T*>();
    if (auto* self = qobject_cast<T*>(root)) {
        candidates.prepend(self);
    }
    for (T* candidate : candidates) {
        if ((candidate == root || candidate->isVisibleTo(root)) && accessibleName(candidate) == name) {
            found << candidate;
        }
    }
    return found;
}

/// The one control of type `T` in `root` that a screen reader names `name`; null, with a test failure, when
/// there is none or more than one.
template <typename T = QWidget> T* controlNamed(QWidget* root, const QString& name)
{
    const QList<T*> found = controlsNamed<T>(root, name);
    if (found.size() != 1) {
        ADD_FAILURE() << found.size() << " controls named \"" << name.toStdString() << "\"";
        return nullptr;
    }
    return found.front();
}

/// Like `controlNamed`, without a failure when there is none (for waiting until one appears).
template <typename T = QWidget> T* findControlNamed(QWidget* root, const QString& name)
{
    const QList<T*> found = controlsNamed<T>(root, name);
    return found.size() == 1 ? found.front() : nullptr;
}

/// The menu open on screen now, as a right click leaves it; null when none is.
inline QMenu* openMenu()
{
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

} // namespace lumetrove::testing
