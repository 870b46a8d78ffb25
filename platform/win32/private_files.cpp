// Private folders and locked files with the Windows calls: the extraction folder created with its own
// descriptor and held open from the start, exclusive creation, and share modes that keep other
// writers out.
#include <windows.h>
#include <ntsecapi.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/folder_access.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

constexpr int kNameAttempts = 16;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The native calls that create a folder and open it in one step. ntdll is part of every process, so
// they are taken from it at run time; the executable imports only the documented system DLLs.
using NtCreateFileFunction = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                              PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtStatusToErrorFunction = ULONG(NTAPI*)(NTSTATUS);
using NtQueryInformationFileFunction = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
// The file's index on its volume (the native information class FileInternalInformation).
constexpr ULONG kFileInternalInformation = 6;
struct FileInternal {
  LARGE_INTEGER index;
};

template <typename Function>
Function NativeFunction(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

// The status of a native call as the system's error number.
Status NativeStatus(NTSTATUS status) {
  if (status >= 0) return true;
  const auto toError = NativeFunction<NtStatusToErrorFunction>("RtlNtStatusToDosError");
  return Status::Error(toError != nullptr ? toError(status) : ERROR_GEN_FAILURE);
}

// NtCreateFile of `name` relative to the folder handle `parent` (the name alone is looked up there,
// without regard to case), with the given access, sharing, disposition and options, and the
// descriptor `descriptor` for what it creates (null: inherited); the handle goes to `opened`.
Status CreateRelative(HANDLE parent, std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                      ULONG options, void* descriptor, HANDLE& opened) {
  const auto createFile = NativeFunction<NtCreateFileFunction>("NtCreateFile");
  if (createFile == nullptr) return false;
  UNICODE_STRING objectName;
  objectName.Buffer = &name[0];
  objectName.Length = objectName.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, parent, descriptor);
  IO_STATUS_BLOCK io = {};
  opened = nullptr;
  return NativeStatus(createFile(&opened, access, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
                                 options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0));
}

}  // namespace

Status RandomBytes(void* buffer, std::uint32_t size) { return RtlGenRandom(buffer, size) != FALSE; }

Status CreatePrivateDirectory(const char* parent, char (&path)[kPathCapacity]) {
  File held;
  return CreatePrivateDirectory(parent, path, held);
}

Status CreatePrivateDirectory(const char* parent, char (&path)[kPathCapacity], File& held) {
  TokenFacts facts;
  FolderDescriptor descriptor;
  if (!ReadTokenFacts(facts) || !descriptor.Build(ChooseFolderGuard(facts.elevated, facts.system), facts.UserSid())) {
    return false;
  }
  std::string parentFolder = parent;
  if (parentFolder.size() > 3 && parentFolder.back() == '\\') parentFolder.pop_back();
  std::wstring wideParent;
  if (!Widen(parentFolder, wideParent)) return false;
  // The folder is created by its name relative to this handle on the parent: the parent is resolved
  // once, and every attempt lands in the same folder.
  if (NativeFunction<NtCreateFileFunction>("NtCreateFile") == nullptr) return false;
  const HANDLE parentHandle = CreateFileW(wideParent.c_str(), FILE_TRAVERSE | FILE_ADD_SUBDIRECTORY | SYNCHRONIZE,
                                          kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (parentHandle == INVALID_HANDLE_VALUE) return false;
  Status created = Status::Error(ERROR_ALREADY_EXISTS);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name;
    if (!PrivateFolderName(name)) {
      created = false;
      break;
    }
    const std::string folder = parent + name;
    std::wstring wideName;
    if (!PathFits(folder + "\\")) {
      created = Status::Error(kErrorNameTooLong);
      break;
    }
    if (!Widen(name, wideName)) {
      created = false;
      break;
    }
    // Created and opened in one call, so that no moment passes in which the folder exists and this
    // process holds no handle on it: another process cannot rename it and put its own folder or a
    // junction at the name before the handle is there. FILE_CREATE never opens anything that exists
    // (a planted folder, a link) and never follows a link. The handle shares reading and writing
    // but not deleting, so nobody can open the folder for the delete access that renaming, moving
    // or deleting it takes for as long as it is open (on NTFS a folder above one that is open cannot
    // be renamed either, so the path keeps leading here). It has no delete access itself: a handle
    // that had would keep out every opener that does not share deleting, among them a finishing
    // command that makes the folder its current directory ("cd /d %~dp0").
    HANDLE h = nullptr;
    created = CreateRelative(parentHandle, wideName, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE, FILE_DIRECTORY_FILE, descriptor.Get(), h);
    if (created) {
      held.Adopt(reinterpret_cast<std::intptr_t>(h));
      std::snprintf(path, kPathCapacity, "%s\\", folder.c_str());
      break;
    }
    if (created.error() != ERROR_ALREADY_EXISTS && created.error() != ERROR_FILE_EXISTS) break;
  }
  CloseHandle(parentHandle);
  return created;
}

