#pragma once

// Multipart form bodies for the upload operations: entries, the body builder, and the protocol of queries
// that encode themselves as such a body.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace aiclient {

/// The value of a plain form field: text, or a number written in its usual decimal form.
using MultipartFormValue = std::variant<std::string, std::int64_t, double, bool>;

/// One part of a multipart body.
class MultipartFormDataEntry {
public:
    /// A file part. Left out of the body when the file name or the data is absent.
    struct File {
        std::string paramName;
        std::optional<std::string> fileName;
        std::optional<std::string> fileData; ///< raw bytes
        std::string contentType;
    };
    /// A plain field. Left out of the body when the value is absent.
    struct String {
        std::string paramName;
        std::optional<MultipartFormValue> value;
    };

    static MultipartFormDataEntry file(std::string paramName, std::optional<std::string> fileName,
                                       std::optional<std::string> fileData, std::string contentType);
    static MultipartFormDataEntry string(std::string paramName, std::optional<MultipartFormValue> value);

    const std::variant<File, String>& payload() const { return payload_; }

private:
    explicit MultipartFormDataEntry(std::variant<File, String> payload) : payload_(std::move(payload)) {}
    std::variant<File, String> payload_;
};

/// Assembles a multipart body in memory from its entries, in order.
class MultipartFormDataBodyBuilder {
public:
    MultipartFormDataBodyBuilder(std::string boundary, std::vector<MultipartFormDataEntry> entries);

    const std::string& boundary() const { return boundary_; }
    const std::vector<MultipartFormDataEntry>& entries() const { return entries_; }

    /// The whole body: every entry that has something to send, then the closing boundary line. Never fails.
    /// Names and file names cannot break their part's header: a double quote is sent as "%22", and carriage
    /// returns and line feeds are left out.
    std::string build() const;

private:
    std::string boundary_;
    std::vector<MultipartFormDataEntry> entries_;
};

/// A query that can write itself as a multipart body with a given boundary.
class MultipartFormDataBodyEncodable {
public:
    virtual ~MultipartFormDataBodyEncodable() = default;
    virtual std::string encode(const std::string& boundary) const = 0;
};

/// A fresh random UUID in upper-case canonical form (8-4-4-4-12 hexadecimal digits), used as a boundary.
std::string makeBoundary();

} // namespace aiclient
