// Message boxes, processes and the common controls with the Windows calls.
#include <windows.h>
#include <commctrl.h>

#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace platform {

int ShowMessageBox(const char* text, const char* caption, unsigned style) {
  return MessageBoxW(nullptr, WidenForDisplay(text).c_str(), WidenForDisplay(caption).c_str(), style);
}

bool EnvironmentValue(const char* name, std::string& value) {
  // The wide call, so that a value outside the ANSI code page arrives whole. The first call asks for
  // the size with the terminator (1 for a variable that is set and empty, 0 for none).
  std::wstring wideName;
  if (!Widen(name, wideName)) return false;
  const DWORD needed = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (needed == 0) return false;
  std::wstring wide(needed, L'\0');
  const DWORD length = GetEnvironmentVariableW(wideName.c_str(), &wide[0], needed);
  if (length >= needed) return false;  // changed in between; not read
  value = Narrow(wide.c_str(), length);
  return true;
}

void InitCommonControls() { ::InitCommonControls(); }

void Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

void Process::Release() {
  if (started_) {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    CloseHandle(reinterpret_cast<HANDLE>(thread_));
    started_ = false;
  }
}

Status StartProcess(const char* program, const char* commandLine, Process& process) {
  // CreateProcessW may write into the command line, so it gets a copy of its own; the system takes
  // at most 32767 characters. The program goes by its own path too: without it CreateProcessW would
  // take the program from the command line's first word, and a name without a folder would be
  // searched for.
  std::wstring path, line;
  if (!Widen(program, path) || !Widen(commandLine, line)) return false;
  if (line.size() >= 32768) return Status::Error(kErrorNameTooLong);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(path.c_str(), &line[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                      nullptr, &startup, &info)) {
    return false;
  }
  process = Process();
  process.handle_ = reinterpret_cast<std::intptr_t>(info.hProcess);
  process.thread_ = reinterpret_cast<std::intptr_t>(info.hThread);
  process.started_ = true;
  return true;
}

Status SetEnvironmentValue(const char* name, const char* value) {
  std::wstring wideName, wideValue;
  if (!Widen(name, wideName) || !Widen(value, wideValue)) return false;
  return SetEnvironmentVariableW(wideName.c_str(), wideValue.c_str()) != FALSE;
}

bool WaitForProcess(Process& process, std::uint32_t milliseconds, std::uint32_t& exitCode) {
  // Waiting on the handle, not polling the exit code: a program that exits with 259 would look
  // as if it were still running.
  HANDLE h = reinterpret_cast<HANDLE>(process.handle_);
  const DWORD waited = WaitForSingleObject(h, milliseconds);
  if (waited == WAIT_TIMEOUT) return false;
  DWORD code = 0;
  // A wait or exit-code query that fails would otherwise be retried forever: it counts as an end
  // with a failure status.
  if (waited != WAIT_OBJECT_0 || !GetExitCodeProcess(h, &code)) code = 0xFFFFFFFFu;
  exitCode = code;
  return true;
}

}  // namespace platform
