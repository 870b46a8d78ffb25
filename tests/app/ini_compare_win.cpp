// Compares the portable INI access with the Windows profile functions (run under Wine) over a
// corpus of tricky INI files: every read, and for every kind of write the values read back
// afterwards. Usage: ini_compare CORPUS_DIR. Prints each difference; exit status 1 if any.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "script/ini.h"
#include "tests/app/profile_file.h"

namespace {

int failures = 0;
int reads = 0;
int knownQuirks = 0;

std::string Show(const char* text, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n && i < 80; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    out += (c < 32 || c > 126) ? std::string(hex) : std::string(1, static_cast<char>(c));
  }
  if (n > 80) out += "...";
  return out;
}

std::string ShowName(const char* name) { return name ? "[" + Show(name, std::strlen(name)) + "]" : "(null)"; }

// A unix path from the test's command line as the Windows side names it (Wine maps / to Z:).
std::string WindowsPath(const std::string& path) {
  std::string out = path[0] == '/' ? "Z:" + path : path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string ReadBytes(const std::string& path) {
  std::string text;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return text;
  char chunk[65536];
  DWORD got = 0;
  while (::ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(h);
  return text;
}

bool WriteBytes(const std::string& path, const std::string& text) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = text.empty() || ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == text.size();
}

// The names a file offers, gathered from its lines without the parser under test: the raw text of
// section lines and of the part before "=" (or the whole line), untrimmed.
void GatherNames(const std::string& text, std::set<std::string>& sections, std::set<std::string>& keys) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    line = line.substr(0, line.find('\0'));
    pos = end + 1;
    if (line.empty()) continue;
    const std::size_t open = line.find('['), close = line.rfind(']');
    if (open != std::string::npos && close != std::string::npos && close > open) {
      sections.insert(line.substr(open + 1, close - open - 1));
    }
    const std::size_t eq = line.find('=');
    keys.insert(line.substr(0, eq));
    if (keys.size() > 60) break;
  }
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Adds case variants and an absent name; names longer than a line of output are left out of the
// variants only (their exact spelling is still read).
std::vector<std::string> WithVariants(const std::set<std::string>& names, const char* absent) {
  std::set<std::string> all(names);
  for (const std::string& name : names) {
    if (name.size() > 64) continue;
    all.insert(Upper(name));
    all.insert(Lower(name));
  }
  all.insert(absent);
  return std::vector<std::string>(all.begin(), all.end());
}

// One read through both, compared byte for byte over the whole buffer.
void CompareRead(const std::string& label, const std::string& path, const char* section, const char* key,
                 const char* defaultValue, DWORD capacity) {
  ++reads;
  std::vector<char> ours(capacity + 1, '#'), real(capacity + 1, '#');
  const std::uint32_t full = ReadProfileValue(section, key, defaultValue, ours.data(), capacity, path.c_str());
  const DWORD got = GetPrivateProfileStringA(section, key, defaultValue, real.data(), capacity, path.c_str());
  const std::uint32_t copied = capacity == 0 ? 0 : (full < capacity ? full : capacity - 1);
  if (copied == got && ours == real) return;
  // Wine cuts a quoted value whose text exactly fills the buffer one character short (it strips
  // the closing quote from a copy that never held it). Our reading keeps the whole text.
  if (capacity > 1 && full == capacity - 1 && got + 1 == full &&
      std::memcmp(ours.data(), real.data(), got) == 0 && real[got] == '\0') {
    ++knownQuirks;
    return;
  }
  ++failures;
  std::printf("%s: read %s %s default %s capacity %lu: ours %u \"%s\", real %lu \"%s\"\n", label.c_str(),
              ShowName(section).c_str(), ShowName(key).c_str(), ShowName(defaultValue).c_str(),
              static_cast<unsigned long>(capacity), full, Show(ours.data(), copied).c_str(),
              static_cast<unsigned long>(got), Show(real.data(), got).c_str());
}

void CompareAllReads(const std::string& label, const std::string& path, const std::string& text) {
  std::set<std::string> sectionNames{""}, keyNames{""};
  GatherNames(text, sectionNames, keyNames);
  const std::vector<std::string> sections = WithVariants(sectionNames, "No Such Section");
  const std::vector<std::string> keys = WithVariants(keyNames, "NoSuchKey");
  for (const std::string& s : sections) {
    for (const std::string& k : keys) {
      CompareRead(label, path, s.c_str(), k.c_str(), "@", 260);
      CompareRead(label, path, s.c_str(), k.c_str(), "", 260);
      CompareRead(label, path, s.c_str(), k.c_str(), nullptr, 260);
      for (DWORD small : {0u, 1u, 2u, 5u}) CompareRead(label, path, s.c_str(), k.c_str(), "@", small);
    }
  }
  // Defaults as the Windows functions treat them: trailing blanks and quotes.
  for (const char* d : {"<No title>", "  dflt  ", "\"quoted\"", "'q'", "\"", "long default"}) {
    for (DWORD capacity : {260u, 4u}) CompareRead(label, path, "No Such Section", "k", d, capacity);
  }
}

