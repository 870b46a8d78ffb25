// The one door to the operating system: files and their times, directories, message boxes and
// processes. platform/win32 implements it with the Windows wide calls, platform/posix for the native
// build (where "\" in a path is a separator and a name that does not exist with its exact case is
// looked up per component without regard to case, as Windows would find it).
// Everything above this header is portable: it includes no OS header.
//
// Paths and texts cross this header as "platform text": UTF-8 on Windows, so that any name the file
// system allows reaches it whole; plain bytes natively, as the file system takes them. The setup
// script's texts are bytes in the system's ANSI code page instead (packages and packing lists keep
// them so): FromScriptText turns them into platform text where they become paths or are shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The outcome of a call to the system. A failure keeps the system's own error number (errno
// natively, GetLastError on Windows), taken the moment the call failed, so that a message can say
// why and not only what. It is true on success: a caller that needs only the verdict keeps writing
// `if (!platform::OpenFile(...))`, one that reports it passes the status on to ErrorText.
class Status {
 public:
  // Success.
  Status() = default;
  // A verdict: false takes the error number that the system left for the call that has just failed
  // (so an implementation may `return call() == 0;`), true is success. Implicit on purpose.
  Status(bool ok);  // NOLINT(google-explicit-constructor)
  // A failure with a given error number, for failures the caller detects itself (a path too long).
  static Status Error(std::uint32_t number) {
    Status status;
    status.ok_ = false;
    status.error_ = number;
    return status;
  }

  explicit operator bool() const { return ok_; }
  std::uint32_t error() const { return error_; }

 private:
  bool ok_ = true;
  std::uint32_t error_ = 0;
};

// The system's text for a failed `status`, in the user's language, on one line and ending with a
// period: "Access is denied." on Windows, "Permission denied." natively. A status that carries no
// error number gives "the system gave no reason.".
std::string ErrorText(const Status& status);

// The system's error numbers that the portable code sets itself on a failure it detects.
extern const std::uint32_t kErrorNameTooLong;  // a path does not fit 259 characters
extern const std::uint32_t kErrorTooLarge;     // a file of 4 GiB or more
extern const std::uint32_t kErrorNotAFile;     // a folder, a device or a pipe where a file was wanted
// A link or reparse point, or a file with several names, where a file of this process's own was
// wanted: never followed (a number of this program's own on both hosts).
constexpr std::uint32_t kErrorLink = 0x20000001u;

// Every path of the system has at most 259 characters, counted as Windows counts them (UTF-16
// units), so that the Windows calls take it without a long-path prefix. A path buffer holds that
// many characters as UTF-8 (at most three bytes each) and a terminator.
constexpr std::size_t kMaxPathLength = 259;
constexpr std::size_t kPathCapacity = 3 * kMaxPathLength + 1;

// How many characters Windows counts in the platform text `path`: UTF-16 units of its UTF-8, and one
// for each byte that is not part of a valid UTF-8 sequence (natively a name may hold any bytes).
std::size_t PathLength(const std::string& path);
// True when `path` has at most kMaxPathLength characters and fits a kPathCapacity buffer.
bool PathFits(const std::string& path);
// The length of the UTF-8 sequence of two to four bytes that starts at `p` (`left` bytes are
// there), or 0 when none does: an ASCII byte, a stray continuation byte, an overlong form, a
// surrogate, a value past U+10FFFF or a cut sequence.
std::size_t SequenceLength(const unsigned char* p, std::size_t left);

// The setup script's bytes (ANSI code page) as platform text, and back (a character the code page
// lacks becomes "?"). Natively both hand the bytes on as they are.
std::string FromScriptText(const std::string& text);
std::string ToScriptText(const std::string& text);
// The bytes of a text in the Windows code page `codePage` as platform text; 0 names the machine's
// ANSI code page (FromScriptText). A code page the system cannot convert from is read as the
// machine's. Natively the bytes are handed on as they are.
std::string FromScriptText(const std::string& text, std::uint32_t codePage);

