// Message boxes and processes on POSIX: a box is written to standard error, and a command line runs
// through the shell.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"

extern char** environ;

namespace platform {

int ShowMessageBox(const char* text, const char* caption, unsigned) {
  std::fprintf(stderr, "[%s] %s\n", caption, text);
  return 0;
}

bool EnvironmentValue(const char* name, std::string& value) {
  const char* found = std::getenv(name);
  if (found == nullptr) return false;
  value = found;
  return true;
}

void InitCommonControls() {}

void Sleep(std::uint32_t milliseconds) {
  timespec t{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  nanosleep(&t, nullptr);
}

void Process::Release() {
  // Reaps a child that has ended; one still running is left to the system.
  if (started_) {
    int status;
    waitpid(static_cast<pid_t>(handle_), &status, WNOHANG);
    started_ = false;
  }
}

Status StartProcess(const char*, const char* commandLine, Process& process) {
  pid_t pid;
  char shell[] = "/bin/sh", dashC[] = "-c";
  char* argv[] = {shell, dashC, const_cast<char*>(commandLine), nullptr};
  // posix_spawn gives its error as its result, not in errno.
  if (const int error = posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ)) {
    return Status::Error(static_cast<std::uint32_t>(error));
  }
  process = Process();
  process.handle_ = pid;
  process.started_ = true;
  return true;
}

Status SetEnvironmentValue(const char* name, const char* value) { return setenv(name, value, 1) == 0; }

bool WaitForProcess(Process& process, std::uint32_t milliseconds, std::uint32_t& exitCode) {
  const pid_t pid = static_cast<pid_t>(process.handle_);
  for (std::uint32_t waited = 0;; waited += 10) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      exitCode = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status)) : 0xFFFFFFFFu;
      process.started_ = false;
      return true;
    }
    if (r < 0) {  // no such child: it cannot be waited for, so it counts as ended with a failure
      exitCode = 0xFFFFFFFFu;
      process.started_ = false;
      return true;
    }
    if (waited >= milliseconds) return false;
    Sleep(10);
  }
}

}  // namespace platform