Status MakeDirectory(const char* path) {
  std::wstring wide;
  if (!Widen(path, wide)) return false;
  if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
  const Status failed = false;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
  return failed;
}

Status RemoveFolder(const char* path) {
  std::wstring wide;
  if (!Widen(path, wide)) return false;
  return RemoveDirectoryW(wide.c_str()) != FALSE;
}

Status CreateFileExact(const char* path, bool exclusive, File& file) {
  return OpenWide(path, GENERIC_READ | GENERIC_WRITE, 0, exclusive ? CREATE_NEW : CREATE_ALWAYS, file);
}

Status OpenLockedForReading(const char* path, File& file) {
  // Sharing reading only: while this handle is open, no other open for writing or deleting (which
  // renaming needs) succeeds, and one that is already open makes this call fail. Starting the file
  // as a program opens it for reading and executing, which this sharing allows.
  return OpenWide(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, file);
}

Status OpenRecord(const char* path, RecordMode mode, File& file) {
  std::wstring wide;
  if (!Widen(path, wide)) return false;
  // Append access alone makes every write land at the end, also when two installers write at once.
  const bool append = mode == RecordMode::Append;
  const DWORD access = (append ? FILE_APPEND_DATA | SYNCHRONIZE : GENERIC_WRITE) | FILE_READ_ATTRIBUTES;
  const DWORD share = append ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
  // An existing name is opened as itself: FILE_FLAG_OPEN_REPARSE_POINT opens a link or junction, not
  // what it points at, and the checks below refuse it. A free name is created with CREATE_NEW, which
  // fails on a dangling link instead of creating its target. (Wine shows a Unix symbolic link as the
  // file it points at, with no reparse attribute; there only a dangling one and a hard link are
  // caught.)
  HANDLE h = CreateFileW(wide.c_str(), access, share, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    h = CreateFileW(wide.c_str(), access, share, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) return Status::Error(kErrorLink);
  }
  if (h == INVALID_HANDLE_VALUE) return false;
  // A pipe or a device (a monitoring tool's pipe, NUL) has no name of its own to follow or share:
  // it takes the lines as they come.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    file.Adopt(reinterpret_cast<std::intptr_t>(h));
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info;
  Status checked = GetFileInformationByHandle(h, &info) != FALSE;
  if (checked && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) checked = Status::Error(kErrorNotAFile);
  if (checked && ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks > 1)) {
    checked = Status::Error(kErrorLink);
  }
  if (checked && !append) checked = SetEndOfFile(h) != FALSE;
  if (!checked) {
    CloseHandle(h);
    return checked;
  }
  file.Adopt(reinterpret_cast<std::intptr_t>(h));
  return true;
}

namespace {

// Deletes the file of the open handle `h` (opened with DELETE access): the name it was opened by
// goes, whatever is put at that name later.
Status DeleteByHandle(HANDLE h) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// The final path of an open file or folder, every link resolved; empty when the system cannot say.
std::wstring FinalPath(HANDLE h) {
  wchar_t path[MAX_PATH * 2];
  const DWORD length = GetFinalPathNameByHandleW(h, path, MAX_PATH * 2, FILE_NAME_NORMALIZED);
  return length != 0 && length < MAX_PATH * 2 ? std::wstring(path, length) : std::wstring();
}

}  // namespace

Status IdentifyOpenFile(File& file, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(file.Handle()), &info)) return false;
  identity.volume = info.dwVolumeSerialNumber;
  identity.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