// A language as the system knows it, for choosing the section of a setup script's texts.
struct Language {
  std::uint16_t id = 0;            // the language identifier (LANGID: primary language in the low
                                   // ten bits); 0 when the system knows no such language
  std::string abbreviation;        // its three-letter name (LOCALE_SABBREVLANGNAME), as "DEU"
  std::uint32_t ansiCodePage = 0;  // its ANSI code page (LOCALE_IDEFAULTANSICODEPAGE); 0 when it
                                   // has none (a language written in Unicode only)
};
// The user's UI language (GetUserDefaultUILanguage). Natively always English (United States):
// 0x0409, "ENU", code page 1252, since no system there tells a Windows language.
Language UserLanguage();
// The language whose abbreviation is `abbreviation` (without regard to ASCII case), found among the
// system's locales; id 0 when none has it. Natively only ENU is known.
Language FindLanguage(const std::string& abbreviation);

// True when two names in the script's code page name the same file to Windows, whose file systems
// compare names without regard to case for every letter of the code page (é and É, š and Š). Windows
// compares them as it compares file names; natively the code page is taken to be Windows-1252, the
// Western European one, since the build machine cannot know the installing machine's.
bool SameScriptName(const std::string& a, const std::string& b);

// An open file; closes itself. Move-only.
class File {
 public:
  File() = default;
  ~File() { Close(); }
  File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kInvalid; }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      other.handle_ = kInvalid;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool IsOpen() const { return handle_ != kInvalid; }
  void Close();
  std::intptr_t Handle() const { return handle_; }
  void Adopt(std::intptr_t handle) { Close(); handle_ = handle; }

 private:
  static constexpr std::intptr_t kInvalid = -1;
  std::intptr_t handle_ = kInvalid;
};

enum class OpenMode {
  ReadShared,      // read access, shared reading, must exist (sources, the stub, the own package)
  ReadWrite,       // read and write access, no sharing, must exist
  CreateAlways,    // read and write access, no sharing, created anew or truncated
};

// Each fails with the system's reason and leaves the file as it was; nothing is reported here.
Status OpenFile(const char* path, OpenMode mode, File& file);
// Reads up to `size` bytes; `got` receives how many were read (0 at the end of the file).
Status ReadFile(File& file, void* buffer, std::uint32_t size, std::uint32_t& got);
// ReadFile for readers that take their bytes through a callback: `file` is a File.
inline bool ReadFromFile(void* file, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got) {
  return !!ReadFile(*static_cast<File*>(file), buffer, size, got);
}
// Writes all `size` bytes or fails (a full disk is a failure, never a short write that succeeds).
Status WriteFile(File& file, const void* buffer, std::uint32_t size);
// Moves to an absolute offset from the start of the file.
Status Seek(File& file, std::uint32_t offset);
// Moves to the end of the file and returns its length; fails for files of 4 GiB or more.
Status SeekEnd(File& file, std::uint32_t& length);
// The last-write time as a Windows file time: 100-ns intervals since 1601-01-01 UTC.
Status GetLastWriteTime(File& file, std::uint64_t& fileTime);
// Sets creation (where the system keeps one), last-access and last-write time alike.
Status SetFileTimes(File& file, std::uint64_t fileTime);
// Cuts the file to `length` bytes and moves to its new end (the builder drops a compressed
// segment that it has to code again).
Status Truncate(File& file, std::uint32_t length);

// True when a directory search for the path finds at least one entry.
bool FileExists(const char* path);
Status SetNormalAttributes(const char* path);  // clears read-only and the like
Status RemoveFile(const char* path);

