// driver.exe: drives a Windows program under test through window messages, from a script of one
// command per line (from the file named on the command line, or standard input). It stops with a
// message and exit status 1 at the first mismatch, ending the program under test. The script is
// UTF-8, so command lines, folders, variables and the texts it expects may hold any character.
//
//   start CMDLINE          start the program (CreateProcessW) and keep its handle
//   dir PATH               the working folder of programs started afterwards (else the driver's)
//   dialog                 wait for its visible top-level dialog ("#32770") and take it as the page
//   text ID TEXT           wait until control ID of the page shows TEXT ("\n" for a line break)
//   enabled ID 0|1         wait until control ID is disabled/enabled
//   visible ID 0|1         wait until control ID is hidden/visible
//   pos ID N               wait until progress bar ID stands at N
//   caption TEXT           wait until the page (or, after msgbox, the box) has this caption
//   centred                the page's outer rectangle is centred on the desktop's client area
//                          (each edge at (desktop - window) / 2, rounded toward zero)
//   click ID               post a click to button ID once it is enabled and visible
//   key ID                 post WM_COMMAND ID to the page without checking a button (Enter, Esc)
//   close                  post the close box's request (WM_SYSCOMMAND SC_CLOSE) to the page
//   press VK               post a key press (virtual-key code, e.g. 13 Enter, 27 Esc) to the page's
//                          focused control, through the page's message loop as a typed key goes
//   env NAME=VALUE         set an environment variable for programs started afterwards
//   msgbox TEXT            wait for a message box of the program (not the page) showing TEXT
//   boxcaption TEXT        the box's caption
//   buttons A|B            the box's visible buttons in order
//   answer ID              press ID in the box (1 OK, 6 Yes, 7 No) and wait until it is gone
//   shot FILE.bmp          save a picture of the page (grabbed until two grabs agree)
//   rect ID                print "rect ID LEFT TOP RIGHT BOTTOM": control ID's client area (ID 0:
//                          the page's) in the coordinates of the page's shot
//   sleep MS               wait
//   exit CODE              wait for the program to end and compare its full 32-bit exit status
//   noexit MS              check that the program is still running after MS milliseconds
// Every wait polls every 50 ms for up to 10 s of wall-clock time (QOR_DRIVER_TIMEOUT_MS overrides).
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

PROCESS_INFORMATION target = {};
HWND page = nullptr;
HWND box = nullptr;
int lineNumber = 0;
std::string currentLine;
DWORD timeoutMs = 10000;
std::wstring workingFolder;

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size() + 1, L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<std::size_t>(n) - 1 : 0);
  return wide;
}

[[noreturn]] void Fail(const std::string& why) {
  std::printf("driver: line %d (%s): %s\n", lineNumber, currentLine.c_str(), why.c_str());
  std::fflush(stdout);
  if (target.hProcess != nullptr) TerminateProcess(target.hProcess, 1);
  std::exit(1);
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
      out += '\n';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string Show(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

// A window's text as UTF-8, read through the wide call: the script's texts compare whatever the
// code page of the program under test or of the driver.
std::string WindowText(HWND window) {
  wchar_t text[4096] = {};
  GetWindowTextW(window, text, 4096);
  char utf8[4 * 4096] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
  return utf8;
}

// Polls `check` every 50 ms until it holds or the timeout passes; `describe` tells what was seen.
// The timeout is wall-clock time, so a check that itself waits (pos) does not stretch it.
template <typename Check, typename Describe>
void WaitFor(Check check, Describe describe) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (check()) return;
    if (GetTickCount() - start >= timeoutMs) Fail("timed out; last seen: " + describe());
    Sleep(50);
  }
}

