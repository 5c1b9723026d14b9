#include "aiclient/HttpSession.h"

#include <algorithm>
#include <cctype>

namespace aiclient {

std::optional<std::string> HttpRequest::header(const std::string& name) const
{
    auto sameName = [&](const std::string& other) {
        return std::equal(name.begin(), name.end(), other.begin(), other.end(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        });
    };
    for (const auto& [key, value] : headers) {
        if (sameName(key)) {
            return value;
        }
    }
    return std::nullopt;
}

bool isSendableHeaderText(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

} // namespace aiclient
