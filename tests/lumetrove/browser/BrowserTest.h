#pragma once

#include "lumetrove/browser/LibrarySelection.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/FoldersListManager.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QUrl>
#include <memory>

namespace lumetrove::testing {

/// Receives the URLs that code asks the desktop to open (through QDesktopServices::setUrlHandler).
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

/// A library with screenshots, their thumbnail files, both list managers and a selection, as the main
/// window would hand them to the browser's views.
class BrowserTest : public OpenLibraryTest {
protected:
    /// Stores `count` screenshots named "shot 1" … (the newest, "shot <count>", first in the list), each with
    /// a thumbnail of `thumbnailSize` filled with `thumbnailColor`, then makes the managers.
    void makeLibrary(int count, QSize thumbnailSize = QSize(200, 140), QColor thumbnailColor = Qt::blue)
    {
        for (int i = 1; i <= count; ++i) {
            const qint64 id = addScreenshot(*store, QStringLiteral("shot %1").arg(i));
            QImage thumbnail(thumbnailSize, QImage::Format_ARGB32);
            thumbnail.fill(thumbnailColor);
            ASSERT_TRUE(thumbnail.save(*thumbnailFilePath(id), "PNG"));
            ids.prepend(id);
        }
        screenshots = std::make_unique<ScreenshotsListManager>(store);
        waitForList(*screenshots);
        folders = std::make_unique<FoldersListManager>(store);
    }

    /// Waits for the screenshot list to hold `count` rows after a filter change.
    void waitForListSize(qsizetype count)
    {
        ASSERT_TRUE(processEventsUntil([&] { return screenshots->screenshots().size() == count; }));
    }

    QList<qint64> ids;
    std::unique_ptr<ScreenshotsListManager> screenshots;
    std::unique_ptr<FoldersListManager> folders;
    LibrarySelection selection;
};

} // namespace lumetrove::testing
