// Private folders and exactly named files on POSIX: mode 0700, exclusive creation, no links followed
// and no case matching (these paths are never packing-list paths).
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/all_bytes.h"

namespace platform {

namespace {

constexpr int kNameAttempts = 16;

std::string Slashes(const char* path) {
  std::string p(path);
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  return p;
}

// O_NOFOLLOW reports a link at the name as ELOOP, which reads as a loop of links: it is a link
// that this call refuses to follow.
Status Adopt(int fd, File& file) {
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const Status failed = S_ISREG(st.st_mode) ? Status(false) : Status::Error(kErrorNotAFile);
    close(fd);
    return failed;
  }
  file.Adopt(fd);
  return true;
}

}  // namespace

Status RandomBytes(void* buffer, std::uint32_t size) {
  auto* p = static_cast<unsigned char*>(buffer);
  return AllBytes(size, [p](std::uint32_t done, std::uint32_t left) { return getrandom(p + done, left, 0); });
}

Status CreatePrivateDirectory(const char* parent, char (&path)[kPathCapacity]) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name;
    if (!PrivateFolderName(name)) return false;
    const std::string folder = Slashes(parent) + name;
    if (!PathFits(folder + "/")) return Status::Error(kErrorNameTooLong);
    // mkdir never opens an existing folder; the mode is set again because the umask may take bits.
    if (mkdir(folder.c_str(), 0700) == 0) {
      if (chmod(folder.c_str(), 0700) != 0) {
        const Status failed = false;
        rmdir(folder.c_str());
        return failed;
      }
      std::memcpy(path, folder.c_str(), folder.size());
      path[folder.size()] = '/';
      path[folder.size() + 1] = '\0';
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return Status::Error(EEXIST);
}

Status MakeDirectory(const char* path) {
  const std::string p = Slashes(path);
  if (mkdir(p.c_str(), 0777) == 0) return true;
  if (errno != EEXIST) return false;
  struct stat st;
  if (stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  return Status::Error(EEXIST);
}

Status RemoveFolder(const char* path) { return rmdir(Slashes(path).c_str()) == 0; }

Status CreateFileExact(const char* path, bool exclusive, File& file) {
  const int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
  return Adopt(open(Slashes(path).c_str(), flags, 0644), file);
}

Status OpenLockedForReading(const char* path, File& file) {
  // POSIX has no share modes: the native side only reads the file without following a link.
  return Adopt(open(Slashes(path).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC), file);
}

Status OpenForAppend(const char* path, File& file) {
  return Adopt(open(Slashes(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644), file);
}

}  // namespace platform
