#include "sqlite/URIQueryParameter.h"

namespace sqlite {

namespace {

std::string_view keyText(int key)
{
    static constexpr std::string_view keys[] = {"immutable", "modeof", "nolock", "psow", "vfs"};
    return keys[key];
}

} // namespace

URIQueryParameter::QueryItem URIQueryParameter::queryItem() const
{
    return std::visit(
        [](const auto& p) -> QueryItem {
            using T = std::decay_t<decltype(p)>;
            if constexpr (std::is_same_v<T, CacheMode>) {
                return {"cache", std::string(toText(p))};
            } else if constexpr (std::is_same_v<T, FileMode>) {
                return {"mode", std::string(toText(p))};
            } else if constexpr (std::is_same_v<T, Flag>) {
                return {std::string(keyText(static_cast<int>(p.key))), p.on ? "1" : "0"};
            } else {
                return {std::string(keyText(static_cast<int>(p.key))), p.text};
            }
        },
        payload_);
}

std::string URIQueryParameter::description() const
{
    const QueryItem item = queryItem();
    return item.name + "=" + item.value.value_or("");
}

std::size_t URIQueryParameter::hash() const
{
    return std::hash<std::string>{}(description());
}

std::string_view toText(URIQueryParameter::FileMode mode)
{
    switch (mode) {
    case URIQueryParameter::FileMode::readOnly:
        return "ro";
    case URIQueryParameter::FileMode::readWrite:
        return "rw";
    case URIQueryParameter::FileMode::readWriteCreate:
        return "rwc";
    case URIQueryParameter::FileMode::memory:
        return "memory";
    }
    return {};
}

std::string_view toText(URIQueryParameter::CacheMode mode)
{
    return mode == URIQueryParameter::CacheMode::shared ? "shared" : "private";
}

std::optional<URIQueryParameter::FileMode> fileModeFromText(std::string_view text)
{
    using FileMode = URIQueryParameter::FileMode;
    for (FileMode mode : {FileMode::readOnly, FileMode::readWrite, FileMode::readWriteCreate, FileMode::memory}) {
        if (toText(mode) == text) {
            return mode;
        }
    }
    return std::nullopt;
}

std::optional<URIQueryParameter::CacheMode> cacheModeFromText(std::string_view text)
{
    using CacheMode = URIQueryParameter::CacheMode;
    for (CacheMode mode : {CacheMode::shared, CacheMode::private_}) {
        if (toText(mode) == text) {
            return mode;
        }
    }
    return std::nullopt;
}

} // namespace sqlite