// What a file's version resource (an executable's or a DLL's) holds, as far as the version stamp
// needs it.
enum class VersionBlock {
  None,         // no version resource, or the file cannot be read
  NoFixedPart,  // a version resource without a fixed file version; nothing is stored
  Fixed,        // versionMS and versionLS hold dwFileVersionMS and dwFileVersionLS
};
// Reads the fixed file version of the file's version resource. Windows asks version.dll (loaded
// from the system directory); the native build reads the PE resource itself.
VersionBlock ReadFixedFileVersion(const char* path, std::uint32_t& versionMS, std::uint32_t& versionLS);

// ---- The files a build reads and writes: what a path names, file identities, and a file written
// beside its target and moved over it only once complete. ----

enum class FileKind {
  Missing,  // nothing there (or nothing the system lets us see)
  Regular,  // a plain file
  Folder,
  Other,    // a device, pipe or socket: reading it could block forever or never end
};
// What `path` names, found without opening it for reading.
FileKind KindOfFile(const char* path);

// Which file a path reaches, whatever name, case, link or folder steps lead there: device and inode
// natively, volume serial and file index on Windows.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
};
inline bool operator==(const FileIdentity& a, const FileIdentity& b) {
  return a.volume == b.volume && a.index == b.index;
}
// False when the path names no file or folder whose identity the system gives.
bool IdentifyFile(const char* path, FileIdentity& identity);

// The path the system opens for `path` as a packing list writes it: natively with "\\" read as a
// separator and each component's case matched as the other file calls match it; on Windows `path`
// itself. For a tool that hands the build's inputs on to other programs (a dependency file).
std::string SystemPath(const char* path);

// The value of the environment variable `name` as platform text; false when it is not set (Windows
// too: a builder run there reads the same variables as the native one).
bool EnvironmentValue(const char* name, std::string& value);

// True for an existing file marked read-only: the Windows attribute; natively a file that nobody may
// write, which is how Wine shows that attribute.
bool IsReadOnly(const char* path);

// Opens an existing plain file for shared reading; false for anything else (a folder, a device, a
// pipe), found without waiting for a pipe's writer.
Status OpenRegularFile(const char* path, File& file);

// A file that replaces `target` only once it is complete: written to a temporary file of an
// unpredictable name, created exclusively in the target's folder, and moved over the target by
// Commit. Until then the target stays as it was; a replacement that is not committed deletes its
// temporary file.
class Replacement {
 public:
  Replacement() = default;
  ~Replacement() { Abandon(); }
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // Creates the temporary file, open for reading and writing in `file`. Natively a symbolic link at
  // `target` is followed, so that the file replaces what writing through the link would have;
  // without `followLink` (a file in a folder others may write, such as the build log) the link
  // itself is replaced. Windows always replaces the name itself.
  Status Begin(const char* target, bool followLink = true);
  // Writes the file through to the disk, closes it and moves it over the target. False, with the
  // temporary file deleted and the target untouched, when that fails.
  Status Commit();
  // Closes and deletes the temporary file, if there is one.
  void Abandon();
  bool IsActive() const { return !temporary_.empty(); }

  File file;

 private:
  std::string temporary_;
  std::string target_;
};

// Directory queries. Each writes a terminated path into a kPathCapacity buffer and fails (returning
// false) rather than truncate, or when the path has more than kMaxPathLength characters. The
// temporary directory ends with the separator.
Status TempDirectory(char (&buffer)[kPathCapacity]);
Status SystemDirectory(char (&buffer)[kPathCapacity]);
Status CurrentDirectory(char (&buffer)[kPathCapacity]);
// The full path of the running executable.
Status GetOwnPath(char (&buffer)[kPathCapacity]);

// Message box styles and answers, with the platform's values.
constexpr unsigned kMbOk = 0x0;
constexpr unsigned kMbYesNo = 0x4;
constexpr unsigned kMbIconWarning = 0x30;
constexpr unsigned kMbIconQuestion = 0x20;
constexpr unsigned kMbIconInformation = 0x40;
constexpr unsigned kMbSetForeground = 0x10000;
constexpr int kIdYes = 6;
// Shows a box with no owner window and returns the answer; both texts are platform text. On POSIX
// the caption and the text go to standard error and the answer is 0.
int ShowMessageBox(const char* text, const char* caption, unsigned style);

