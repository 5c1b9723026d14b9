#pragma once

#include <any>
#include <concepts>
#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sqlite {

/// What a caller hands to a record's own encode or decode function; the coders pass it on and never read it.
using UserInfo = std::map<std::string, std::any, std::less<>>;

class Encoder;
class Decoder;

/// Any record that encodes itself, seen through its encode member (`void encode(Encoder&) const`), without
/// copying it. Made implicitly from the record by "sqlite/Coding.h"; refers to the record, so it must not
/// outlive it.
class EncodableRef {
public:
    template <class T>
    requires requires(const T& record, Encoder& encoder) { record.encode(encoder); }
    EncodableRef(const T& record)
        : record_(&record), encode_([](const void* r, Encoder& encoder) { static_cast<const T*>(r)->encode(encoder); })
    {}

    void encode(Encoder& encoder) const { encode_(record_, encoder); }

private:
    const void* record_;
    void (*encode_)(const void*, Encoder&);
};

/// A list of records that encode themselves, seen through their encode members without copying them.
class EncodableList {
public:
    template <class T>
    requires std::constructible_from<EncodableRef, const T&> EncodableList(const std::vector<T>& records)
        : records_(records.data()), size_(records.size()),
          encodeAt_([](const void* r, std::size_t i, Encoder& encoder) {
              EncodableRef(static_cast<const T*>(r)[i]).encode(encoder);
          })
    {}

    std::size_t size() const { return size_; }
    void encode(std::size_t index, Encoder& encoder) const { encodeAt_(records_, index, encoder); }

private:
    const void* records_;
    std::size_t size_;
    void (*encodeAt_)(const void*, std::size_t, Encoder&);
};

} // namespace sqlite
