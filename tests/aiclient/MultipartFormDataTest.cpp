#include "aiclient/MultipartFormData.h"

#include <gtest/gtest.h>
#include <regex>
#include <set>

using namespace aiclient;

TEST(MultipartFormDataBodyBuilder, EmptyOrSilentEntriesGiveOnlyTheClosingLine)
{
    EXPECT_EQ(MultipartFormDataBodyBuilder("B", {}).build(), "--B--\r\n");
    EXPECT_EQ(MultipartFormDataBodyBuilder(
                  "B", {MultipartFormDataEntry::string("a", std::nullopt),
                        MultipartFormDataEntry::file("f", std::nullopt, std::string("d"), "image/png"),
                        MultipartFormDataEntry::file("f", std::string("n.png"), std::nullopt, "image/png")})
                  .build(),
              "--B--\r\n");
}

TEST(MultipartFormDataBodyBuilder, EntriesAreWrittenInOrder)
{
    const std::string bytes("\x89\x00\xff", 3);
    const std::string body =
        MultipartFormDataBodyBuilder(
            "B",
            {MultipartFormDataEntry::string("n", std::int64_t{2}), MultipartFormDataEntry::string("skip", std::nullopt),
             MultipartFormDataEntry::file("image", std::string("image.png"), bytes, "image/png"),
             MultipartFormDataEntry::string("t", 0.25)})
            .build();
    EXPECT_EQ(body, "--B\r\nContent-Disposition: form-data; name=\"n\"\r\n\r\n2\r\n"
                    "--B\r\nContent-Disposition: form-data; name=\"image\"; filename=\"image.png\"\r\n"
                    "Content-Type: image/png\r\n\r\n" +
                        bytes +
                        "\r\n"
                        "--B\r\nContent-Disposition: form-data; name=\"t\"\r\n\r\n0.25\r\n"
                        "--B--\r\n");
}

TEST(MultipartFormDataBodyBuilder, NamesCannotBreakThePartHeader)
{
    const std::string body =
        MultipartFormDataBodyBuilder("B", {MultipartFormDataEntry::file("a\"b\r\nX-Evil: 1", std::string("c\".png\n"),
                                                                        std::string("d"), "image/png\r\nX: y")})
            .build();
    EXPECT_EQ(body, "--B\r\nContent-Disposition: form-data; name=\"a%22bX-Evil: 1\"; filename=\"c%22.png\"\r\n"
                    "Content-Type: image/pngX: y\r\n\r\nd\r\n--B--\r\n");
}

TEST(MultipartFormDataBoundary, IsAFreshUpperCaseUuid)
{
    const std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string boundary = makeBoundary();
        EXPECT_TRUE(std::regex_match(boundary, uuid)) << boundary;
        seen.insert(boundary);
    }
    EXPECT_EQ(seen.size(), 100u);
}
