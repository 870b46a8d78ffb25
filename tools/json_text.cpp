// JSON strings and times for qorpack's --json outputs.
#include "tools/json_text.h"

#include <cstdio>

namespace {

// Windows-1252's characters for the bytes 80-9F, where it differs from Latin-1; the undefined bytes
// keep their own value, as Windows' conversion gives them. From A0 on a byte is its own code point.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::uint32_t FromWindows1252(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte;
}

// Appends a code point of the Basic Multilingual Plane or above: control characters (C0, DEL and
// C1) as \u escapes, quote and backslash escaped, everything else as UTF-8.
void AppendCodePoint(std::string& out, std::uint32_t c) {
  if (c == '"' || c == '\\') {
    out += '\\';
    out += static_cast<char>(c);
  } else if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
    out += escaped;
  } else if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The length of the well-formed UTF-8 sequence at `at` and its code point; 0 when there is none
// (an overlong form, a surrogate, past U+10FFFF, or cut short).
std::size_t Utf8Sequence(const std::string& text, std::size_t at, std::uint32_t& c) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  std::uint32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, least = 0x80, c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, least = 0x800, c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, least = 0x10000, c = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    c = (c << 6) | (next & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string JsonScriptText(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) AppendCodePoint(out, FromWindows1252(static_cast<unsigned char>(c)));
  return out + "\"";
}

std::string JsonPlatformText(const std::string& text) {
  std::string out = "\"";
  for (std::size_t at = 0; at < text.size();) {
    std::uint32_t c = 0;
    if (const std::size_t length = Utf8Sequence(text, at, c)) {
      AppendCodePoint(out, c);
      at += length;
    } else {
      AppendCodePoint(out, FromWindows1252(static_cast<unsigned char>(text[at])));
      ++at;
    }
  }
  return out + "\"";
}

std::string JsonTime(std::uint64_t fileTime) {
  const std::uint64_t seconds = fileTime / 10000000;
  // Days since 1601-01-01, counted in 400-year cycles of 146097 days from there (1601 starts one).
  std::uint64_t days = seconds / 86400;
  const std::uint64_t second = seconds % 86400;
  std::uint64_t year = 1601 + 400 * (days / 146097);
  days %= 146097;
  const auto isLeap = [](std::uint64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
  for (;;) {
    const std::uint64_t length = isLeap(year) ? 366 : 365;
    if (days < length) break;
    days -= length;
    ++year;
  }
  if (year > 9999) return "null";
  static const int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0;
  for (; month < 11; ++month) {
    const std::uint64_t length = kMonthDays[month] + (month == 1 && isLeap(year) ? 1 : 0);
    if (days < length) break;
    days -= length;
  }
  char text[40];
  std::snprintf(text, sizeof text, "\"%04u-%02d-%02uT%02u:%02u:%02uZ\"", static_cast<unsigned>(year), month + 1,
                static_cast<unsigned>(days + 1), static_cast<unsigned>(second / 3600),
                static_cast<unsigned>(second / 60 % 60), static_cast<unsigned>(second % 60));
  return text;
}
