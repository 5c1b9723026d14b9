#pragma once

// Multipart form bodies for the upload operations: entries, the body builder, and the protocol of queries
// that encode themselves as such a body.

#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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
        /// The raw bytes; they stay valid as long as the entry (or a copy of it) lives, or, for an entry made by
        /// `fileReference`, as long as the caller's bytes do.
        std::optional<std::string_view> fileData;
        std::string contentType;
        /// Keeps the bytes that `file` took over; copies share them.
        std::shared_ptr<const std::string> ownedData;
    };
    /// A plain field. Left out of the body when the value is absent.
    struct String {
        std::string paramName;
        std::optional<MultipartFormValue> value;
    };

    /// A file part that keeps its bytes.
    static MultipartFormDataEntry file(std::string paramName, std::optional<std::string> fileName,
                                       std::optional<std::string> fileData, std::string contentType);
    /// A file part that refers to the caller's bytes instead of copying them, for uploads of many megabytes; the
    /// bytes must outlive the entry and every body built from it.
    static MultipartFormDataEntry fileReference(std::string paramName, std::optional<std::string> fileName,
                                                const std::optional<std::string>& fileData, std::string contentType);
    /// The same for bytes that are always present.
    static MultipartFormDataEntry fileReference(std::string paramName, std::optional<std::string> fileName,
                                                const std::string& fileData, std::string contentType);
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
    /// returns and line feeds are left out. A text value is written as it is, an integer in decimal, a float in
    /// its shortest form with at least one digit after the point (0.0, 0.25), a Boolean as true or false.
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

/// A query value with its own `encode(boundary)`; the upload queries are plain values of this kind.
template <class Query>
concept MultipartFormDataQuery = requires(const Query& query, const std::string& boundary)
{
    {
        query.encode(boundary)
        } -> std::same_as<std::string>;
};

/// Lends a query value to a request as its body without copying it: the query must outlive the request's
/// building.
template <MultipartFormDataQuery Query> class MultipartFormDataBodyOf final : public MultipartFormDataBodyEncodable {
public:
    explicit MultipartFormDataBodyOf(const Query& query) : query_(&query) {}
    std::string encode(const std::string& boundary) const override { return query_->encode(boundary); }

private:
    const Query* query_;
};

/// A fresh random UUID in upper-case canonical form (8-4-4-4-12 hexadecimal digits), used as a boundary.
std::string makeBoundary();

} // namespace aiclient
