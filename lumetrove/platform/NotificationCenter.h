#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

namespace lumetrove {

/// One posted notification: its name and its user info (empty when none was given).
struct Notification {
    QString name;
    QVariantMap userInfo;

    /// The user-info value under `key` when it is a Boolean; false when it is missing or of another type.
    bool boolValue(const QString& key) const;
};

/// The application's notification center: commands, menus and toolbars post named notifications instead of
/// calling the main window, and whoever owns the window observes them. Observers always run on the main
/// thread: a post from the main thread delivers at once, before `post` returns; a post from another thread
/// is queued to the main thread.
class NotificationCenter : public QObject {
    Q_OBJECT
public:
    /// The process-wide center, made on first use and kept until exit.
    static NotificationCenter& defaultCenter();

    /// Posts `name` with `userInfo` to every observer of that name. Any thread.
    void post(const QString& name, const QVariantMap& userInfo = {});

    /// Calls `handler` for every notification named `name` until `context` is destroyed or the returned
    /// connection is disconnected. Main thread.
    QMetaObject::Connection addObserver(const QString& name, const QObject* context,
                                        std::function<void(const Notification&)> handler);

signals:
    void posted(const lumetrove::Notification& notification);

private:
    using QObject::QObject;
};

} // namespace lumetrove
