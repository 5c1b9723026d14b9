#pragma once

#include <QString>
#include <QVariant>
#include <optional>

namespace lumetrove {

// The application's settings store: QSettings("Lumetrove", "Lumetrove"), that is
// $XDG_CONFIG_HOME/Lumetrove/Lumetrove.conf. It holds the API key in clear, so the file is made readable and
// writable by its owner only before anything is written to it, and kept so after every write.
// Main thread, like every reader and writer of the store.
namespace UserDefaults {

/// Text, no default: the AI service's API key exactly as the user typed it.
inline constexpr const char* openAIAPIKey = "OpenAIAPIKey";
/// Boolean, absent means false: a launch has found screen-recording permission granted.
inline constexpr const char* hasLaunchedBefore = "hasLaunchedBefore";
/// Number, default 0.6: the detail image's zoom.
inline constexpr const char* imageZoom = "ImageZoom";

/// The stored value, or an invalid QVariant when the key is absent.
QVariant value(const QString& key);
bool contains(const QString& key);
/// The stored text; none when the key is absent.
std::optional<QString> string(const QString& key);
/// The stored Boolean; false when the key is absent or not a Boolean.
bool boolean(const QString& key);

/// Stores the value and writes the file at once, with owner-only permissions. False when the file could not be
/// written (a folder in its place, a full disk): the value is not kept.
bool setValue(const QString& key, const QVariant& value);
/// Removes the key and writes the file at once; false as for `setValue`.
bool remove(const QString& key);

/// The absolute path of the settings file (which may not exist yet).
QString fileName();

} // namespace UserDefaults
} // namespace lumetrove
