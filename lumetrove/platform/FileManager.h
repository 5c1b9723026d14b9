#pragma once

#include <QUrl>

namespace lumetrove {

/// Shows a file selected in the desktop's file manager (org.freedesktop.FileManager1.ShowItems on the
/// session bus). When there is no session bus or no file manager answers, the file's folder is opened
/// instead. Reports nothing back. Main thread; never waits for the answer.
void revealFileInFolder(const QUrl& fileUrl);

} // namespace lumetrove
