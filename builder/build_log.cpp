// Writing build-log lines, shortened to 259 characters when a path makes them too long.
#include "builder/build_log.h"

#include <cstring>

#include "script/printable.h"

namespace {

constexpr char kEllipsis[] = "...";

// The longest log line: 259 characters, as every text of the system.
constexpr std::size_t kLineCapacity = platform::kMaxPathLength;

// Moves a cut at `at` in `text` back to the start of the UTF-8 sequence it falls in, so that no
// character of a path is shown halved.
std::size_t CharacterStart(const char* text, std::size_t at) {
  std::size_t back = 0;
  while (back < 3 && at > back && (static_cast<unsigned char>(text[at - back]) & 0xC0) == 0x80) ++back;
  return (static_cast<unsigned char>(text[at - back]) & 0xC0) == 0xC0 ? at - back : at;
}

// Moves a cut at `at` in the `length` characters of `text` forward past the end of the UTF-8
// sequence it falls in: the other side of the same rule.
std::size_t CharacterEnd(const char* text, std::size_t at, std::size_t length) {
  if (CharacterStart(text, at) == at) return at;
  while (at < length && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  return at;
}

}  // namespace

// Only the builder's own formats come here, each with at most one "%s", so no text of the packing
// list is ever read as a format.
std::string FormatLogLine(const char* format, const char* argument) {
  const std::size_t capacity = kLineCapacity;
  char line[kLineCapacity + 1];
  const char* slot = argument != nullptr ? std::strstr(format, "%s") : nullptr;
  if (slot == nullptr) {
    std::size_t n = std::strlen(format);
    if (n > capacity) n = capacity;
    return std::string(format, n);
  }
  const std::size_t before = static_cast<std::size_t>(slot - format);
  const char* rest = slot + 2;
  const std::size_t after = std::strlen(rest);
  const std::size_t fixed = before + after;
  const std::size_t argumentLength = std::strlen(argument);
  // Every format of the builder is far below the capacity; one that is not keeps its argument's
  // end, which names the file, rather than cut the format.
  if (fixed + sizeof kEllipsis > capacity) return std::string(format, before) + argument + rest;
  std::size_t length = 0;
  auto put = [&](const char* text, std::size_t n) {
    std::memcpy(line + length, text, n);
    length += n;
  };
  put(format, before);
  if (fixed + argumentLength <= capacity) {
    put(argument, argumentLength);
  } else {
    // The start of a path names its place, the end its file: keep both.
    const std::size_t room = capacity - fixed - (sizeof kEllipsis - 1);
    const std::size_t head = CharacterStart(argument, room / 2);
    const std::size_t from = CharacterEnd(argument, argumentLength - (room - room / 2), argumentLength);
    put(argument, head);
    put(kEllipsis, sizeof kEllipsis - 1);
    put(argument + from, argumentLength - from);
  }
  put(rest, after);
  return std::string(line, length);
}

// "\logfile.txt" appended to the current directory names the same file as the relative name, and
// the relative name never outgrows a path buffer however deep the current directory lies.
const char kBuildLogName[] = "logfile.txt";
const char kRefusedBuildLogName[] = "logfile.refused.txt";

platform::Status SaveBuildLog(const BuildLog& log, const char* path) {
  // In the packing list's code page, as its names were: a path the code page cannot spell shows
  // "?" for the characters it lacks.
  const std::string text = platform::ToScriptText(log.text);
  const auto write = [&text](platform::File& file) -> platform::Status {
    if (text.empty()) return true;
    return platform::WriteFile(file, text.data(), static_cast<std::uint32_t>(text.size()));
  };
  // Moved into place whole, so the old log's file is never written into, and a link planted at its
  // name is replaced, never followed. Where that cannot be (a disk too full for a second copy, an
  // old log held open by a viewer), the log is written over, if it is a plain file of one name.
  platform::Replacement replacement;
  if (replacement.Begin(path, false) && write(replacement.file) && replacement.Commit()) return true;
  replacement.Abandon();
  platform::File file;
  if (const platform::Status opened = platform::OpenRecord(path, platform::RecordMode::Replace, file); !opened) {
    return opened;
  }
  return write(file);
}

void WriteLogLine(BuildLog& log, const std::string& line) {
  log.text += line;
  if (log.echo != nullptr) log.echo(log.echoContext, line.c_str());
}

Failure BuildFailure(int code, const char* format, const char* argument) {
  return Fail(code, FormatLogLine(format, argument));
}

Failure SystemFailure(int code, const char* text, const std::string& path, const platform::Status& status) {
  std::string line(text);
  const bool lineEnd = line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0;
  if (lineEnd) line.resize(line.size() - 2);
  // The reason is the system's text, not a format: its own "%" signs stay as they are, since only
  // the first "%s", which comes before it, is ever replaced.
  std::string reason = platform::ErrorText(status);
  if (line.find("%s") == std::string::npos) {
    line += " %s:";
  }
  line += " " + reason + (lineEnd ? "\r\n" : "");
  return Fail(code, FormatLogLine(line.c_str(), EscapeControls(path).c_str()));
}
