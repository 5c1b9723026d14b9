#include "lumetrove/platform/TextRecognitionEngine.h"

#include <gtest/gtest.h>

namespace lumetrove::recognition {
namespace {

std::vector<ReadLine> linesReading(const QString& text)
{
    ReadLine line;
    line.line.text = text;
    return {line};
}

TEST(TextRecognitionEngineTest, AReadingAnIdleThreadMadeIsTakenOnceAndThoseUnwantedAreDroppedAndEnd)
{
    BlockQueue queue;
    queue.blocks = {TextBlock{QRect(0, 0, 40, 12), 12}};
    queue.lines.resize(1);
    queue.order = {0};
    queue.next = 1; // the block is taken: its thread is preparing it
    queue.others = std::vector<OtherReadings>(1);
    queue.prepared(0, BlockImage{});

    const std::optional<Errand> asItStands = queue.takeErrand();
    ASSERT_TRUE(asItStands);
    EXPECT_EQ(asItStands->work, nullptr);
    EXPECT_EQ(asItStands->kind, OtherReading::asItStands);
    queue.keepOtherReading(0, OtherReading::asItStands, linesReading(QStringLiteral("made ahead")));
    bool readAgain = false;
    const auto readHere = [&readAgain] {
        readAgain = true;
        return linesReading(QStringLiteral("read again"));
    };
    const std::vector<ReadLine> taken = queue.otherReading(0, OtherReading::asItStands, readHere);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken.front().line.text, QStringLiteral("made ahead"));
    EXPECT_FALSE(readAgain);

    // A reading under way when the block's thread has agreed on its lines gives up, and is dropped.
    const std::optional<Errand> rescaled = queue.takeErrand();
    ASSERT_TRUE(rescaled);
    EXPECT_EQ(rescaled->kind, OtherReading::rescaled);
    EXPECT_FALSE(queue.otherReadingUnwanted(0, OtherReading::rescaled));
    queue.finished(0);
    EXPECT_TRUE(queue.otherReadingUnwanted(0, OtherReading::rescaled));
    queue.keepOtherReading(0, OtherReading::rescaled, linesReading(QStringLiteral("too late")));
    EXPECT_TRUE(queue.others[0].lines[static_cast<size_t>(OtherReading::rescaled)].empty());

    queue.over(0);
    EXPECT_FALSE(queue.takeErrand()); // rather than waiting for work that cannot come
}

} // namespace
} // namespace lumetrove::recognition
