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
    // Publishing an unchanged list would have its observer drain it again, and again: only changes are news.
    if (urls == urls_) {
        return;
    }
    urls_ = std::move(urls);
    emit urlsChanged();
}

void URLHandler::clearURLs()
{
    if (urls_.isEmpty()) {
        return;
    }
    // Only the list the caller took is cleared: one handed over in the meantime waits for its own turn.
    QMetaObject::invokeMethod(
        this,
        [this, taken = urls_] {
            if (urls_ == taken) {
                setUrls({});
            }
        },
        Qt::QueuedConnection);
}

} // namespace lumetrove
