#include "aiclient/HttpSession.h"

#include <algorithm>
#include <cctype>
#include <string>

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

namespace {

std::string describeLimit(std::size_t limit)
{
    constexpr std::size_t mebibyte = 1024 * 1024;
    if (limit >= mebibyte && limit % mebibyte == 0) {
        return std::to_string(limit / mebibyte) + " MiB";
    }
    return std::to_string(limit) + " bytes";
}

} // namespace

ResponseTooLargeError::ResponseTooLargeError(std::size_t limit)
    : TransportError(Kind::responseTooLarge,
                     "The answer was larger than the limit of " + describeLimit(limit) + " and was not read further."),
      limit_(limit)
{}

bool isSendableHeaderText(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

} // namespace aiclient
