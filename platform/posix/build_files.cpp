// What a path names, file identities and whole-file replacement on POSIX, for the native builder.
// Paths go through ResolvePath, so they mean what they mean to the other file calls of this side.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"
#include "platform/posix/resolve.h"

namespace platform {

namespace {

// How many names to try when another file already holds the one drawn.
constexpr int kNameAttempts = 16;

std::uint64_t RandomNumber() {
  std::uint64_t value = 0;
  if (getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) return value;
  // Without the system's generator the name is less secret, but the exclusive create still keeps
  // any file that happens to hold it.
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (static_cast<std::uint64_t>(now.tv_nsec) << 20) ^ static_cast<std::uint64_t>(now.tv_sec) ^
         (static_cast<std::uint64_t>(getpid()) << 40) ^ reinterpret_cast<std::uintptr_t>(&now);
}

// The file a target path designates: a symbolic link is followed, so that the replacement lands
// where writing through the link would have.
std::string FinalTarget(const char* target) {
  const std::string resolved = ResolvePath(target);
  struct stat st;
  if (lstat(resolved.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char* real = realpath(resolved.c_str(), nullptr);
    if (real != nullptr) {
      std::string followed(real);
      std::free(real);
      return followed;
    }
  }
  return resolved;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A rename is only as durable as its folder's entry: write that through too.
void SyncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

FileKind KindOfFile(const char* path) {
  struct stat st;
  if (stat(ResolvePath(path).c_str(), &st) != 0) return FileKind::Missing;
  if (S_ISREG(st.st_mode)) return FileKind::Regular;
  if (S_ISDIR(st.st_mode)) return FileKind::Folder;
  return FileKind::Other;
}

bool IdentifyFile(const char* path, FileIdentity& identity) {
  struct stat st;
  if (stat(ResolvePath(path).c_str(), &st) != 0) return false;
  identity.volume = static_cast<std::uint64_t>(st.st_dev);
  identity.index = static_cast<std::uint64_t>(st.st_ino);
  return true;
}

std::string SystemPath(const char* path) { return ResolvePath(path); }

bool IsReadOnly(const char* path) {
  struct stat st;
  return stat(ResolvePath(path).c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

Status OpenRegularFile(const char* path, File& file) {
  // Without O_NONBLOCK, opening a pipe waits for a writer that may never come.
  const int fd = open(ResolvePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const Status failed = S_ISDIR(st.st_mode) ? Status::Error(EISDIR) : Status::Error(kErrorNotAFile);
    close(fd);
    return failed;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const Status failed = false;
    close(fd);
    return failed;
  }
  file.Adopt(fd);
  return true;
}

Status Replacement::Begin(const char* target, bool followLink) {
  Abandon();
  target_ = followLink ? FinalTarget(target) : ResolvePath(target);
  const std::string folder = FolderOf(target_);
  // The new file takes the permissions of the one it replaces; a new one those a create gives.
  struct stat old;
  const bool replacing = stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, "/~qor%016llx.tmp", static_cast<unsigned long long>(RandomNumber()));
    const std::string candidate = folder + name;
    const int fd = open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    if (replacing) fchmod(fd, old.st_mode & 07777);
    temporary_ = candidate;
    file.Adopt(fd);
    return true;
  }
  return Status::Error(EEXIST);
}

Status Replacement::Commit() {
  if (temporary_.empty() || !file.IsOpen()) return Status::Error(EBADF);
  const Status written = fsync(static_cast<int>(file.Handle())) == 0;
  file.Close();
  const Status moved = written ? Status(rename(temporary_.c_str(), target_.c_str()) == 0) : written;
  if (!moved) {
    Abandon();
    return moved;
  }
  temporary_.clear();
  SyncFolder(FolderOf(target_));
  return true;
}

void Replacement::Abandon() {
  file.Close();
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
}

}  // namespace platform