Status IdentifyEntry(const FileIdentity& folderIdentity, File& file, FileIdentity& identity) {
  // The index alone, the same number that IdentifyOpenFile's record holds.
  const auto query = NativeFunction<NtQueryInformationFileFunction>("NtQueryInformationFile");
  if (query == nullptr) return false;
  IO_STATUS_BLOCK io = {};
  FileInternal internal = {};
  const Status known = NativeStatus(query(reinterpret_cast<HANDLE>(file.Handle()), &io, &internal, sizeof internal,
                                          kFileInternalInformation));
  if (!known) return known;
  identity.volume = folderIdentity.volume;
  identity.index = static_cast<std::uint64_t>(internal.index.QuadPart);
  return true;
}

Status RemoveEntryIfSame(File& folder, const FileIdentity& folderIdentity, const char* name, const FileIdentity& identity) {
  std::wstring wide;
  if (!Widen(name, wide)) return false;
  // As RemoveFileIfSame, but the name is opened relative to the held folder (its entry itself:
  // FILE_OPEN_REPARSE_POINT follows no link or junction put there), and deleted through the handle
  // it is compared by.
  HANDLE h = nullptr;
  Status done = CreateRelative(reinterpret_cast<HANDLE>(folder.Handle()), wide, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                               kShareAll, FILE_OPEN, FILE_OPEN_REPARSE_POINT, nullptr, h);
  if (!done) return done;
  File entry;
  entry.Adopt(reinterpret_cast<std::intptr_t>(h));
  FileIdentity found;
  done = IdentifyEntry(folderIdentity, entry, found);
  if (done && !(found == identity)) done = Status::Error(kErrorLink);
  if (done) done = DeleteByHandle(h);
  return done;
}

Status RemoveFileIfSame(const char* path, const FileIdentity& identity) {
  std::wstring wide;
  if (!Widen(path, wide)) return false;
  // The name is opened itself (a link or junction put there is not followed), compared with the
  // file this run created, and deleted through the same handle: nothing can come between the
  // comparison and the delete.
  // (Backup semantics let the call open a folder too; deleting a folder that is not empty fails.)
  HANDLE h = CreateFileW(wide.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  Status done = GetFileInformationByHandle(h, &info) != FALSE;
  if (done && (info.dwVolumeSerialNumber != identity.volume ||
               ((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow) != identity.index)) {
    done = Status::Error(kErrorLink);
  }
  if (done) done = DeleteByHandle(h);
  CloseHandle(h);
  return done;
}

Status CreateLiveMark(const char* path, File& mark) {
  // Shared for reading only: a later run that asks for delete access to see whether the mark is
  // still held gets a sharing violation until this process ends, however it ends.
  return OpenWide(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, mark);
}

bool IsLiveMarkHeld(const char* path) {
  std::wstring wide;
  if (!Widen(path, wide)) return true;
  HANDLE h = CreateFileW(wide.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return true;
  CloseHandle(h);
  return false;
}

Status ListFolder(const char* path, std::vector<std::string>& names) {
  names.clear();
  std::wstring wide;
  if (!Widen(std::string(path) + "\\*", wide)) return false;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(wide.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(Narrow(name));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return true;
}

Status RemoveStaleFolder(const char* path) {
  std::string folder = path;
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  std::wstring wide;
  if (!Widen(folder, wide)) return false;
  // The folder is held without delete sharing while its entries go, so that it cannot be renamed
  // and replaced by a junction meanwhile; each entry is opened itself (no link followed) and
  // deleted only when its final path lies in the held folder's, so that a swapped parent cannot
  // send a delete elsewhere.
  HANDLE held = CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (held == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(held, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    CloseHandle(held);
    return Status::Error(kErrorLink);
  }
  const std::wstring heldPath = FinalPath(held);
  std::vector<std::string> names;
  ListFolder(folder.c_str(), names);
  for (const std::string& name : names) {
    std::wstring entry;
    if (heldPath.empty() || !Widen(folder + "\\" + name, entry)) continue;
    HANDLE h = CreateFileW(entry.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) continue;
    const std::wstring entryPath = FinalPath(h);
    if (entryPath.size() > heldPath.size() && entryPath.compare(0, heldPath.size(), heldPath) == 0 &&
        entryPath[heldPath.size()] == L'\\') {
      DeleteByHandle(h);  // a subfolder goes only when it is empty
    }
    CloseHandle(h);
  }
  CloseHandle(held);
  return RemoveDirectoryW(wide.c_str()) != FALSE;
}

}  // namespace platform
