#pragma once

// The one conversion of an SQLite value into a `Binding`, shared by statement rows, the row iterator and the
// arguments of registered functions. For this library's own sources only: it includes <sqlite3.h>.

#include "sqlite/Fatal.h"
#include "sqlite/Value.h"

#include <new>
#include <optional>
#include <sqlite3.h>
#include <string>

namespace sqlite::detail {

/// Makes `slot` the value by its storage class: none for NULL; texts and blobs with every byte. The storage of a
/// slot that already holds a text or a blob is reused. Throws std::bad_alloc when SQLite cannot produce a text
/// (it answers a null pointer only when out of memory), rather than reading it as "".
inline void readStoredValue(sqlite3_value* value, std::optional<Binding>& slot)
{
    switch (const int type = sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
        slot.emplace(static_cast<std::int64_t>(sqlite3_value_int64(value)));
        return;
    case SQLITE_FLOAT:
        slot.emplace(sqlite3_value_double(value));
        return;
    case SQLITE_TEXT: {
        // The pointer first, then the length in bytes: asking for the length first could convert twice.
        const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
        if (text == nullptr) {
            throw std::bad_alloc();
        }
        const auto length = static_cast<std::size_t>(sqlite3_value_bytes(value));
        if (std::string* kept = slot ? std::get_if<std::string>(&*slot) : nullptr) {
            kept->assign(text, length);
        } else {
            slot.emplace(std::string(text, length));
        }
        return;
    }
    case SQLITE_BLOB: {
        // A zero-length blob has a null pointer.
        const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_value_blob(value));
        const std::size_t length = bytes == nullptr ? 0 : static_cast<std::size_t>(sqlite3_value_bytes(value));
        if (Blob* kept = slot ? std::get_if<Blob>(&*slot) : nullptr) {
            kept->bytes.assign(bytes, bytes + length);
        } else {
            slot.emplace(Blob(bytes, length));
        }
        return;
    }
    case SQLITE_NULL:
        slot.reset();
        return;
    default:
        SQLITE_FATAL("SQLite/Statement", "unsupported value type: " + std::to_string(type));
    }
}

inline std::optional<Binding> readStoredValue(sqlite3_value* value)
{
    std::optional<Binding> slot;
    readStoredValue(value, slot);
    return slot;
}

} // namespace sqlite::detail
