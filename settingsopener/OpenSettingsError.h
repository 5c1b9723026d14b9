#pragma once

#include <exception>

namespace settingsopener {

/// Why the legacy road could not open Settings. Carries its case only; `what()` is the case's name.
class FallbackOpenSettingsError : public std::exception {
public:
    enum Case { unsupportedPlatform, selectorNotFound };

    FallbackOpenSettingsError(Case value) : value_(value) {}
    Case value() const noexcept { return value_; }
    const char* what() const noexcept override;

    friend bool operator==(const FallbackOpenSettingsError& a, const FallbackOpenSettingsError& b)
    {
        return a.value_ == b.value_;
    }

private:
    Case value_;
};

/// Why `OpenSettingsAction::openSettings` could not open Settings. Carries its case only.
class OpenSettingsError : public std::exception {
public:
    enum Case { unsupportedPlatform, selectorNotFound, settingsLinkNotConnected };

    OpenSettingsError(Case value) : value_(value) {}
    Case value() const noexcept { return value_; }
    const char* what() const noexcept override;

    friend bool operator==(const OpenSettingsError& a, const OpenSettingsError& b) { return a.value_ == b.value_; }

private:
    Case value_;
};

} // namespace settingsopener
