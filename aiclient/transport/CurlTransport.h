#pragma once
// Between `CurlSession` and the libcurl transport, a module it loads on its first task. The module makes no
// error of its own: every error it reports is made by the client library through `Host`, so that callers catch
// the client's own types.

#include "aiclient/HttpSession.h"

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

namespace aiclient::transport {

/// What the module takes from the library that loads it.
struct Host {
    std::exception_ptr (*transportError)(TransportError::Kind kind, const std::string& message);
    std::exception_ptr (*httpStatusError)(long statusCode);
    std::exception_ptr (*responseTooLargeError)(std::size_t limit);
    bool (*isSendableHeaderText)(std::string_view text);
};

/// The module's one entry point, by this name: a new session, owned by the caller. `host` lives as long as the
/// process.
using MakeSession = Session* (*)(const Host* host);
inline constexpr const char* makeSessionName = "aiclient_make_curl_session";

} // namespace aiclient::transport
