// Files, times and directories on POSIX, for the native build. Paths are taken as a Windows build
// machine would read them: "\" separates components, and a component that does not exist with its
// exact case matches an entry of its folder that differs only in ASCII case.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/all_bytes.h"
#include "platform/posix/resolve.h"

namespace platform {

namespace {

// Seconds between 1601-01-01 and 1970-01-01, the origins of Windows and POSIX times.
constexpr std::uint64_t kEpochDifference = 11644473600ull;

// Finds the entry of `folder` whose name equals `name` without regard to ASCII case.
bool MatchCase(const std::string& folder, const std::string& name, std::string& match) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return false;
  bool found = false;
  while (dirent* entry = readdir(dir)) {
    if (strcasecmp(entry->d_name, name.c_str()) == 0) {
      match = entry->d_name;
      found = true;
      break;
    }
  }
  closedir(dir);
  return found;
}

// The POSIX path for a path as written in a packing list.
std::string Resolve(const char* path) {
  std::string p(path);
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  struct stat st;
  if (p.empty() || lstat(p.c_str(), &st) == 0) return p;
  std::string resolved;
  std::size_t start = 0;
  if (p[0] == '/') {
    resolved = "/";
    start = 1;
  }
  while (start <= p.size()) {
    std::size_t end = p.find('/', start);
    if (end == std::string::npos) end = p.size();
    const std::string part = p.substr(start, end - start);
    if (!part.empty()) {
      std::string candidate = resolved + part;
      std::string match;
      if (lstat(candidate.c_str(), &st) != 0 && MatchCase(resolved, part, match)) {
        candidate = resolved + match;
      }
      resolved = candidate;
      if (end < p.size()) resolved += '/';
    }
    start = end + 1;
  }
  return resolved;
}

int Fd(File& file) { return static_cast<int>(file.Handle()); }

Status CopyOut(const std::string& text, char (&buffer)[kPathCapacity]) {
  if (text.empty() || !PathFits(text)) return Status::Error(kErrorNameTooLong);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

}  // namespace

std::string ResolvePath(const char* path) { return Resolve(path); }

void File::Close() {
  if (handle_ != kInvalid) {
    close(static_cast<int>(handle_));
    handle_ = kInvalid;
  }
}

Status OpenFile(const char* path, OpenMode mode, File& file) {
  int flags = O_RDONLY;
  switch (mode) {
    case OpenMode::ReadShared: flags = O_RDONLY; break;
    case OpenMode::ReadWrite: flags = O_RDWR; break;
    case OpenMode::CreateAlways: flags = O_RDWR | O_CREAT | O_TRUNC; break;
  }
  const std::string resolved = Resolve(path);
  const int fd = open(resolved.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const Status failed = S_ISDIR(st.st_mode) ? Status::Error(EISDIR) : Status(false);
    close(fd);
    return failed;
  }
  file.Adopt(fd);
  return true;
}

Status ReadFile(File& file, void* buffer, std::uint32_t size, std::uint32_t& got) {
  got = 0;
  char* p = static_cast<char*>(buffer);
  // Like the Windows call on a disk file: fill the request unless the file ends first.
  while (got < size) {
    const ssize_t n = read(Fd(file), p + got, size - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::uint32_t>(n);
  }
  return true;
}

Status WriteFile(File& file, const void* buffer, std::uint32_t size) {
  const char* p = static_cast<const char*>(buffer);
  // A write that does nothing at all leaves no errno: a full disk is the one reason it has.
  if (AllBytes(size, [&file, p](std::uint32_t done, std::uint32_t left) {
        errno = ENOSPC;
        return write(Fd(file), p + done, left);
      })) {
    return true;
  }
  return false;
}

Status Seek(File& file, std::uint32_t offset) {
  return lseek(Fd(file), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

Status SeekEnd(File& file, std::uint32_t& length) {
  const off_t end = lseek(Fd(file), 0, SEEK_END);
  if (end < 0) return false;
  if (static_cast<std::uint64_t>(end) > 0xFFFFFFFFull) return Status::Error(kErrorTooLarge);
  length = static_cast<std::uint32_t>(end);
  return true;
}

Status GetLastWriteTime(File& file, std::uint64_t& fileTime) {
  struct stat st;
  if (fstat(Fd(file), &st) != 0) return false;
  // Windows keeps times in 100-ns steps: finer digits are cut, as Wine reports them.
  fileTime = (static_cast<std::uint64_t>(st.st_mtim.tv_sec) + kEpochDifference) * 10000000ull +
             static_cast<std::uint64_t>(st.st_mtim.tv_nsec) / 100;
  return true;
}

Status SetFileTimes(File& file, std::uint64_t fileTime) {
  timespec times[2];
  // Times before 1970 are negative POSIX seconds; the 100-ns remainder stays positive, as timespec
  // wants it. A time the file system cannot hold makes the call fail.
  const std::int64_t seconds = static_cast<std::int64_t>(fileTime / 10000000ull);
  times[0].tv_sec = static_cast<time_t>(seconds - static_cast<std::int64_t>(kEpochDifference));
  times[0].tv_nsec = static_cast<long>((fileTime % 10000000ull) * 100);
  times[1] = times[0];
  return futimens(Fd(file), times) == 0;
}

Status Truncate(File& file, std::uint32_t length) {
  if (ftruncate(Fd(file), static_cast<off_t>(length)) != 0) return false;
  return Seek(file, length);
}

bool FileExists(const char* path) {
  struct stat st;
  return stat(Resolve(path).c_str(), &st) == 0;
}

Status SetNormalAttributes(const char* path) {
  const std::string resolved = Resolve(path);
  struct stat st;
  if (stat(resolved.c_str(), &st) != 0) return false;
  return chmod(resolved.c_str(), st.st_mode | S_IWUSR) == 0;
}

Status RemoveFile(const char* path) { return unlink(Resolve(path).c_str()) == 0; }

Status TempDirectory(char (&buffer)[kPathCapacity]) {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
  if (dir.back() != '/') dir += '/';
  return CopyOut(dir, buffer);
}

Status SystemDirectory(char (&)[kPathCapacity]) { return Status::Error(ENOSYS); }

Status CurrentDirectory(char (&buffer)[kPathCapacity]) {
  char found[kPathCapacity];
  if (getcwd(found, sizeof found) == nullptr) return false;
  return CopyOut(found, buffer);
}

Status GetOwnPath(char (&buffer)[kPathCapacity]) {
  char found[kPathCapacity];
  const ssize_t n = readlink("/proc/self/exe", found, sizeof found);
  if (n <= 0) return false;
  if (n >= static_cast<ssize_t>(sizeof found)) return Status::Error(kErrorNameTooLong);
  return CopyOut(std::string(found, static_cast<std::size_t>(n)), buffer);
}

}  // namespace platform
