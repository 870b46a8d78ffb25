// Conversions between platform text (UTF-8), the UTF-16 of the wide calls and the ANSI code page of
// the setup script's texts.
#include "platform/win32/wide.h"

#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {

std::wstring ToWide(UINT codePage, DWORD flags, const std::string& text, bool& ok) {
  ok = true;
  if (text.empty()) return std::wstring();
  const int units = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (units <= 0) {
    ok = false;
    return std::wstring();
  }
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), &wide[0], units);
  return wide;
}

std::string FromWide(UINT codePage, const wchar_t* wide, std::size_t length) {
  if (length == 0) return std::string();
  // The default character only exists for code pages other than UTF-8, where every character fits.
  const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
  const int bytes =
      WideCharToMultiByte(codePage, 0, wide, static_cast<int>(length), nullptr, 0, fallback, nullptr);
  if (bytes <= 0) return std::string();
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(codePage, 0, wide, static_cast<int>(length), &text[0], bytes, fallback, nullptr);
  return text;
}

}  // namespace

bool Widen(const std::string& text, std::wstring& wide) {
  bool ok = false;
  wide = ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, text, ok);
  // Left for the caller's Status: the reason is the name, not the call it never made.
  if (!ok) SetLastError(ERROR_NO_UNICODE_TRANSLATION);
  return ok;
}

std::wstring WidenForDisplay(const std::string& text) {
  bool ok = false;
  return ToWide(CP_UTF8, 0, text, ok);
}

std::string Narrow(const wchar_t* wide, std::size_t length) { return FromWide(CP_UTF8, wide, length); }

std::string Narrow(const std::wstring& wide) { return Narrow(wide.data(), wide.size()); }

bool PathFromSystem(const wchar_t* wide, unsigned long length, unsigned long capacity, std::string& path) {
  if (length == 0 || length >= capacity) return false;
  path = Narrow(wide, length);
  return PathFits(path);
}

Status OpenWide(const char* path, unsigned long access, unsigned long share, unsigned long disposition, File& file) {
  std::wstring wide;
  if (!Widen(path, wide)) return false;
  HANDLE h = CreateFileW(wide.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  file.Adopt(reinterpret_cast<std::intptr_t>(h));
  return true;
}

std::string FromScriptText(const std::string& text) {
  bool ok = false;
  // GetACP, not CP_ACP: the comparison with CP_UTF8 below must see a system whose ANSI code page is
  // UTF-8, where a default character makes the conversion fail.
  const std::wstring wide = ToWide(GetACP(), 0, text, ok);
  return Narrow(wide);
}

bool SameScriptName(const std::string& a, const std::string& b) {
  bool okA = false, okB = false;
  const std::wstring wideA = ToWide(GetACP(), 0, a, okA);
  const std::wstring wideB = ToWide(GetACP(), 0, b, okB);
  // The ordinal comparison without case is the one the file systems make of names.
  return okA && okB &&
         CompareStringOrdinal(wideA.c_str(), static_cast<int>(wideA.size()), wideB.c_str(),
                              static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}

std::string FromScriptText(const std::string& text, std::uint32_t codePage) {
  if (codePage == 0) return FromScriptText(text);
  bool ok = false;
  const std::wstring wide = ToWide(codePage, 0, text, ok);
  // A code page this system cannot convert from (not installed): the machine's own still shows the
  // ASCII part of the text, where a failed conversion would show nothing.
  return ok ? Narrow(wide) : FromScriptText(text);
}

std::string ToScriptText(const std::string& text) {
  const std::wstring wide = WidenForDisplay(text);
  return FromWide(GetACP(), wide.data(), wide.size());
}

}  // namespace platform
