// Private folders and exactly named files on POSIX: mode 0700, exclusive creation, no links followed
// and no case matching (these paths are never packing-list paths).
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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
  File held;
  return CreatePrivateDirectory(parent, path, held);
}

Status CreatePrivateDirectory(const char* parent, char (&path)[kPathCapacity], File& held) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name;
    if (!PrivateFolderName(name)) return false;
    const std::string folder = Slashes(parent) + name;
    if (!PathFits(folder + "/")) return Status::Error(kErrorNameTooLong);
    // mkdir never opens an existing folder; the mode is set again because the umask may take bits.
    if (mkdir(folder.c_str(), 0700) != 0) {
      if (errno != EEXIST) return false;
      continue;
    }
    // POSIX cannot create and open a folder in one call. The folder is opened without following a
    // link and taken only while it is a folder of this user's with mode 0700: whatever another
    // process puts at the name in the instant after mkdir is refused, unless it is such a folder,
    // which only this user's own processes can make, and they could change this one anyway.
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    Status opened = fd >= 0 && fchmod(fd, 0700) == 0 && fstat(fd, &st) == 0;
    if (opened && (st.st_uid != geteuid() || (st.st_mode & 07777) != 0700)) opened = Status::Error(kErrorLink);
    if (!opened) {
      if (fd >= 0) close(fd);
      rmdir(folder.c_str());
      return opened;
    }
    held.Adopt(fd);
    std::memcpy(path, folder.c_str(), folder.size());
    path[folder.size()] = '/';
    path[folder.size() + 1] = '\0';
    return true;
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

Status OpenRecord(const char* path, RecordMode mode, File& file) {
  // O_NOFOLLOW refuses a symbolic link at the name, dangling or not, so O_CREAT never creates its
  // target; O_NONBLOCK keeps a planted pipe from holding the open. The file is emptied only once it
  // is known to be a plain file of one name.
  const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (mode == RecordMode::Append ? O_APPEND : 0);
  const int fd = open(Slashes(path).c_str(), flags, 0644);
  if (fd < 0) return errno == ELOOP ? Status::Error(kErrorLink) : Status(false);
  struct stat st;
  Status checked = fstat(fd, &st) == 0;
  // A pipe or a device has no name of its own to follow or share: it takes the lines as they come.
  const bool plain = checked && S_ISREG(st.st_mode);
  if (checked && S_ISDIR(st.st_mode)) checked = Status::Error(kErrorNotAFile);
  if (plain && st.st_nlink > 1) checked = Status::Error(kErrorLink);
  if (plain && checked && mode == RecordMode::Replace) checked = ftruncate(fd, 0) == 0;
  if (!checked) {
    close(fd);
    return checked;
  }
  file.Adopt(fd);
  return true;
}

Status IdentifyOpenFile(File& file, FileIdentity& identity) {
  struct stat st;
  if (fstat(static_cast<int>(file.Handle()), &st) != 0) return false;
  identity.volume = static_cast<std::uint64_t>(st.st_dev);
  identity.index = static_cast<std::uint64_t>(st.st_ino);
  return true;
}

Status RemoveFileIfSame(const char* path, const FileIdentity& identity) {
  // The folder is this process's own (mode 0700): between the look and the unlink nobody else can
  // put another file at the name.
  std::string p = Slashes(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  struct stat st;
  if (lstat(p.c_str(), &st) != 0) return false;
  if (static_cast<std::uint64_t>(st.st_dev) != identity.volume || static_cast<std::uint64_t>(st.st_ino) != identity.index) {
    return Status::Error(kErrorLink);
  }
  return (S_ISDIR(st.st_mode) ? rmdir(p.c_str()) : unlink(p.c_str())) == 0;
}

Status IdentifyEntry(const FileIdentity&, File& file, FileIdentity& identity) { return IdentifyOpenFile(file, identity); }

Status RemoveEntryIfSame(File& folder, const FileIdentity& folderIdentity, const char* name, const FileIdentity& identity) {
  // As RemoveFileIfSame, by the name relative to the held folder.
  const int fd = static_cast<int>(folder.Handle());
  struct stat st;
  if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (static_cast<std::uint64_t>(st.st_dev) != folderIdentity.volume ||
      static_cast<std::uint64_t>(st.st_dev) != identity.volume || static_cast<std::uint64_t>(st.st_ino) != identity.index) {
    return Status::Error(kErrorLink);
  }
  return unlinkat(fd, name, S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) == 0;
}

Status CreateLiveMark(const char* path, File& mark) {
  const int fd = open(Slashes(path).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const Status failed = false;
    close(fd);
    return failed;
  }
  mark.Adopt(fd);
  return true;
}

bool IsLiveMarkHeld(const char* path) {
  const int fd = open(Slashes(path).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;
  const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
  close(fd);
  return held;
}

Status ListFolder(const char* path, std::vector<std::string>& names) {
  names.clear();
  DIR* dir = opendir(Slashes(path).c_str());
  if (dir == nullptr) return false;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return true;
}

Status RemoveStaleFolder(const char* path) {
  std::string folder = Slashes(path);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  // Every entry goes through the folder's own descriptor, opened without following a link: a
  // folder swapped for a link after this open cannot redirect the deletes.
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    const Status failed = false;
    close(fd);
    return failed;
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  for (const std::string& name : names) {
    struct stat st;
    if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    unlinkat(fd, name.c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0);
  }
  closedir(dir);
  return rmdir(folder.c_str()) == 0;
}

}  // namespace platform
