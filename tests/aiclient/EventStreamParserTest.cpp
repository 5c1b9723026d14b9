#include "aiclient/EventStreamParser.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

using aiclient::EventStreamParser;

namespace {

/// Collects what a stream consumer would see, treating a piece as usable when it parses as a JSON object.
struct Collector {
    std::vector<std::string> chunks;
    std::vector<std::string> failures;

    EventStreamParser::PieceHandler handler()
    {
        return [this](const std::string& piece, bool isLast) {
            auto json = nlohmann::json::parse(piece, nullptr, false);
            if (!json.is_discarded() && json.is_object()) {
                chunks.push_back(json.dump());
                return EventStreamParser::PieceOutcome::used;
            }
            if (isLast) {
                return EventStreamParser::PieceOutcome::awaitingMore;
            }
            failures.push_back(piece);
            return EventStreamParser::PieceOutcome::used;
        };
    }
};

std::vector<std::string> feedAll(const std::vector<std::string>& deliveries,
                                 std::vector<std::string>* failures = nullptr)
{
    EventStreamParser parser;
    Collector collector;
    for (const auto& delivery : deliveries) {
        EXPECT_EQ(parser.feed(delivery, collector.handler()), EventStreamParser::FeedOutcome::processed);
    }
    EXPECT_EQ(parser.finish(collector.handler()), EventStreamParser::FeedOutcome::processed);
    if (failures) {
        *failures = collector.failures;
    }
    return collector.chunks;
}

const std::string eventA = R"({"id":"a","text":"héllo"})";
const std::string eventB = R"({"id":"b","text":"wörld 🌍"})";

} // namespace

TEST(EventStreamParser, TwoEventsInOneDeliveryAreReportedInOrder)
{
    EXPECT_EQ(feedAll({"data: " + eventA + "\n\ndata: " + eventB}),
              (std::vector<std::string>{nlohmann::json::parse(eventA).dump(), nlohmann::json::parse(eventB).dump()}));
}

TEST(EventStreamParser, DeliveryEndingInsideAnObjectIsCompletedByTheNext)
{
    EventStreamParser parser;
    Collector collector;
    parser.feed("data: " + eventA + "\n\ndata: {\"id\":\"b\",", collector.handler());
    ASSERT_EQ(collector.chunks.size(), 1u);
    EXPECT_EQ(parser.keptText(), "data: {\"id\":\"b\",");
    parser.feed("\"text\":\"x\"}\n\n", collector.handler());
    ASSERT_EQ(collector.chunks.size(), 2u);
    EXPECT_EQ(collector.chunks[1], R"({"id":"b","text":"x"})");
    EXPECT_TRUE(parser.keptText().empty());
}

TEST(EventStreamParser, DeliveryCutInsideTheWordDataStillDecodesBoth)
{
    EXPECT_EQ(feedAll({"data: " + eventA + "\n\nda", "ta: " + eventB + "\n\n"}).size(), 2u);
}

TEST(EventStreamParser, CompletionMarkerAloneReportsNothing)
{
    EXPECT_TRUE(feedAll({"data: [DONE]\n\n"}).empty());
}

TEST(EventStreamParser, DeliveryWhoseFirstPieceIsTheMarkerIsDroppedWhole)
{
    EXPECT_TRUE(feedAll({"data: [DONE]\n\ndata: " + eventA + "\n\n"}).empty());
}

TEST(EventStreamParser, UndecodableMiddlePieceIsReportedAndTheRestStillHandled)
{
    std::vector<std::string> failures;
    auto chunks = feedAll({"data: " + eventA + "\n\ndata: not json\n\ndata: " + eventB + "\n\n"}, &failures);
    EXPECT_EQ(chunks.size(), 2u);
    EXPECT_EQ(failures, std::vector<std::string>{"not json"});
}

TEST(EventStreamParser, DataInsideAChunkTextDoesNotCutIt)
{
    const std::string event = R"({"text":"see data: here\ndata: and here"})";
    EXPECT_EQ(feedAll({"data: " + event + "\n\n"}), std::vector<std::string>{nlohmann::json::parse(event).dump()});
}

TEST(EventStreamParser, InvalidUtf8IsRefusedAndKeepsTheEarlierText)
{
    EventStreamParser parser;
    Collector collector;
    parser.feed("data: {\"id\":", collector.handler());
    const std::string kept = parser.keptText();
    EXPECT_EQ(parser.feed("\xff\xfe", collector.handler()), EventStreamParser::FeedOutcome::invalidText);
    EXPECT_EQ(parser.keptText(), kept);
    parser.feed("\"z\"}\n\n", collector.handler());
    EXPECT_EQ(collector.chunks, std::vector<std::string>{R"({"id":"z"})"});
}

TEST(EventStreamParser, CharacterSplitBetweenDeliveriesIsKeptForTheNext)
{
    const std::string whole = "data: " + eventB + "\n\n";
    const size_t globe = whole.find("\xF0\x9F\x8C\x8D");
    ASSERT_NE(globe, std::string::npos);
    for (size_t cut = globe + 1; cut < globe + 4; ++cut) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(feedAll({whole.substr(0, cut), whole.substr(cut)}).size(), 1u);
    }
}

