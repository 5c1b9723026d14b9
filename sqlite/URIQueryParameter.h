#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace sqlite {

/// One SQLite URI file-name parameter, written as one query item of the file URI that a connection opens.
class URIQueryParameter {
public:
    enum class FileMode { readOnly, readWrite, readWriteCreate, memory };
    enum class CacheMode { shared, private_ };

    /// A query item: a key and its value text, not yet percent-encoded.
    struct QueryItem {
        std::string name;
        std::optional<std::string> value;
        bool operator==(const QueryItem&) const = default;
    };

    static URIQueryParameter cache(CacheMode mode) { return URIQueryParameter(mode); }
    static URIQueryParameter immutable(bool on) { return URIQueryParameter(Flag{Key::immutable, on}); }
    static URIQueryParameter modeOf(std::string path) { return URIQueryParameter(Text{Key::modeOf, std::move(path)}); }
    static URIQueryParameter mode(FileMode mode) { return URIQueryParameter(mode); }
    static URIQueryParameter nolock(bool on) { return URIQueryParameter(Flag{Key::nolock, on}); }
    static URIQueryParameter powersafeOverwrite(bool on) { return URIQueryParameter(Flag{Key::psow, on}); }
    static URIQueryParameter vfs(std::string name) { return URIQueryParameter(Text{Key::vfs, std::move(name)}); }

    /// The key and the value text ("cache" "shared", "psow" "1", "modeof" and the path unchanged, …).
    QueryItem queryItem() const;
    /// "key=value", for example "mode=ro".
    std::string description() const;

    bool operator==(const URIQueryParameter&) const = default;
    std::size_t hash() const;

private:
    enum class Key { immutable, modeOf, nolock, psow, vfs };
    struct Flag {
        Key key;
        bool on;
        bool operator==(const Flag&) const = default;
    };
    struct Text {
        Key key;
        std::string text;
        bool operator==(const Text&) const = default;
    };
    using Payload = std::variant<CacheMode, Flag, Text, FileMode>;

    explicit URIQueryParameter(Payload payload) : payload_(std::move(payload)) {}

    Payload payload_;
};

std::string_view toText(URIQueryParameter::FileMode mode);
std::string_view toText(URIQueryParameter::CacheMode mode);
/// Exact, case-sensitive matching: "RO" is no file mode.
std::optional<URIQueryParameter::FileMode> fileModeFromText(std::string_view text);
std::optional<URIQueryParameter::CacheMode> cacheModeFromText(std::string_view text);

} // namespace sqlite

template <> struct std::hash<sqlite::URIQueryParameter> {
    std::size_t operator()(const sqlite::URIQueryParameter& p) const noexcept { return p.hash(); }
};