// One edit on two copies of a corpus file, ours on one and the real function on the other; then
// every name of both results is read through the real function from both.
void CompareWrite(const std::string& label, const std::string& dir, int& serial, const std::string& text,
                  const char* section, const char* key, const char* value) {
  const std::string a = dir + "\\w" + std::to_string(serial) + "_real.ini";
  const std::string b = dir + "\\w" + std::to_string(serial) + "_ours.ini";
  ++serial;
  WriteBytes(a, text);
  WriteBytes(b, text);
  const BOOL realOk = WritePrivateProfileStringA(section, key, value, a.c_str());
  const bool oursOk = WriteProfileValue(section, key, value, b.c_str());
  const std::string what = label + ": write " + ShowName(section) + " " + ShowName(key) + " = " + ShowName(value);
  if ((realOk != FALSE) != oursOk) {
    ++failures;
    std::printf("%s: ours %s, real %s\n", what.c_str(), oursOk ? "ok" : "failed", realOk ? "ok" : "failed");
  }
  std::set<std::string> sections{"", section}, keys{key};
  GatherNames(ReadBytes(a), sections, keys);
  GatherNames(ReadBytes(b), sections, keys);
  for (const std::string& s : sections) {
    for (const std::string& k : keys) {
      char fromReal[300], fromOurs[300];
      std::memset(fromReal, '#', sizeof fromReal);
      std::memset(fromOurs, '#', sizeof fromOurs);
      const DWORD n1 = GetPrivateProfileStringA(s.c_str(), k.c_str(), "@", fromReal, 260, a.c_str());
      const DWORD n2 = GetPrivateProfileStringA(s.c_str(), k.c_str(), "@", fromOurs, 260, b.c_str());
      // Our reading of our own result agrees with the real reading of it, too.
      CompareRead(what + " (read back)", b, s.c_str(), k.c_str(), "@", 260);
      if (n1 != n2 || std::memcmp(fromReal, fromOurs, n1 + 1) != 0) {
        ++failures;
        std::printf("%s: then %s %s reads \"%s\" after the real write, \"%s\" after ours\n", what.c_str(),
                    ShowName(s.c_str()).c_str(), ShowName(k.c_str()).c_str(), Show(fromReal, n1).c_str(),
                    Show(fromOurs, n2).c_str());
      }
    }
  }
  DeleteFileA(a.c_str());
  DeleteFileA(b.c_str());
}

std::string Trimmed(const std::string& name) {
  const std::size_t begin = name.find_first_not_of(" \t\v\f");
  if (begin == std::string::npos) return std::string();
  return name.substr(begin, name.find_last_not_of(" \t\v\f") - begin + 1);
}

// The first section and key that a file holds, as our reading finds them (for the edits).
void FirstNames(const std::string& text, std::string& section, std::string& key) {
  std::set<std::string> sections, keys;
  GatherNames(text, sections, keys);
  section.clear();
  key.clear();
  for (const std::string& s : sections) {
    for (const std::string& k : keys) {
      bool found = false;
      ProfileLookup(text, s.c_str(), k.c_str(), &found);
      // Names are written trimmed: Wine trims them when it sets a key but not when it deletes
      // one, so a delete of " k" reports success and deletes nothing. Ours trims both alike.
      const std::string trimmed = Trimmed(k);
      if (found && !Trimmed(s).empty() && !trimmed.empty() && trimmed[0] != '[' &&
          k.find('=') == std::string::npos && k.size() < 64) {
        section = Trimmed(s);
        key = trimmed;
        return;
      }
    }
  }
}

void CompareAllWrites(const std::string& label, const std::string& dir, int& serial, const std::string& text) {
  std::string section, key;
  FirstNames(text, section, key);
  CompareWrite(label, dir, serial, text, "New Section", "NewKey", "new value");
  CompareWrite(label, dir, serial, text, "New Section", "NewKey", nullptr);
  CompareWrite(label, dir, serial, text, "", "TopKey", "top");
  if (section.empty()) return;
  CompareWrite(label, dir, serial, text, section.c_str(), key.c_str(), "replaced");
  CompareWrite(label, dir, serial, text, Upper(section).c_str(), Lower(key).c_str(), "case");
  CompareWrite(label, dir, serial, text, section.c_str(), key.c_str(), "");
  CompareWrite(label, dir, serial, text, section.c_str(), key.c_str(), nullptr);
  CompareWrite(label, dir, serial, text, section.c_str(), "AddedKey", "added");
  CompareWrite(label, dir, serial, text, Lower(section).c_str(), "AddedKey", "a=b [c]");
  CompareWrite(label, dir, serial, text, section.c_str(), "NoSuchKey", nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ini_compare CORPUS_DIR\n");
    return 2;
  }
  const std::string corpus = WindowsPath(argv[1]);
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string dir = std::string(temp) + "ini_compare." + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);

  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((corpus + "\\*.ini").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "ini_compare: no corpus in %s\n", corpus.c_str());
    return 2;
  }
  int files = 0, serial = 0;
  do {
    const std::string path = corpus + "\\" + entry.cFileName;
    const std::string text = ReadBytes(path);
    CompareAllReads(entry.cFileName, path, text);
    CompareAllWrites(entry.cFileName, dir, serial, text);
    ++files;
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  RemoveDirectoryA(dir.c_str());
  std::printf("%d files, %d reads, %d writes, %d reads cut short by Wine's quoted-value quirk, %d differences\n",
              files, reads, serial, knownQuirks, failures);
  return failures == 0 ? 0 : 1;
}
