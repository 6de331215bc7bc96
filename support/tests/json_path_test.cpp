#include "support/json_path.h"

#include <functional>

#include <gtest/gtest.h>

namespace support {
namespace {

// The message a read gives, or "" when it reads.
std::string ErrorOf(const std::function<void()>& read) {
  try {
    read();
  } catch (const PathError& e) {
    return e.what();
  }
  return "";
}

TEST(JsonPath, NumbersAsTheSiteFileAndTheSimulatorTakeThem) {
  const auto kText = NumberText::kAccepted, kJson = NumberText::kRefused;
  struct Case {
    Json::Value value;
    NumberText text;
    const char* number;  // error of Number, "" when it reads
    const char* whole;   // error of Whole in 0..100
  };
  const Case cases[] = {
      {7, kJson, "", ""},
      {"7", kText, "", ""},
      {"7", kJson, "x: must be a number, got \"7\"",
       "x: must be a whole number in 0..100, got \"7\""},
      {"7x", kText, "x: must be a number, got \"7x\"", "x: must be a number, got \"7x\""},
      {"inf", kText, "x: must be a number, got \"inf\"", "x: must be a number, got \"inf\""},
      {true, kJson, "x: must be a number, got true",
       "x: must be a whole number in 0..100, got true"},
      {true, kText, "x: must be a number, got true", "x: must be a number, got true"},
      {Json::Value(), kJson, "x: must be a number, got null",
       "x: must be a whole number in 0..100, got null"},
      {2.5, kText, "", "x: must be a whole number in 0..100, got 2.5"},
      {101, kJson, "", "x: must be a whole number in 0..100, got 101"},
      {Json::Value(Json::arrayValue), kJson, "x: must be a number, got an array",
       "x: must be a whole number in 0..100, got an array"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Describe(c.value) + (c.text == kText ? " as text allowed" : " as JSON"));
    EXPECT_EQ(ErrorOf([&] { Number(c.value, "x", c.text); }), c.number);
    EXPECT_EQ(ErrorOf([&] { Whole(c.value, "x", 0, 100, c.text); }), c.whole);
  }
  EXPECT_EQ(Whole("42", "x", 0, 100, kText), 42);
  EXPECT_DOUBLE_EQ(Number("-1.5e1", "x", kText), -15.0);
}

TEST(JsonPath, UnknownKeysAreNamedWithTheirPathBeforeAnyIsRead) {
  Json::Value object(Json::objectValue);
  object["hgih"] = 2;
  EXPECT_EQ(ErrorOf([&] {
              Object(object, Item("devices", 1), {"low", "high"});
            }),
            "devices[1].hgih: unknown key");
  EXPECT_EQ(Object(object, "", {"hgih"}).Where("low"), "low");
}

}  // namespace
}  // namespace support
