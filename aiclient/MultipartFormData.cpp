#include "aiclient/MultipartFormData.h"

#include "aiclient/Coding.h"

#include <array>
#include <cstdio>
#include <random>

namespace aiclient {

MultipartFormDataEntry MultipartFormDataEntry::file(std::string paramName, std::optional<std::string> fileName,
                                                    std::optional<std::string> fileData, std::string contentType)
{
    std::shared_ptr<const std::string> owned;
    std::optional<std::string_view> view;
    if (fileData) {
        owned = std::make_shared<const std::string>(std::move(*fileData));
        view = *owned;
    }
    return MultipartFormDataEntry(
        File{std::move(paramName), std::move(fileName), view, std::move(contentType), std::move(owned)});
}

MultipartFormDataEntry MultipartFormDataEntry::fileReference(std::string paramName, std::optional<std::string> fileName,
                                                             const std::optional<std::string>& fileData,
                                                             std::string contentType)
{
    std::optional<std::string_view> view;
    if (fileData) {
        view = *fileData;
    }
    return MultipartFormDataEntry(File{std::move(paramName), std::move(fileName), view, std::move(contentType), {}});
}

MultipartFormDataEntry MultipartFormDataEntry::fileReference(std::string paramName, std::optional<std::string> fileName,
                                                             const std::string& fileData, std::string contentType)
{
    return MultipartFormDataEntry(
        File{std::move(paramName), std::move(fileName), std::string_view(fileData), std::move(contentType), {}});
}

MultipartFormDataEntry MultipartFormDataEntry::string(std::string paramName, std::optional<MultipartFormValue> value)
{
    return MultipartFormDataEntry(String{std::move(paramName), std::move(value)});
}

MultipartFormDataBodyBuilder::MultipartFormDataBodyBuilder(std::string boundary,
                                                           std::vector<MultipartFormDataEntry> entries)
    : boundary_(std::move(boundary)), entries_(std::move(entries))
{}

namespace {

constexpr const char* crlf = "\r\n";

/// Text placed inside a quoted header parameter: a quote would end it early and a line break would start
/// a new header line, so quotes are percent-escaped and line breaks dropped.
std::string quotedParameter(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char c : text) {
        if (c == '"') {
            out += "%22";
        } else if (c != '\r' && c != '\n') {
            out += c;
        }
    }
    out += '"';
    return out;
}

std::string withoutLineBreaks(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c != '\r' && c != '\n') {
            out += c;
        }
    }
    return out;
}

std::string formValueText(const MultipartFormValue& value)
{
    struct Visitor {
        std::string operator()(const std::string& text) const { return text; }
        std::string operator()(std::int64_t number) const { return std::to_string(number); }
        std::string operator()(bool flag) const { return flag ? "true" : "false"; }
        std::string operator()(double number) const { return shortestDecimalText(number); }
    };
    return std::visit(Visitor{}, value);
}

/// One part of the body: its head, and as content either a field's text or a file's bytes (not copied).
struct Part {
    std::string head;
    std::string text;
    std::optional<std::string_view> bytes;

    std::string_view content() const { return bytes ? *bytes : std::string_view(text); }
};

/// The part of an entry, or none when the entry sends nothing.
std::optional<Part> makePart(const MultipartFormDataEntry& entry, const std::string& boundary)
{
    if (const auto* field = std::get_if<MultipartFormDataEntry::String>(&entry.payload())) {
        if (!field->value) {
            return std::nullopt;
        }
        return Part{"--" + boundary + crlf +
                        "Content-Disposition: form-data; name=" + quotedParameter(field->paramName) + crlf + crlf,
                    formValueText(*field->value), std::nullopt};
    }
    const auto& file = std::get<MultipartFormDataEntry::File>(entry.payload());
    if (!file.fileName || !file.fileData) {
        return std::nullopt;
    }
    return Part{"--" + boundary + crlf + "Content-Disposition: form-data; name=" + quotedParameter(file.paramName) +
                    "; filename=" + quotedParameter(*file.fileName) + crlf +
                    "Content-Type: " + withoutLineBreaks(file.contentType) + crlf + crlf,
                {},
                file.fileData};
}

} // namespace

std::string MultipartFormDataBodyBuilder::build() const
{
    // Parts first, so that the body is allocated once and every file's bytes are copied exactly once.
    std::vector<Part> parts;
    parts.reserve(entries_.size());
    const std::string closing = "--" + boundary_ + "--" + crlf;
    std::size_t size = closing.size();
    for (const auto& entry : entries_) {
        if (std::optional<Part> part = makePart(entry, boundary_)) {
            size += part->head.size() + part->content().size() + 2;
            parts.push_back(std::move(*part));
        }
    }
    std::string body;
    body.reserve(size);
    for (const Part& part : parts) {
        body += part.head;
        body += part.content();
        body += crlf;
    }
    body += closing;
    return body;
}

std::string makeBoundary()
{
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::array<unsigned char, 16> bytes{};
    for (size_t i = 0; i < bytes.size(); i += 8) {
        std::uint64_t word = generator();
        for (size_t j = 0; j < 8; ++j) {
            bytes[i + j] = static_cast<unsigned char>(word >> (8 * j));
        }
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80); // RFC variant
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
                  bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return std::string(text, 36);
}

} // namespace aiclient
