// The values of qorpack's JSON: times at the edges of the calendar, and platform text that is UTF-8
// or not. (The Windows-1252 table is checked against Python's own in json_test.py.)
#include "tools/json_text.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t kSecond = 10000000;
constexpr std::uint64_t kUnixEpoch = 11644473600 * kSecond;  // 1970-01-01 as a Windows file time

TEST(JsonTime, IsIso8601UtcToTheSecond) {
  const struct {
    std::uint64_t fileTime;
    const char* json;
  } cases[] = {
      {0, "\"1601-01-01T00:00:00Z\""},
      {kUnixEpoch, "\"1970-01-01T00:00:00Z\""},
      {kUnixEpoch + 1700000000 * kSecond + kSecond - 1, "\"2023-11-14T22:13:20Z\""},  // the fraction is cut
      {kUnixEpoch + 951782400 * kSecond, "\"2000-02-29T00:00:00Z\""},   // a leap day of a 400th year
      {kUnixEpoch + 4107542400 * kSecond, "\"2100-03-01T00:00:00Z\""},  // 2100 has no 29 February
      {kUnixEpoch + 1709251199 * kSecond, "\"2024-02-29T23:59:59Z\""},
      {kUnixEpoch + 253402300799 * kSecond, "\"9999-12-31T23:59:59Z\""},
      {kUnixEpoch + 253402300800 * kSecond, "null"},  // the year 10000
      {~std::uint64_t{0}, "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonTime(c.fileTime), c.json) << c.fileTime;
}

TEST(JsonText, KeepsUtf8AndReadsOtherBytesAsWindows1252) {
  const struct {
    const char* text;
    const char* platform;
    const char* script;
  } cases[] = {
      {"plain \"quoted\" C:\\dir", "\"plain \\\"quoted\\\" C:\\\\dir\"", "\"plain \\\"quoted\\\" C:\\\\dir\""},
      {"tab\tline\n\x7f", "\"tab\\u0009line\\u000a\\u007f\"", "\"tab\\u0009line\\u000a\\u007f\""},
      {"\xc3\xbc" "ber", "\"\xc3\xbc" "ber\"", "\"\xc3\x83\xc2\xbc" "ber\""},         // UTF-8 u-umlaut
      {"\xe2\x82\xac", "\"\xe2\x82\xac\"", "\"\xc3\xa2\xe2\x80\x9a\xc2\xac\""},       // the euro sign in UTF-8
      {"\x80 \xfc", "\"\xe2\x82\xac \xc3\xbc\"", "\"\xe2\x82\xac \xc3\xbc\""},        // Windows-1252 bytes
      {"\xc2\x85", "\"\\u0085\"", "\"\xc3\x82\xe2\x80\xa6\""},                        // a C1 control in UTF-8
      {"\xc0\xaf \xed\xa0\x80", "\"\xc3\x80\xc2\xaf \xc3\xad\xc2\xa0\xe2\x82\xac\"",  // overlong, surrogate
       "\"\xc3\x80\xc2\xaf \xc3\xad\xc2\xa0\xe2\x82\xac\""},
      {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\"", "\"\xc3\xb0\xc5\xb8\xcb\x9c\xe2\x82\xac\""},  // beyond the BMP
      {"\xe2\x82", "\"\xc3\xa2\xe2\x80\x9a\"", "\"\xc3\xa2\xe2\x80\x9a\""},            // cut short
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JsonPlatformText(c.text), c.platform) << c.text;
    EXPECT_EQ(JsonScriptText(c.text), c.script) << c.text;
  }
}

}  // namespace
