#include "aiclient/Configuration.h"

#include <utility>

namespace aiclient {

Configuration::Configuration(std::string token, std::optional<std::string> organizationIdentifier, std::string host,
                             std::int64_t port, std::string scheme, double timeoutInterval,
                             std::size_t maxResponseBytes, std::size_t maxEventBytes)
    : token_(std::move(token)), organizationIdentifier_(std::move(organizationIdentifier)), host_(std::move(host)),
      port_(port), scheme_(std::move(scheme)), timeoutInterval_(timeoutInterval), maxResponseBytes_(maxResponseBytes),
      maxEventBytes_(maxEventBytes)
{}

Configuration Configuration::standard(std::string token)
{
    return Configuration(std::move(token), std::nullopt, defaultHost, 443, "https", 60.0);
}

Configuration Configuration::withRequestBound(double requestDeadline, double minimumBytesPerSecond) const
{
    Configuration bounded = *this;
    bounded.requestDeadline_ = requestDeadline;
    bounded.minimumBytesPerSecond_ = minimumBytesPerSecond;
    return bounded;
}

} // namespace aiclient