struct Search {
  DWORD pid;
  HWND skip;
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter) {
  Search* search = reinterpret_cast<Search*>(parameter);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char cls[64] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (pid == search->pid && window != search->skip && std::strcmp(cls, "#32770") == 0 &&
      IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindTopDialog(HWND skip) {
  Search search = {target.dwProcessId, skip, nullptr};
  EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND Control(int id) {
  if (page == nullptr) Fail("no page yet (use 'dialog' first)");
  HWND control = GetDlgItem(page, id);
  if (control == nullptr) Fail("no control " + std::to_string(id));
  return control;
}

BOOL CALLBACK CollectButtons(HWND window, LPARAM parameter) {
  char cls[64] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (lstrcmpiA(cls, "Button") == 0 && IsWindowVisible(window)) {
    reinterpret_cast<std::vector<std::string>*>(parameter)->push_back(WindowText(window));
  }
  return TRUE;
}

std::string BoxText(HWND window) {
  HWND label = GetDlgItem(window, 0xFFFF);
  return label != nullptr ? WindowText(label) : std::string();
}

// Grabs the window's pixels until two grabs agree (painting is asynchronous) and saves a BMP.
void SaveShot(HWND window, const std::string& file) {
  RECT r;
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  const DWORD rowBytes = ((w * 3 + 3) / 4) * 4, imageBytes = rowBytes * h;
  std::vector<char> previous;
  std::vector<char> pixels(imageBytes);
  for (int attempt = 0; attempt < 25; ++attempt) {
    Sleep(200);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    std::memcpy(pixels.data(), bits, imageBytes);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (pixels == previous) break;
    previous = pixels;
  }
  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info.bmiHeader;
  header.bfSize = header.bfOffBits + imageBytes;
  FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr) Fail("cannot write " + file);
  std::fwrite(&header, sizeof header, 1, out);
  std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
  std::fwrite(pixels.data(), 1, imageBytes, out);
  std::fclose(out);
}

void Run(const std::string& command, const std::string& rest) {
  if (command == "start") {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring line = Wide(rest);
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &target)) {
      Fail("cannot start");
    }
  } else if (command == "dialog") {
    WaitFor([] { return (page = FindTopDialog(nullptr)) != nullptr; }, [] { return std::string("no dialog"); });
  } else if (command == "text") {
    const int id = std::atoi(rest.c_str());
    const std::string want = Unescape(rest.substr(rest.find(' ') == std::string::npos ? rest.size() : rest.find(' ') + 1));
    HWND control = Control(id);
    WaitFor([&] { return WindowText(control) == want; }, [&] { return "'" + Show(WindowText(control)) + "'"; });
  } else if (command == "enabled" || command == "visible") {
    int id = 0, want = 0;
    std::sscanf(rest.c_str(), "%d %d", &id, &want);
    HWND control = Control(id);
    auto state = [&] { return command == "enabled" ? IsWindowEnabled(control) != FALSE : IsWindowVisible(control) != FALSE; };
    WaitFor([&] { return state() == (want != 0); }, [&] { return std::to_string(state()); });
  } else if (command == "pos") {
    int id = 0, want = 0;
    std::sscanf(rest.c_str(), "%d %d", &id, &want);
    HWND control = Control(id);
    DWORD_PTR seen = 0;
    // PBM_GETPOS is answered by the program's thread: a program that only looks at its messages
    // between one-second waits (the installer page while the finishing command runs) answers
    // within 1100 ms.
    WaitFor([&] { return SendMessageTimeoutA(control, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1100, &seen) != 0 && static_cast<int>(seen) == want; },
            [&] { return std::to_string(seen); });
  } else if (command == "caption") {
    HWND window = box != nullptr ? box : page;
    if (window == nullptr) Fail("no window");
    WaitFor([&] { return WindowText(window) == Unescape(rest); }, [&] { return "'" + Show(WindowText(window)) + "'"; });
  } else if (command == "centred") {
    if (page == nullptr) Fail("no page");
    RECT desktop, window;
    GetClientRect(GetDesktopWindow(), &desktop);
    GetWindowRect(page, &window);
    const int width = window.right - window.left, height = window.bottom - window.top;
    const int left = (static_cast<int>(desktop.right) - width) / 2;
    const int top = (static_cast<int>(desktop.bottom) - height) / 2;
    if (window.left != left || window.top != top) {
      Fail("page at " + std::to_string(window.left) + "," + std::to_string(window.top) + ", expected " +
           std::to_string(left) + "," + std::to_string(top));
    }
  } else if (command == "click") {
    HWND button = Control(std::atoi(rest.c_str()));
    // A label and the enabled state change one after the other: wait for the button to be usable.
    WaitFor([&] { return IsWindowEnabled(button) && IsWindowVisible(button); },
            [] { return std::string("button is disabled or hidden"); });
    PostMessageA(page, WM_COMMAND, MAKEWPARAM(std::atoi(rest.c_str()), BN_CLICKED), reinterpret_cast<LPARAM>(button));
  } else if (command == "key") {
    if (page == nullptr) Fail("no page");
    PostMessageA(page, WM_COMMAND, MAKEWPARAM(std::atoi(rest.c_str()), 0), 0);
  } else if (command == "close") {
    if (page == nullptr) Fail("no page");
    PostMessageA(page, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else if (command == "press") {
    if (page == nullptr) Fail("no page");
    const WPARAM key = static_cast<WPARAM>(std::atoi(rest.c_str()));
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    HWND focus = GetGUIThreadInfo(target.dwThreadId, &gui) && gui.hwndFocus != nullptr ? gui.hwndFocus : page;
    PostMessageA(focus, WM_KEYDOWN, key, 1);
    PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
  } else if (command == "env") {
    const std::size_t equals = rest.find('=');
    if (equals == std::string::npos) Fail("env needs NAME=VALUE");
    if (!SetEnvironmentVariableW(Wide(rest.substr(0, equals)).c_str(), Wide(rest.substr(equals + 1)).c_str())) {
      Fail("cannot set");
    }
  } else if (command == "dir") {
    workingFolder = Wide(rest);
  } else if (command == "msgbox") {
    const std::string want = Unescape(rest);
    WaitFor([&] { return (box = FindTopDialog(page)) != nullptr && BoxText(box) == want; },
            [&] { return box != nullptr ? "'" + Show(BoxText(box)) + "'" : std::string("no box"); });
  } else if (command == "boxcaption") {
    if (box == nullptr) Fail("no box");
    if (WindowText(box) != Unescape(rest)) Fail("caption is '" + Show(WindowText(box)) + "'");
  } else if (command == "buttons") {
    if (box == nullptr) Fail("no box");
    std::vector<std::string> names;
    EnumChildWindows(box, CollectButtons, reinterpret_cast<LPARAM>(&names));
    std::string seen;
    for (const std::string& name : names) seen += (seen.empty() ? "" : "|") + name;
    if (seen != rest) Fail("buttons are '" + seen + "'");
  } else if (command == "answer") {
    if (box == nullptr) Fail("no box");
    HWND answered = box;
    PostMessageA(answered, WM_COMMAND, MAKEWPARAM(std::atoi(rest.c_str()), BN_CLICKED), 0);
    WaitFor([&] { return !IsWindow(answered); }, [] { return std::string("box still open"); });
    box = nullptr;
  } else if (command == "shot") {
    if (page == nullptr) Fail("no page");
    SaveShot(page, rest);
  } else if (command == "rect") {
    const int id = std::atoi(rest.c_str());
    HWND window = id == 0 ? page : Control(id);
    if (window == nullptr) Fail("no page");
    RECT outer, area;
    GetWindowRect(page, &outer);
    GetClientRect(window, &area);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&area), 2);
    std::printf("rect %d %ld %ld %ld %ld\n", id, area.left - outer.left, area.top - outer.top,
                area.right - outer.left, area.bottom - outer.top);
  } else if (command == "sleep") {
    Sleep(std::atoi(rest.c_str()));
  } else if (command == "exit") {
    const DWORD want = static_cast<DWORD>(std::strtoll(rest.c_str(), nullptr, 0));
    if (WaitForSingleObject(target.hProcess, timeoutMs) != WAIT_OBJECT_0) Fail("program still running");
    DWORD code = 0;
    GetExitCodeProcess(target.hProcess, &code);
    if (code != want) Fail("exit status " + std::to_string(static_cast<long>(code)));
  } else if (command == "noexit") {
    if (WaitForSingleObject(target.hProcess, std::atoi(rest.c_str())) == WAIT_OBJECT_0) Fail("program has ended");
  } else {
    Fail("unknown command");
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Window rectangles and screen grabs in real pixels: on Windows, and under Wine 10, a program that
  // does not declare itself DPI aware is given a DPI-aware page's rectangles scaled down to 96 DPI,
  // and its grabs of them show only the page's upper left part (Wine 8 gives real pixels either
  // way).
  SetProcessDPIAware();
  if (const char* t = std::getenv("QOR_DRIVER_TIMEOUT_MS")) timeoutMs = std::strtoul(t, nullptr, 10);
  FILE* script = argc > 1 ? std::fopen(argv[1], "r") : stdin;
  if (script == nullptr) {
    std::printf("driver: cannot open %s\n", argv[1]);
    return 2;
  }
  char buffer[8192];
  while (std::fgets(buffer, sizeof buffer, script) != nullptr) {
    ++lineNumber;
    currentLine = buffer;
    while (!currentLine.empty() && (currentLine.back() == '\n' || currentLine.back() == '\r')) currentLine.pop_back();
    if (currentLine.empty() || currentLine[0] == '#') continue;
    const std::size_t space = currentLine.find(' ');
    Run(currentLine.substr(0, space), space == std::string::npos ? "" : currentLine.substr(space + 1));
  }
  std::printf("driver: ok\n");
  return 0;
}
