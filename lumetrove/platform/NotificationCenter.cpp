#include "lumetrove/platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QThread>

namespace lumetrove {

bool Notification::boolValue(const QString& key) const
{
    const auto it = userInfo.constFind(key);
    return it != userInfo.constEnd() && it->typeId() == QMetaType::Bool && it->toBool();
}

NotificationCenter& NotificationCenter::defaultCenter()
{
    static auto* center = [] {
        auto* made = new NotificationCenter();
        // Lives on the main thread whoever asked first, so queued posts land there.
        if (auto* app = QCoreApplication::instance()) {
            made->moveToThread(app->thread());
        }
        return made;
    }();
    return *center;
}

void NotificationCenter::post(const QString& name, const QVariantMap& userInfo)
{
    Notification notification{name, userInfo};
    if (QThread::currentThread() == thread()) {
        emit posted(notification);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, notification] { emit posted(notification); }, Qt::QueuedConnection);
}

QMetaObject::Connection NotificationCenter::addObserver(const QString& name, const QObject* context,
                                                        std::function<void(const Notification&)> handler)
{
    return connect(this, &NotificationCenter::posted, context,
                   [name, handler = std::move(handler)](const Notification& notification) {
                       if (notification.name == name) {
                           handler(notification);
                       }
                   });
}

} // namespace lumetrove
