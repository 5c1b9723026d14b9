#pragma once

// The two assistant prompts that act on the recognised text of a capture instead of asking the AI service
// ("Copy text" and "Web search"), the user notifications that report them, and the toolbar's "Open Folder".
// All of it runs on the main thread; nothing waits for the notification service.

#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QDBusConnection;

namespace lumetrove {

/// The search engine's query prefix; the encoded text is appended to it.
inline constexpr const char* webSearchPrefix = "https://www.google.com/search?q=";

/// Empty text: notifies "Copy text failed" / "No text found" and leaves the clipboard alone. Otherwise puts
/// the text, unchanged, on the clipboard and notifies "Text Copied" / "Text copied to clipboard".
void copyRecognizedText(const QString& text);

/// Empty text: notifies "Web search failed" / "No text to search found". Otherwise `openWebSearch`; a search
/// that opens shows no notification.
void searchRecognizedText(const QString& text);

/// Opens `webSearchURL(text)` in the default browser; prints "Invalid URL" when there is none.
void openWebSearch(const QString& text);

/// The search URL for the text: line feeds become blanks and the whole text is one query value, so every
/// character but the unreserved ones is percent-encoded ("&", "+", "=", "?", "#" included, a blank as "%20").
/// None when no valid URL results.
std::optional<QUrl> webSearchURL(const QString& text);

/// Asks the desktop's notification service whether it can show notifications (there is no permission to
/// grant on this desktop) and prints the answer: "Notification permission granted." or
/// "Error requesting notification authorization: " and the error. Returns at once.
void requestNotificationAuthorization();

/// Shows a notification with the title and body over org.freedesktop.Notifications. When the service cannot
/// be reached it prints "Error showing notification: " and the error, and the fallback (see below) shows it.
/// Returns at once.
void showUserNotification(const QString& title, const QString& body);

/// Opens the screenshots directory in the file manager; nothing when it cannot be given.
void openScreenshotsFolder();

/// Shows a notification some other way (the shell sets the tray icon's message). Main thread.
using NotificationFallback = std::function<void(const QString& title, const QString& body)>;
void setNotificationFallback(NotificationFallback fallback);

/// The bus on which the notification service is reached; the session bus unless set.
void setNotificationBus(const QDBusConnection& bus);

} // namespace lumetrove