// A started process. Move-only; closes its handles.
class Process {
 public:
  Process() = default;
  ~Process() { Release(); }
  Process(Process&& other) noexcept
      : handle_(other.handle_), thread_(other.thread_), started_(other.started_) {
    other.started_ = false;
  }
  Process& operator=(Process&& other) noexcept {
    if (this != &other) {
      Release();
      handle_ = other.handle_;
      thread_ = other.thread_;
      started_ = other.started_;
      other.started_ = false;
    }
    return *this;
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool IsStarted() const { return started_; }
  // The implementation's handles; only the platform side looks at them.
  std::intptr_t handle_ = -1;
  std::intptr_t thread_ = -1;
  bool started_ = false;

 private:
  void Release();  // gives the platform's handles back; per platform
};

// Starts the program at the full path `program` with the command line `commandLine` (whose first
// word names the program again, by Windows quoting rules) in the current directory, with the
// caller's environment. The program is never searched for: it is the file `program` names. False
// when it cannot be started. Natively the command line runs through /bin/sh and `program` is not
// looked at.
Status StartProcess(const char* program, const char* commandLine, Process& process);

// Sets the environment variable `name` of this process, which the processes it starts inherit.
Status SetEnvironmentValue(const char* name, const char* value);
// Waits up to `milliseconds` for the process to end. True once it has ended; `exitCode` then holds
// its full 32-bit exit status (0xFFFFFFFF when the wait itself fails). False only on a timeout.
bool WaitForProcess(Process& process, std::uint32_t milliseconds, std::uint32_t& exitCode);

void Sleep(std::uint32_t milliseconds);

// Registers the common controls (the dialog's progress bar class); nothing to do on POSIX.
void InitCommonControls();

// Keeps DLLs out of reach that lie beside the executable (a downloads folder may hold planted
// ones): DLLs are then searched in the system directory only. Called first thing at start-up;
// nothing to do on POSIX.
void RestrictDllSearch();

}  // namespace platform

