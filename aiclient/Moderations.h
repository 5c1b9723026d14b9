#pragma once

// The moderations operation: a text classified against eleven content categories.

#include "aiclient/Coding.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace aiclient {

struct ModerationsQuery {
    std::string input{};
    /// "text-moderation-stable", "text-moderation-latest", "text-moderation-007", or any other text unchanged.
    std::optional<std::string> model{};
};

struct ModerationsResult {
    struct Moderation {
        /// The JSON keys of the eleven categories, in the order of the fields of `Categories` and `CategoryScores`.
        enum class CodingKeys {
            harassment,
            harassmentThreatening,
            hate,
            hateThreatening,
            selfHarm,
            selfHarmIntent,
            selfHarmInstructions,
            sexual,
            sexualMinors,
            violence,
            violenceGraphic
        };

        /// The same eleven fields holding `T`: a flag per category, or a score per category. A walk over it
        /// (`begin`/`end`) yields (key, value) pairs in the categories' order.
        template <class T> struct PerCategory {
            T harassment{};
            T harassmentThreatening{};
            T hate{};
            T hateThreatening{};
            T selfHarm{};
            T selfHarmIntent{};
            T selfHarmInstructions{};
            T sexual{};
            T sexualMinors{};
            T violence{};
            T violenceGraphic{};

            using Pair = std::pair<std::string, T>;

            /// The eleven pairs as the values stand now.
            std::vector<Pair> pairs() const;
            /// Each walk starts from a fresh list of the current values.
            class Walk {
            public:
                explicit Walk(std::vector<Pair> pairs) : pairs_(std::move(pairs)) {}
                typename std::vector<Pair>::const_iterator begin() const { return pairs_.begin(); }
                typename std::vector<Pair>::const_iterator end() const { return pairs_.end(); }

            private:
                std::vector<Pair> pairs_;
            };
            Walk walk() const { return Walk(pairs()); }

            /// Flags equal as Booleans, scores as floating-point numbers (0 equals -0, NaN equals nothing).
            friend bool operator==(const PerCategory&, const PerCategory&) = default;

        private:
            std::array<const T*, 11> fields() const
            {
                return {&harassment,     &harassmentThreatening, &hate,   &hateThreatening, &selfHarm,
                        &selfHarmIntent, &selfHarmInstructions,  &sexual, &sexualMinors,    &violence,
                        &violenceGraphic};
            }
        };

        using Categories = PerCategory<bool>;
        using CategoryScores = PerCategory<double>;

        Categories categories{};
        CategoryScores categoryScores{};
        bool flagged = false;

        friend bool operator==(const Moderation&, const Moderation&) = default;
    };

    std::string id{};
    std::string model{};
    std::vector<Moderation> results{};

    friend bool operator==(const ModerationsResult& a, const ModerationsResult& b)
    {
        return same(a.id, b.id) && same(a.model, b.model) && a.results == b.results;
    }
};

template <> struct RawValueTraits<ModerationsResult::Moderation::CodingKeys> {
    static constexpr std::string_view type = "CodingKeys";
    static constexpr std::array<std::string_view, 11> rawValues{
        "harassment",       "harassment/threatening", "hate",   "hate/threatening", "self-harm",
        "self-harm/intent", "self-harm/instructions", "sexual", "sexual/minors",    "violence",
        "violence/graphic"};
};

template <class T>
std::vector<typename ModerationsResult::Moderation::PerCategory<T>::Pair>
ModerationsResult::Moderation::PerCategory<T>::pairs() const
{
    const auto& keys = RawValueTraits<CodingKeys>::rawValues;
    const auto values = fields();
    std::vector<Pair> result;
    result.reserve(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i)
        result.emplace_back(std::string(keys[i]), *values[i]);
    return result;
}

void to_json(OrderedJson& json, const ModerationsQuery& value);
void to_json(OrderedJson& json, const ModerationsResult& value);
void to_json(OrderedJson& json, const ModerationsResult::Moderation& value);
void to_json(OrderedJson& json, const ModerationsResult::Moderation::Categories& value);
void to_json(OrderedJson& json, const ModerationsResult::Moderation::CategoryScores& value);

void decodeValue(const Decoder& decoder, ModerationsQuery& value);
void decodeValue(const Decoder& decoder, ModerationsResult& value);
void decodeValue(const Decoder& decoder, ModerationsResult::Moderation& value);
void decodeValue(const Decoder& decoder, ModerationsResult::Moderation::Categories& value);
void decodeValue(const Decoder& decoder, ModerationsResult::Moderation::CategoryScores& value);

} // namespace aiclient
