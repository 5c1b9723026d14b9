#include "lumetrove/app/URLHandler.h"

#include <QMetaObject>

namespace lumetrove {

URLHandler& URLHandler::shared()
{
    static URLHandler* instance = new URLHandler;
    return *instance;
}

void URLHandler::setUrls(QList<QUrl> urls)
{
    urls_ = std::move(urls);
    emit urlsChanged();
}

void URLHandler::clearURLs()
{
    QMetaObject::invokeMethod(
        this, [this] { setUrls({}); }, Qt::QueuedConnection);
}

} // namespace lumetrove