// ---- Private folders and files that only this process writes ----------------------------------
// The installer's extraction folder and its files: another process of the same user, or of any user
// when the temporary directory is shared, must not be able to predict, plant, swap or edit them.
namespace platform {

// Fills `buffer` with bytes from the system's cryptographic random source.
Status RandomBytes(void* buffer, std::uint32_t size);

// A fresh name for a private folder: "Qor" and 16 hexadecimal digits from the random source. False
// when the source fails.
bool PrivateFolderName(std::string& name);

// Who may change a private folder and what is in it.
enum class FolderGuard {
  // The installing user, the Administrators and SYSTEM, with full control: the folder of a process
  // that has no more rights than the user's other processes (they could change it anyway).
  UserOnly,
  // The Administrators and SYSTEM, with full control; the user may only read and run what is there.
  // A High mandatory label with no-write-up keeps every process below High integrity from writing,
  // deleting or renaming anything in it, whatever the list says; no entry is inherited from the
  // parent. The folder of an elevated process or of SYSTEM, which the user's unelevated processes
  // must not be able to steer.
  InstallerOnly,
};
// The guard of the private folders of a process that is elevated (its token is the full one of an
// administrator) or runs as SYSTEM, or neither. The one place that decides it.
constexpr FolderGuard ChooseFolderGuard(bool elevated, bool runsAsSystem) {
  return elevated || runsAsSystem ? FolderGuard::InstallerOnly : FolderGuard::UserOnly;
}

// Creates a new folder in `parent` (which ends with its separator) under an unpredictable name,
// exclusively: an existing folder of that name is never taken over (another name is tried). Windows
// gives it an access list of its own, not inherited from the parent, as ChooseFolderGuard decides
// for the process's token (inherited by everything created in it); POSIX gives it mode 0700. `path`
// receives the folder's path with its separator. False when no folder was created.
// With `held`, the folder comes back open in it, created and opened in one step, without delete
// sharing: for as long as `held` stays open nobody can rename, move or delete the folder, nor put
// anything else at its name (natively the descriptor only pins the folder's identity). Its identity
// (IdentifyOpenFile) is what RemoveFileIfSame takes to remove it at the end.
Status CreatePrivateDirectory(const char* parent, char (&path)[kPathCapacity]);
Status CreatePrivateDirectory(const char* parent, char (&path)[kPathCapacity], File& held);

// Creates the folder `path` exactly as written (no case matching); true when it was created or is
// already a folder.
Status MakeDirectory(const char* path);

// Removes the empty folder `path`.
Status RemoveFolder(const char* path);

// Creates the file `path` exactly as written: no case matching, and a link is never followed. With
// `exclusive`, fails when anything of that name exists; else an existing file is emptied. The file is
// open for reading and writing and nobody else may open it meanwhile.
Status CreateFileExact(const char* path, bool exclusive, File& file);

// Opens an existing file for reading and keeps it from other writers for as long as it stays open:
// others may read it (and run it), but not write, delete or rename it.
Status OpenLockedForReading(const char* path, File& file);

// The identity of an open file (as IdentifyFile gives it for a path).
Status IdentifyOpenFile(File& file, FileIdentity& identity);

// Deletes `path` only while it is the file (or empty folder) of `identity`: a link there is deleted
// itself, never what it points at, and a file or folder that another process put in place of this
// one stays (kErrorLink). A folder that is not empty stays too, with the system's reason.
Status RemoveFileIfSame(const char* path, const FileIdentity& identity);

// IdentifyOpenFile and RemoveFileIfSame for the entries of a folder this process holds open
// (`folder`, of identity `folderIdentity`), by the entry's `name` alone: the name is opened
// relative to the held folder, so no path above it is followed again, and an entry lies on its
// folder's volume, so the volume is not asked for. (Under Wine that question is a request to its
// mount manager service, about half a millisecond: two a file took about a twentieth of an
// install's own time.) The identities are those that IdentifyOpenFile gives, and compare with them.
Status IdentifyEntry(const FileIdentity& folderIdentity, File& file, FileIdentity& identity);
Status RemoveEntryIfSame(File& folder, const FileIdentity& folderIdentity, const char* name, const FileIdentity& identity);

// The mark of a live run in its private folder: created exclusively and held open without delete
// sharing (natively with an exclusive lock) until `mark` is closed or the process ends, however it
// ends.
Status CreateLiveMark(const char* path, File& mark);
// True while the mark at `path` is held by a running process, and whenever that cannot be told.
bool IsLiveMarkHeld(const char* path);

// The names of the entries of the folder `path` ("." and ".." left out).
Status ListFolder(const char* path, std::vector<std::string>& names);

// Empties and removes the folder `path` (which ends with its separator) of a run that is gone: its
// entries are deleted through the folder as it was opened, never through a link or junction put in
// its place or in place of an entry, and a subfolder is removed only when it is empty.
Status RemoveStaleFolder(const char* path);

// How OpenRecord opens a record.
enum class RecordMode {
  Append,   // every write lands at the end; other processes may append at the same time
  Replace,  // the file is emptied first; others may only read it
};

// Opens the record `path` for writing in a folder that another, unprivileged process may write
// (the temporary folder, a /log FILE, the current folder): a link or reparse point at the name is
// never followed, nothing is ever created through a dangling one, and a file with more than one
// name (a hard link to another file) is refused; so is a folder. A pipe or a device is taken as it
// is. Creates the file when the name is free. Fails with kErrorLink for a link or a file of several
// names.
Status OpenRecord(const char* path, RecordMode mode, File& file);

}  // namespace platform
