#include "sqlite/Value.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

namespace sqlite {

namespace {

constexpr char hexDigits[] = "0123456789abcdef";

std::mutex& settingsMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::string& boolDeclaredDatatype()
{
    static std::string name = "INTEGER";
    return name;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads exactly `width` decimal digits starting at `pos`.
std::optional<int> digits(std::string_view text, std::size_t pos, std::size_t width)
{
    int value = 0;
    for (std::size_t i = pos; i < pos + width; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

} // namespace

Blob::Blob(const void* data, std::size_t length)
{
    if (length > 0) {
        const auto* begin = static_cast<const std::uint8_t*>(data);
        bytes.assign(begin, begin + length);
    }
}

std::string Blob::description() const
{
    std::string text;
    text.reserve(bytes.size() * 2 + 3);
    text += "x'";
    for (std::uint8_t byte : bytes) {
        text += hexDigits[byte >> 4];
        text += hexDigits[byte & 0xf];
    }
    text += '\'';
    return text;
}

std::string describe(const Binding& value)
{
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::int64_t>) {
                return std::to_string(v);
            } else if constexpr (std::is_same_v<T, double>) {
                char buffer[32];
                auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
                (void)ec;
                return std::string(buffer, end);
            } else if constexpr (std::is_same_v<T, std::string>) {
                return "\"" + v + "\"";
            } else {
                return v.description();
            }
        },
        value);
}

std::string describe(const std::optional<Binding>& value)
{
    return value ? describe(*value) : std::string("nil");
}

namespace detail {

void throwKindMismatch(const char* expected, const Binding& found)
{
    static constexpr const char* names[] = {"INTEGER", "REAL", "TEXT", "BLOB"};
    throw ValueError(std::string("expected a stored ") + expected + " value, found the " + names[found.index()] +
                     " value " + describe(found));
}

} // namespace detail

// Dates -------------------------------------------------------------------------------------------

std::string formatDate(Date date)
{
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(date);
    const auto day = floor<days>(ms);
    const year_month_day ymd{day};
    const hh_mm_ss<milliseconds> time{ms - day};
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d.%03d", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return buffer;
}

std::optional<Date> parseDate(std::string_view text)
{
    using namespace std::chrono;
    // yyyy-MM-ddTHH:mm:ss.SSS
    if (text.size() != 23 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != '.') {
        return std::nullopt;
    }
    const auto y = digits(text, 0, 4), mo = digits(text, 5, 2), d = digits(text, 8, 2), h = digits(text, 11, 2),
               mi = digits(text, 14, 2), s = digits(text, 17, 2), f = digits(text, 20, 3);
    if (!y || !mo || !d || !h || !mi || !s || !f) {
        return std::nullopt;
    }
    const year_month_day ymd{year{*y}, month{static_cast<unsigned>(*mo)}, day{static_cast<unsigned>(*d)}};
    if (!ymd.ok() || *h > 23 || *mi > 59 || *s > 59) {
        return std::nullopt;
    }
    const auto instant = sys_days{ymd} + hours{*h} + minutes{*mi} + seconds{*s} + milliseconds{*f};
    return time_point_cast<system_clock::duration>(instant);
}

// UUIDs ---------------------------------------------------------------------------------------------

Uuid Uuid::random()
{
    thread_local std::mt19937_64 engine{std::random_device{}()};
    Uuid uuid;
    for (std::size_t i = 0; i < 16; i += 8) {
        const std::uint64_t r = engine();
        std::memcpy(uuid.bytes.data() + i, &r, 8);
    }
    uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0f) | 0x40);
    uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3f) | 0x80);
    return uuid;
}

std::optional<Uuid> Uuid::parse(std::string_view text)
{
    if (text.size() != 36) {
        return std::nullopt;
    }
    Uuid uuid;
    std::size_t byte = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            ++i;
            continue;
        }
        const int high = hexValue(text[i]), low = hexValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        uuid.bytes[byte++] = static_cast<std::uint8_t>(high << 4 | low);
        i += 2;
    }
    return uuid;
}

std::string Uuid::text() const
{
    static constexpr char upper[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        text += upper[bytes[i] >> 4];
        text += upper[bytes[i] & 0xf];
    }
    return text;
}

// URLs ----------------------------------------------------------------------------------------------

std::optional<Url> Url::parse(std::string_view text)
{
    if (text.empty()) {
        return std::nullopt;
    }
    for (unsigned char c : text) {
        if (c <= 0x20 || c == 0x7f) {
            return std::nullopt;
        }
    }
    return Url(std::string(text));
}

// Value conversions ---------------------------------------------------------------------------------

std::string ValueTraits<bool>::declaredDatatype()
{
    std::lock_guard lock(settingsMutex());
    return boolDeclaredDatatype();
}

void ValueTraits<bool>::setDeclaredDatatype(std::string name)
{
    std::lock_guard lock(settingsMutex());
    boolDeclaredDatatype() = std::move(name);
}

std::vector<std::byte> ValueTraits<std::vector<std::byte>>::fromDatatypeValue(const Blob& v)
{
    std::vector<std::byte> buffer(v.bytes.size());
    if (!buffer.empty()) {
        std::memcpy(buffer.data(), v.bytes.data(), buffer.size());
    }
    return buffer;
}

Blob ValueTraits<std::vector<std::byte>>::datatypeValue(const std::vector<std::byte>& v)
{
    return Blob(v.data(), v.size());
}

Date ValueTraits<Date>::fromDatatypeValue(const std::string& v)
{
    if (auto date = parseDate(v)) {
        return *date;
    }
    throw ValueError("not a stored date: \"" + v + "\"");
}

Uuid ValueTraits<Uuid>::fromDatatypeValue(const std::string& v)
{
    if (auto uuid = Uuid::parse(v)) {
        return *uuid;
    }
    throw ValueError("not a UUID: \"" + v + "\"");
}

Url ValueTraits<Url>::fromDatatypeValue(const std::string& v)
{
    if (auto url = Url::parse(v)) {
        return *url;
    }
    throw ValueError("not a URL: \"" + v + "\"");
}

} // namespace sqlite
