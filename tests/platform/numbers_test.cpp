#include "platform/numbers.h"

#include <gtest/gtest.h>

#include "platform/json_text.h"

using namespace qlcore;

TEST(Numbers, RoundHalfEven) {
    EXPECT_EQ(round_half_even(2.5), 2);
    EXPECT_EQ(round_half_even(3.5), 4);
    EXPECT_EQ(round_half_even(-2.5), -2);
    EXPECT_EQ(round_half_even(4.5), 4);
    EXPECT_EQ(round_half_even(5.5), 6);
    EXPECT_EQ(round_half_even(2.4999999), 2);
    EXPECT_EQ(round_half_even(1080.44), 1080);
    EXPECT_EQ(round_half_even(44.955), 45);
}

TEST(Numbers, RoundPlacesUsesTheExactBinaryValue) {
    // 0.0005 is stored slightly above 5e-4, so it rounds up; 2.675 is stored
    // slightly below, so it rounds down.
    EXPECT_EQ(round_places(0.0005, 3), 0.001);
    EXPECT_EQ(round_places(2.675, 2), 2.67);
    // Exact ties go to the even digit.
    EXPECT_EQ(round_places(0.125, 2), 0.12);
    EXPECT_EQ(round_places(0.375, 2), 0.38);
    EXPECT_EQ(round_places(0.4, 3), 0.4);
    EXPECT_EQ(round_places(-1.25, 1), -1.2);
    EXPECT_EQ(round_places(123.45678, 1), 123.5);
}

TEST(Numbers, ShortestFormReadsBack) {
    EXPECT_EQ(shortest(0.35), "0.35");
    EXPECT_EQ(shortest(2.0), "2.0");
    EXPECT_EQ(shortest(1.5), "1.5");
    EXPECT_EQ(shortest(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(shortest(static_cast<double>(0.433f)), "0.43299999833106995");
}

TEST(Numbers, StrictParsers) {
    EXPECT_EQ(parse_double("0.5"), 0.5);
    EXPECT_EQ(parse_double("-1e3"), -1000.0);
    EXPECT_EQ(parse_double(".5"), 0.5);
    EXPECT_FALSE(parse_double("abc"));
    EXPECT_FALSE(parse_double(""));
    EXPECT_FALSE(parse_double("1.5x"));
    EXPECT_FALSE(parse_double("nan"));
    EXPECT_FALSE(parse_double("1e999"));
    EXPECT_EQ(parse_int("1234"), 1234);
    EXPECT_FALSE(parse_int("N/A"));
    EXPECT_FALSE(parse_int("12.0"));
    EXPECT_FALSE(parse_int("99999999999999999999"));
    EXPECT_EQ(trim(" \t a b \r\n"), "a b");
}

TEST(JsonText, ThreeLayoutsArePureAscii) {
    json j = json::object();
    j["name"] = "Zoë 😀";
    j["v"] = json::array({1, 0.5, nullptr});
    j["empty"] = json::object();
    EXPECT_EQ(dump_inline(j),
              "{\"name\": \"Zo\\u00eb \\ud83d\\ude00\", \"v\": [1, 0.5, null], \"empty\": {}}");
    EXPECT_EQ(dump_compact(j),
              "{\"name\":\"Zo\\u00eb \\ud83d\\ude00\",\"v\":[1,0.5,null],\"empty\":{}}");
    EXPECT_EQ(dump_indented(j),
              "{\n \"name\": \"Zo\\u00eb \\ud83d\\ude00\",\n \"v\": [\n  1,\n  0.5,\n  null\n ],\n"
              " \"empty\": {}\n}");
}

TEST(JsonText, DoublesAndIntegers) {
    json j = json::array({1.0, 3, 0.1, 1e-05, 1e22, static_cast<double>(0.1f)});
    EXPECT_EQ(dump_compact(j), "[1.0,3,0.1,1e-05,1e+22,0.10000000149011612]");
}

TEST(JsonText, HostileInputIsRefusedNotCrashed) {
    EXPECT_THROW(parse_json("{\"a\": "), json::parse_error);
    std::string deep(100000, '[');
    EXPECT_ANY_THROW(parse_json(deep + std::string(100000, ']')));
    EXPECT_EQ(parse_json("{\"keep\": [1, 2]}")["keep"].size(), 2u);
}
