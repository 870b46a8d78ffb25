// InstallLog and the default failure line of silent runs.
#include "installer/install_log.h"

#include <ctime>

#include "script/printable.h"

platform::Status InstallLog::Open(const char* path) {
  return platform::OpenRecord(path, platform::RecordMode::Replace, file_);
}

void InstallLog::Step(const char* label, const std::string& text) {
  if (!file_.IsOpen()) return;
  const std::string line = std::string(label) + ": " + EscapeControls(text) + "\r\n";
  platform::WriteFile(file_, line.data(), static_cast<std::uint32_t>(line.size()));
}

void AppendFailureLine(const std::string& package, const Failure& failure) {
  char directory[platform::kPathCapacity];
  if (!platform::TempDirectory(directory)) return;
  const std::string path = std::string(directory) + kFailureLogName;
  platform::File file;
  if (!platform::PathFits(path) || !platform::OpenRecord(path.c_str(), platform::RecordMode::Append, file)) return;
  const std::time_t now = std::time(nullptr);
  char stamp[32] = "(no time)";
  if (const std::tm* parts = std::gmtime(&now)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S UTC", parts);
  // One write per line: appends of two installers that fail at once do not interleave.
  const std::string line = std::string(stamp) + "\t" + EscapeControls(package) + "\terror code " +
                           std::to_string(failure.code) + ": " + EscapeControls(failure.reason) + "\r\n";
  platform::WriteFile(file, line.data(), static_cast<std::uint32_t>(line.size()));
}
