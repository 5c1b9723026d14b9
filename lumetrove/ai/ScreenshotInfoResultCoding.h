#pragma once

// The JSON form of an answer, apart from the answer itself: the views that show answers never see the JSON
// library.

#include "aiclient/Coding.h"
#include "lumetrove/ai/ScreenshotInfoResult.h"

namespace lumetrove {

/// Reads "name", "keywords", "description", then the two optional texts (absent or null gives none).
/// Throws aiclient::DecodingError.
void decodeValue(const aiclient::Decoder& decoder, ScreenshotInfoResult& value);
/// Writes "name", "keywords" (the raw text), "description", then the assistant fields that are present.
void to_json(aiclient::OrderedJson& json, const ScreenshotInfoResult& value);

} // namespace lumetrove
