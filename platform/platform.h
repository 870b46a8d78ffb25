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

namespace platform {

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

// Each returns false on failure and leaves the file as it was; nothing is reported here.
bool OpenFile(const char* path, OpenMode mode, File& file);
// Reads up to `size` bytes; `got` receives how many were read (0 at the end of the file).
bool ReadFile(File& file, void* buffer, std::uint32_t size, std::uint32_t& got);
// ReadFile for readers that take their bytes through a callback: `file` is a File.
inline bool ReadFromFile(void* file, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got) {
  return ReadFile(*static_cast<File*>(file), buffer, size, got);
}
// Writes all `size` bytes or fails (a full disk is a failure, never a short write that succeeds).
bool WriteFile(File& file, const void* buffer, std::uint32_t size);
// Moves to an absolute offset from the start of the file.
bool Seek(File& file, std::uint32_t offset);
// Moves to the end of the file and returns its length; fails for files of 4 GiB or more.
bool SeekEnd(File& file, std::uint32_t& length);
// The last-write time as a Windows file time: 100-ns intervals since 1601-01-01 UTC.
bool GetLastWriteTime(File& file, std::uint64_t& fileTime);
// Sets creation (where the system keeps one), last-access and last-write time alike.
bool SetFileTimes(File& file, std::uint64_t fileTime);
// Cuts the file to `length` bytes and moves to its new end (the builder drops a compressed
// segment that it has to code again).
bool Truncate(File& file, std::uint32_t length);

// True when a directory search for the path finds at least one entry.
bool FileExists(const char* path);
bool SetNormalAttributes(const char* path);  // clears read-only and the like
bool RemoveFile(const char* path);

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
bool OpenRegularFile(const char* path, File& file);

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

  // Creates the temporary file, open for reading and writing in `file`. False when it cannot be.
  bool Begin(const char* target);
  // Writes the file through to the disk, closes it and moves it over the target. False, with the
  // temporary file deleted and the target untouched, when that fails.
  bool Commit();
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
bool TempDirectory(char (&buffer)[kPathCapacity]);
bool SystemDirectory(char (&buffer)[kPathCapacity]);
bool CurrentDirectory(char (&buffer)[kPathCapacity]);
// The full path of the running executable.
bool GetOwnPath(char (&buffer)[kPathCapacity]);

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

// Starts a command line (program path first, Windows quoting rules) in the current directory, with
// the caller's environment. False when the program cannot be started.
bool StartProcess(const char* commandLine, Process& process);
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
bool RandomBytes(void* buffer, std::uint32_t size);

// A fresh name for a private folder: "Qor" and 16 hexadecimal digits from the random source. False
// when the source fails.
bool PrivateFolderName(std::string& name);

// Creates a new folder in `parent` (which ends with its separator) under an unpredictable name,
// exclusively: an existing folder of that name is never taken over (another name is tried). Windows
// gives it an access list of its own, not inherited from the parent, that grants only the current
// user, the Administrators and SYSTEM (inherited by everything created in it); POSIX gives it mode
// 0700. `path` receives the folder's path with its separator. False when no folder was created.
bool CreatePrivateDirectory(const char* parent, char (&path)[kPathCapacity]);

// Creates the folder `path` exactly as written (no case matching); true when it was created or is
// already a folder.
bool MakeDirectory(const char* path);

// Removes the empty folder `path`.
bool RemoveFolder(const char* path);

// Creates the file `path` exactly as written: no case matching, and a link is never followed. With
// `exclusive`, fails when anything of that name exists; else an existing file is emptied. The file is
// open for reading and writing and nobody else may open it meanwhile.
bool CreateFileExact(const char* path, bool exclusive, File& file);

// Opens an existing file for reading and keeps it from other writers for as long as it stays open:
// others may read it (and run it), but not write, delete or rename it.
bool OpenLockedForReading(const char* path, File& file);

// Opens `path` for appending (creating it when missing); other processes may append at the same time.
bool OpenForAppend(const char* path, File& file);

}  // namespace platform
