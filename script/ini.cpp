// INI access with the profile semantics of Windows, portable: the text is parsed here and the file
// is read and written through the platform layer, so both builds read and edit a packing list alike.
#include "script/ini.h"

#include <cstring>
#include <new>
#include <utility>

#include "platform/platform.h"

// Where this reading knowingly differs from the Windows functions as Wine runs them:
// - a quoted value whose text exactly fills the buffer is kept whole; Wine cuts one more character;
// - a delete trims the names as every read and write does; Wine's delete does not, so deleting
//   " k" reports success and leaves "k" in place;
// - the text is always ANSI bytes; Wine takes a UTF-8 file (byte order mark) apart as UTF-8, and
//   guesses UTF-16 for some short files holding NUL bytes. A packing list is ANSI text.

namespace {

// The blanks that do not count around names and values. \r and \n never reach here: they end lines.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// A piece of the text, [begin, end).
struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t size() const { return end - begin; }
};

Span Trim(const std::string& text, Span span) {
  while (span.begin < span.end && IsBlank(text[span.begin])) ++span.begin;
  while (span.end > span.begin && IsBlank(text[span.end - 1])) --span.end;
  return span;
}

std::string TrimName(const char* name) {
  const std::string text(name);
  const Span span = Trim(text, Span{0, text.size()});
  return text.substr(span.begin, span.size());
}

// Names compare in ASCII case only: letters beyond ASCII (Ä, ä) are different names, as they are
// to the Windows functions; that keeps the result free of any code page.
bool SameName(const std::string& text, Span span, const std::string& name) {
  if (span.size() != name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (FoldCase(text[span.begin + i]) != FoldCase(name[i])) return false;
  }
  return true;
}

// One line as the profile functions see it. "\r\n", a lone "\r" and a lone "\n" each end a line.
struct Line {
  std::size_t start = 0;
  std::size_t breakAt = 0;  // the line break, or the end of the text
  std::size_t next = 0;     // the start of the next line
};

