#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

namespace lumetrove {

/// The files that the system handed to the application, kept until the main window imports them.
/// One instance for the whole run. Main thread.
class URLHandler : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<QUrl> urls READ urls WRITE setUrls NOTIFY urlsChanged)

public:
    /// The process-wide instance, made on first use and kept until exit.
    static URLHandler& shared();

    const QList<QUrl>& urls() const { return urls_; }
    /// Replaces the list; `urlsChanged` is emitted only when the list differs from the one held.
    void setUrls(QList<QUrl> urls);

    /// Empties the list on a later turn of the event loop: until the current work has finished, `urls` still
    /// holds the old list, so a caller takes its copy first and then clears. Does nothing to an empty list, and
    /// leaves alone a different list handed over before the clearing runs.
    void clearURLs();

signals:
    void urlsChanged();

private:
    URLHandler() = default;
    QList<QUrl> urls_;
};

} // namespace lumetrove
