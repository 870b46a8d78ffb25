// Files and processes for the Windows end-to-end tests that run under Wine: whole-file reads and
// writes, a snapshot of a folder tree, running a program to its full 32-bit exit status, and the
// tests' path options.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/installer/test_package.h"

namespace wine_test {

inline testpkg::Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return testpkg::Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string ReadText(const std::string& path) {
  const testpkg::Bytes bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

inline void WriteBytes(const std::string& path, const testpkg::Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string FullPath(const std::string& path) {
  char buffer[MAX_PATH];
  GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  return buffer;
}

inline std::string TempDirectory() {
  char buffer[MAX_PATH];
  GetTempPathA(sizeof buffer, buffer);
  return buffer;
}

// Every file and folder below `folder` (which ends with "\"), as relative paths.
inline void Snapshot(const std::string& folder, const std::string& prefix, std::set<std::string>& names) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    names.insert(prefix + name);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Snapshot(folder + name + "\\", prefix + name + "\\", names);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

inline std::set<std::string> Snapshot(const std::string& folder) {
  std::set<std::string> names;
  Snapshot(folder, "", names);
  return names;
}

// Starts a command line in `directory`; `environment` (a block of "NAME=value\0" strings, or empty)
// replaces the inherited environment. A program that cannot start fails the test.
inline bool StartProgram(const std::string& commandLine, const std::string& directory,
                         const std::string& environment, PROCESS_INFORMATION& info) {
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  info = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0,
                      environment.empty() ? nullptr : const_cast<char*>(environment.c_str()), directory.c_str(),
                      &startup, &info)) {
    ADD_FAILURE() << "cannot start " << commandLine;
    return false;
  }
  return true;
}

// Waits for a program that StartProgram started from `commandLine` and returns its full 32-bit exit
// status. One that hangs for a minute is ended and fails the test instead of the whole run.
inline DWORD EndOfProgram(PROCESS_INFORMATION& info, const std::string& commandLine) {
  if (WaitForSingleObject(info.hProcess, 60000) != WAIT_OBJECT_0) {
    TerminateProcess(info.hProcess, 0xDEAD);
    ADD_FAILURE() << commandLine << " did not end within a minute";
  }
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return code;
}

// Runs a command line to its end (see StartProgram and EndOfProgram); 0xDEADBEEF when it cannot
// start.
inline DWORD RunProgram(const std::string& commandLine, const std::string& directory,
                        const std::string& environment = "") {
  PROCESS_INFORMATION info;
  if (!StartProgram(commandLine, directory, environment, info)) return 0xDEADBEEF;
  return EndOfProgram(info, commandLine);
}

// Takes the value of "--NAME=value" into `value` (as a full path) when `argument` is that option.
inline void TakePathOption(const std::string& argument, const std::string& name, std::string& value) {
  const std::string prefix = "--" + name + "=";
  if (argument.rfind(prefix, 0) == 0) value = FullPath(argument.substr(prefix.size()));
}

}  // namespace wine_test
