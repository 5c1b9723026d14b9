#pragma once

#include "aiclient/Coding.h"

#include <string>

namespace aiclient {

// The chat, streamed chat and text completion results open with the same five fields in the same order;
// each coder writes or reads them through these and adds its own fields after them.

/// Starts `json` as an object holding "id", "object", "created", "model" and "choices", in that order.
template <class R> void encodeResultHead(OrderedJson& json, const R& value)
{
    json = OrderedJson::object();
    json["id"] = value.id;
    json["object"] = value.object;
    json["created"] = encodeFloat(value.created, "created");
    json["model"] = value.model;
    json["choices"] = value.choices;
}

/// Reads "id", "object", "created", "model" and "choices" from `c` into `value`, in that order.
template <class R> void decodeResultHead(const KeyedContainer& c, R& value)
{
    value.id = c.decode<std::string>("id");
    value.object = c.decode<std::string>("object");
    value.created = c.decode<double>("created");
    value.model = c.decode<std::string>("model");
    value.choices = c.decode<decltype(value.choices)>("choices");
}

} // namespace aiclient