Line ReadLine(const std::string& text, std::size_t start) {
  Line line;
  line.start = start;
  std::size_t i = start;
  while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
  line.breakAt = i;
  if (i < text.size()) i += (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
  line.next = i;
  return line;
}

// A NUL byte ends a name or a value (the Windows functions hold them as terminated strings), but
// the brackets and the "=" that shape a line are looked for in the whole line, beyond any NUL:
// "[T<NUL>]" is section "T", "<NUL>c=3" is the key "" with the value "3".
Span CutAtNul(const std::string& text, Span span) {
  const void* nul = std::memchr(text.data() + span.begin, '\0', span.size());
  if (nul != nullptr) span.end = static_cast<std::size_t>(static_cast<const char*>(nul) - text.data());
  return Trim(text, span);
}

enum class LineKind { Blank, Section, Key };

// What a line is. A section line starts (after blanks) with "[" and names the text up to its last
// "]" ("[a]b]" is section "a]b", "[S] junk" is "S"); a "[" line without "]" is a key. Every other
// non-blank line is a key, with or without "=": a line starting with ";" is the key ";..." to the
// Windows functions, and a line without "=" is a key without a value, which reads as missing but
// hides later duplicates of its name.
struct Parsed {
  LineKind kind = LineKind::Blank;
  Span name;
  bool hasValue = false;
  std::size_t equals = 0;  // position of "=" when hasValue
  Span value;
};

Parsed ParseLine(const std::string& text, const Line& line) {
  Parsed parsed;
  const Span whole = Trim(text, Span{line.start, line.breakAt});
  if (whole.size() == 0) return parsed;
  if (text[whole.begin] == '[') {
    std::size_t close = whole.end - 1;
    while (close > whole.begin && text[close] != ']') --close;
    if (close > whole.begin) {
      parsed.kind = LineKind::Section;
      parsed.name = CutAtNul(text, Span{whole.begin + 1, close});
      return parsed;
    }
  }
  parsed.kind = LineKind::Key;
  const void* eq = std::memchr(text.data() + whole.begin, '=', whole.size());
  if (eq == nullptr) {
    parsed.name = CutAtNul(text, whole);
    return parsed;
  }
  parsed.equals = static_cast<std::size_t>(static_cast<const char*>(eq) - text.data());
  parsed.hasValue = true;
  parsed.name = CutAtNul(text, Span{whole.begin, parsed.equals});
  parsed.value = CutAtNul(text, Span{parsed.equals + 1, whole.end});
  return parsed;
}

// Where a section and a key lie in the text. The text before the first section line is the
// section "" (the Windows functions read keys there under that name). Only the first section of a
// name counts, and in it only the first key of a name: later duplicates are never read or written.
struct Location {
  bool sectionFound = false;
  std::size_t insertAt = 0;  // where a new key of the section goes: after its last key line
  bool keyFound = false;
  Line keyLine;
  Parsed key;
};

Location Locate(const std::string& text, const std::string& section, const std::string& key) {
  Location where;
  bool inSection = section.empty();
  where.sectionFound = inSection;
  // A UTF-8 byte order mark is not part of the first line (Windows editors put one there).
  std::size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  where.insertAt = pos;
  for (; pos < text.size();) {
    const Line line = ReadLine(text, pos);
    pos = line.next;
    const Parsed parsed = ParseLine(text, line);
    if (parsed.kind == LineKind::Section) {
      if (inSection) break;
      if (!where.sectionFound && SameName(text, parsed.name, section)) {
        where.sectionFound = inSection = true;
        where.insertAt = line.next;
      }
      continue;
    }
    if (!inSection || parsed.kind != LineKind::Key) continue;
    // A new key goes after the last key line; blank lines and comments that follow it stay
    // between the section and the next one, where they usually belong to the next.
    if (text[Trim(text, Span{line.start, line.breakAt}).begin] != ';') where.insertAt = line.next;
    if (!where.keyFound && SameName(text, parsed.name, key)) {
      where.keyFound = true;
      where.keyLine = line;
      where.key = parsed;
    }
  }
  return where;
}

// A value as the Windows functions hand it out: a value in matching double or single quotes loses
// them (a lone quote stays).
std::string Unquote(std::string value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

bool HasLineBreak(const char* text) { return std::strpbrk(text, "\r\n") != nullptr; }

// Names that the text could not give back after a write are refused: a line break would split the
// line, "=" would end the key early, and a key starting with "[" could read as a section. An empty
// key name is refused too: it only turns up in damaged lists.
bool CanWriteNames(const std::string& section, const std::string& key, const char* value) {
  if (HasLineBreak(section.c_str()) || HasLineBreak(key.c_str())) return false;
  if (key.empty() || key.find('=') != std::string::npos || key[0] == '[') return false;
  return value == nullptr || !HasLineBreak(value);
}

}  // namespace

platform::Status ReadProfileText(const char* path, std::string& text) {
  platform::File file;
  // A plain file only: a pipe or a device named as the file could hold the reader forever.
  if (const platform::Status opened = platform::OpenRegularFile(path, file); !opened) return opened;
  std::uint32_t length = 0;
  if (const platform::Status sized = platform::SeekEnd(file, length); !sized) return sized;
  if (const platform::Status moved = platform::Seek(file, 0); !moved) return moved;
  // A file too large for memory reads as unreadable rather than ending the process.
  try {
    text.assign(length, '\0');
  } catch (const std::bad_alloc&) {
    return platform::Status::Error(platform::kErrorTooLarge);
  }
  std::uint32_t got = 0;
  if (const platform::Status read = platform::ReadFile(file, &text[0], length, got); !read) return read;
  text.resize(got);
  return true;
}

std::string ProfileLookup(const std::string& text, const char* section, const char* key, bool* found) {
  if (found) *found = false;
  if (section == nullptr || key == nullptr) return std::string();
  const Location where = Locate(text, TrimName(section), TrimName(key));
  if (!where.keyFound || !where.key.hasValue) return std::string();
  if (found) *found = true;
  return Unquote(text.substr(where.key.value.begin, where.key.value.size()));
}

std::string ProfileEdit(const std::string& text, const char* section, const char* key, const char* value) {
  if (section == nullptr || key == nullptr) return text;
  const std::string sectionName = TrimName(section);
  const std::string keyName = TrimName(key);
  if (!CanWriteNames(sectionName, keyName, value)) return text;
  const Location where = Locate(text, sectionName, keyName);
  std::string edited = text;
  if (where.keyFound) {
    const Line& line = where.keyLine;
    if (value == nullptr) {
      edited.erase(line.start, line.next - line.start);
    } else {
      // The key keeps its spelling and indentation; everything after "=" (or after the name, for
      // a line without "=") up to the line break becomes the new value.
      const std::size_t from = where.key.hasValue ? where.key.equals + 1 : where.key.name.end;
      const std::string replacement = where.key.hasValue ? std::string(value) : "=" + std::string(value);
      edited.replace(from, line.breakAt - from, replacement);
    }
    return edited;
  }
  if (value == nullptr) return edited;
  const std::string keyLine = keyName + "=" + value + "\r\n";
  if (where.sectionFound) {
    // After a last line without a line break (the end of the text) the new line needs one first.
    const bool needsBreak = where.insertAt > 0 && where.insertAt == text.size() &&
                            text.back() != '\n' && text.back() != '\r';
    edited.insert(where.insertAt, (needsBreak ? "\r\n" : "") + keyLine);
    return edited;
  }
  if (!edited.empty() && edited.back() != '\n' && edited.back() != '\r') edited += "\r\n";
  edited += "[" + sectionName + "]\r\n" + keyLine;
  return edited;
}

bool ProfileCanWrite(const char* section, const char* key, const char* value) {
  return section != nullptr && key != nullptr && CanWriteNames(TrimName(section), TrimName(key), value);
}


namespace {

std::string FoldedName(const std::string& text, Span span) {
  std::string name = text.substr(span.begin, span.size());
  for (char& c : name) c = FoldCase(c);
  return name;
}

std::string FoldedName(const char* name) {
  const std::string trimmed = TrimName(name);
  return FoldedName(trimmed, Span{0, trimmed.size()});
}

}  // namespace

ProfileIndex::ProfileIndex(const std::string& text) {
  // The same walk as Locate, for all names at once: keys before the first section line belong to
  // "", only the first section of a name is ever read (later ones, and sections named "", are not
  // reachable), and the first key of a name in it wins, with or without a value.
  Section* current = &sections_[std::string()];
  std::size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (pos < text.size()) {
    const Line line = ReadLine(text, pos);
    pos = line.next;
    const Parsed parsed = ParseLine(text, line);
    if (parsed.kind == LineKind::Section) {
      std::string name = FoldedName(text, parsed.name);
      current = nullptr;
      if (!name.empty() && sections_.find(name) == sections_.end()) current = &sections_[std::move(name)];
      continue;
    }
    if (parsed.kind != LineKind::Key || current == nullptr) continue;
    Key key{parsed.hasValue, std::string()};
    if (parsed.hasValue) key.value = Unquote(text.substr(parsed.value.begin, parsed.value.size()));
    current->emplace(FoldedName(text, parsed.name), std::move(key));
  }
}

const std::string* ProfileIndex::Find(const char* section, const char* key) const {
  if (section == nullptr || key == nullptr) return nullptr;
  const auto s = sections_.find(FoldedName(section));
  if (s == sections_.end()) return nullptr;
  const auto k = s->second.find(FoldedName(key));
  if (k == s->second.end() || !k->second.hasValue) return nullptr;
  return &k->second.value;
}

std::vector<std::string> ProfileIndex::KeyNames(const char* section) const {
  std::vector<std::string> names;
  if (section == nullptr) return names;
  const auto s = sections_.find(FoldedName(section));
  if (s == sections_.end()) return names;
  for (const auto& key : s->second) {
    if (key.second.hasValue) names.push_back(key.first);
  }
  return names;
}

bool ProfileIndex::HasSection(const char* section) const {
  return section != nullptr && sections_.find(FoldedName(section)) != sections_.end();
}