TEST(EventStreamParser, CharacterThatIsNeverFinishedDoesNotSpoilLaterDeliveries)
{
    struct Case {
        const char* name;
        std::string next;              // the delivery after the one that ends inside a character
        std::vector<std::string> used; // chunks used once the next delivery is fed
    };
    const std::string eventC = R"({"id":"c"})";
    for (const Case& c : {Case{"next delivery is sound on its own",
                               "data: " + eventB + "\n\n",
                               {nlohmann::json::parse(eventA).dump(), nlohmann::json::parse(eventB).dump()}},
                          Case{"next delivery continues the character, then breaks",
                               "\xAC\xFF",
                               {nlohmann::json::parse(eventA).dump()}}}) {
        SCOPED_TRACE(c.name);
        EventStreamParser parser;
        Collector collector;
        EXPECT_EQ(parser.feed("data: " + eventA + "\n\n\xE2\x82", collector.handler()),
                  EventStreamParser::FeedOutcome::processed);
        EXPECT_EQ(parser.feed(c.next, collector.handler()), EventStreamParser::FeedOutcome::invalidText);
        EXPECT_EQ(collector.chunks, c.used);
        EXPECT_TRUE(parser.keptBytes().empty());
        // The stream goes on: later deliveries are used again.
        EXPECT_EQ(parser.feed("data: " + eventC + "\n\n", collector.handler()),
                  EventStreamParser::FeedOutcome::processed);
        EXPECT_EQ(collector.chunks.back(), eventC);
        EXPECT_EQ(parser.finish(collector.handler()), EventStreamParser::FeedOutcome::processed);
    }
}

TEST(EventStreamParser, UnfinishedTailIsReportedWhenTheStreamEnds)
{
    EventStreamParser parser;
    Collector collector;
    parser.feed("data: " + eventA + "\n\ndata: {\"id\":", collector.handler());
    EXPECT_TRUE(collector.failures.empty());
    EXPECT_EQ(parser.finish(collector.handler()), EventStreamParser::FeedOutcome::processed);
    EXPECT_EQ(collector.failures, std::vector<std::string>{"{\"id\":"});
    EXPECT_TRUE(parser.keptText().empty());
}

TEST(EventStreamParser, StreamEndingInsideACharacterIsInvalidAtTheEnd)
{
    EventStreamParser parser;
    Collector collector;
    EXPECT_EQ(parser.feed("data: " + eventA + "\n\n\xE2\x82", collector.handler()),
              EventStreamParser::FeedOutcome::processed);
    EXPECT_EQ(parser.finish(collector.handler()), EventStreamParser::FeedOutcome::invalidText);
}

TEST(EventStreamParser, RandomSplitsGiveTheSameChunksAsOneDelivery)
{
    std::string stream;
    std::vector<std::string> expected;
    for (int i = 0; i < 40; ++i) {
        nlohmann::json event = {{"index", i}, {"text", "naïve data: 日本語 " + std::to_string(i) + " 🙂"}};
        expected.push_back(event.dump());
        stream += "data: " + event.dump() + (i % 3 == 0 ? "\r\n\r\n" : "\n\n");
    }
    stream += "data: [DONE]\n\n";

    std::mt19937 random(20240601);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::string> deliveries;
        size_t position = 0;
        while (position < stream.size()) {
            const size_t length = std::uniform_int_distribution<size_t>(1, 40)(random);
            deliveries.push_back(stream.substr(position, length));
            position += length;
        }
        std::vector<std::string> failures;
        ASSERT_EQ(feedAll(deliveries, &failures), expected) << "round " << round;
        ASSERT_TRUE(failures.empty()) << "round " << round;
    }
}

TEST(EventStreamParser, CommentLinesCarryNoDataWhereverTheDeliveriesAreCut)
{
    const std::string a = nlohmann::json::parse(eventA).dump();
    const std::string b = nlohmann::json::parse(eventB).dump();
    const std::vector<std::string> streams = {
        "data: " + eventA + "\n\n: keep-alive\n\ndata: " + eventB + "\n\n",
        ": hello\n\ndata: " + eventA + "\r\n\r\n:\r\n\r\ndata: " + eventB + "\n\n: bye\n",
        "data: " + eventA + "\n: keep-alive\ndata: " + eventB + "\n\n:data: " + eventA + "\n\n",
    };
    for (const std::string& stream : streams) {
        SCOPED_TRACE(stream);
        EXPECT_EQ(feedAll({stream}), (std::vector<std::string>{a, b}));
        // Every cut into two deliveries, including inside the comment and right after its colon.
        for (size_t cut = 1; cut < stream.size(); ++cut) {
            std::vector<std::string> failures;
            ASSERT_EQ(feedAll({stream.substr(0, cut), stream.substr(cut)}, &failures), (std::vector<std::string>{a, b}))
                << "cut at " << cut;
            ASSERT_TRUE(failures.empty()) << "cut at " << cut;
        }
    }
}
