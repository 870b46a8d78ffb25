// The installer end to end under Wine: packages made of the real executable as stub, a setup script
// and the finisher program as payload, started with /h like an unattended install, and judged by
// their full exit status and by what they leave in the temporary directory and the current one.
// Packages come from the program's own builder where it can make them, and are composed from the
// layout where the builder would refuse (no OutputName, no version block) or damage is the subject.
// Usage: installer_scenarios --stub=EXE --finisher=EXE --not-admin=EXE --fake-dll=DLL --probe=EXE
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/installer/test_package.h"

namespace {

using testpkg::Bytes;

std::string stubPath;
std::string finisherPath;
std::string notAdminPath;
std::string fakeDllPath;
std::string probePath;

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadText(const std::string& path) {
  const Bytes bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string TempDirectory() {
  char buffer[MAX_PATH];
  GetTempPathA(sizeof buffer, buffer);
  return buffer;
}

std::string FullPath(const std::string& path) {
  char buffer[MAX_PATH];
  GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  return buffer;
}

std::uint64_t LastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
}

// Runs a command line in `directory` and returns its full 32-bit exit status; `environment` (a
// block of "NAME=value\0" strings, or empty) replaces the inherited environment.
DWORD RunProgram(const std::string& commandLine, const std::string& directory, const std::string& environment = "") {
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0,
                      environment.empty() ? nullptr : const_cast<char*>(environment.c_str()),
                      directory.c_str(), &startup, &info)) {
    ADD_FAILURE() << "cannot start " << commandLine;
    return 0xDEADBEEF;
  }
  // A hung installer fails the test instead of the whole run.
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

// The current environment with TEMP and TMP replaced, as a block for CreateProcessA.
std::string EnvironmentWithTemp(const std::string& temp) {
  std::string block;
  char* strings = GetEnvironmentStringsA();
  for (const char* p = strings; *p != '\0'; p += std::strlen(p) + 1) {
    if (_strnicmp(p, "TEMP=", 5) != 0 && _strnicmp(p, "TMP=", 4) != 0) block.append(p).push_back('\0');
  }
  FreeEnvironmentStringsA(strings);
  block.append("TEMP=" + temp).push_back('\0');
  block.append("TMP=" + temp).push_back('\0');
  return block;
}

constexpr DWORD kFailed = 0xFFFFFFFFu;
constexpr std::uint64_t kScriptTime = 0x01D5A0B0C0D0E0F0ull;

struct Payload {
  std::string entry;  // "name,source"
  Bytes data;
  std::uint64_t fileTime;
};

// One scenario: a work folder (the installer's current directory) and the package in it.
class Scenario : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    work_ = FullPath("work\\" + name);
    CreateDirectoryA("work", nullptr);
    CreateDirectoryA(work_.c_str(), nullptr);
    DeleteFileA((work_ + "\\finisher.log").c_str());
    DeleteFileA((work_ + "\\finisher-exit.txt").c_str());
    temp_ = TempDirectory();
    CleanTemp();
  }
  void TearDown() override { CleanTemp(); }

  void CleanTemp() {
    for (const char* name : {"SetupQor.ini", "temp.exe", "setup.exe", "data.txt", "a,b", "readme.txt", "notrun.exe"}) {
      DeleteFileA((temp_ + name).c_str());
    }
    for (int n = 1; n <= 100; ++n) DeleteFileA((temp_ + "f" + std::to_string(n) + ".bin").c_str());
  }

  static std::string Script(const std::string& cmd, const std::vector<std::string>& entries,
                            bool outputName = true) {
    std::string text = "[Cmd]\r\nLANG=ENU\r\nTitle=Scenario\r\n" + cmd + "\r\n[Files]\r\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "File%02u=", static_cast<unsigned>(i + 1));
      text += key + entries[i] + "\r\n";
    }
    if (outputName) text += "[Out]\r\nOutputName=Scenario%s.exe\r\n";
    return text + "[ENU]\r\nErr02=checksum\r\n";
  }

  // Writes the package: the real program as stub, `script`, and one segment per payload.
  std::string MakePackage(const std::string& script, const std::vector<Payload>& payload,
                          const std::string& name = "pkg.exe", const std::string& stub = stubPath) {
    std::vector<testpkg::Piece> files;
    for (const Payload& p : payload) files.push_back({p.data, p.fileTime});
    const Bytes package = testpkg::Compose(ReadBytes(stub), {testpkg::ToBytes(script), kScriptTime}, files);
    const std::string path = work_ + "\\" + name;
    WriteBytes(path, package);
    return path;
  }

  // Builds the package with the program's own builder (/m): the payload files become source files
  // with their times, every FileNN entry's source path names them, and the script's stored time is
  // the packing list's time after the build. Entries are matched to `payload` in order.
  std::string BuildPackage(const std::string& script, const std::vector<Payload>& payload,
                           const std::string& name, std::uint64_t& scriptTime) {
    const std::string sources = work_ + "\\src";
    CreateDirectoryA(sources.c_str(), nullptr);
    std::string list;
    std::istringstream lines(script);
    std::size_t next = 0;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("File", 0) == 0 && line.find('=') == 6 && next < payload.size()) {
        const std::string source = sources + "\\s" + std::to_string(next);
        WriteBytes(source, payload[next].data);
        SetTime(source, payload[next].fileTime);
        line = line.substr(0, line.rfind(',') + 1) + source + "\r";
        ++next;
      } else if (line.rfind("OutputName=", 0) == 0) {
        line = "OutputName=" + name + "\r";
      }
      list += line + "\n";
    }
    list += "[In]\r\nQorFileName=" + stubPath + "\r\n";
    const std::string listPath = work_ + "\\list.ini";
    WriteBytes(listPath, testpkg::ToBytes(list));
    EXPECT_EQ(RunProgram("\"" + stubPath + "\" /m " + listPath, work_), 0u) << ReadText(work_ + "\\logfile.txt");
    scriptTime = LastWriteTime(listPath);
    return work_ + "\\" + name;
  }

  static void SetTime(const std::string& path, std::uint64_t fileTime) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME time = {static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    SetFileTime(file, &time, &time, &time);
    CloseHandle(file);
  }

  static Payload Finisher(std::uint64_t fileTime = 0x01D6000000000001ull) {
    return {"setup.exe,c:\\build\\finisher.exe", ReadBytes(finisherPath), fileTime};
  }
  static Payload Text(const std::string& entry, const std::string& text, std::uint64_t fileTime) {
    return {entry, testpkg::ToBytes(text), fileTime};
  }

  void FinisherExits(DWORD status) {
    std::ofstream(work_ + "\\finisher-exit.txt") << status;
  }
  std::string FinisherLog() { return ReadText(work_ + "\\finisher.log"); }
  DWORD Install(const std::string& package, const std::string& environment = "") {
    return RunProgram("\"" + package + "\" /h", work_, environment);
  }

  std::string work_;
  std::string temp_;
};

// The whole silent install: the finishing command runs from the temporary directory with its
// arguments, in the installer's current directory; its status decides the exit status and whether
// the files go.
TEST_F(Scenario, SilentOutcomesFollowTheFinishingStatus) {
  std::uint64_t scriptTime = 0;
  const std::string package = BuildPackage(
      Script("FileName=setup.exe /q", {"setup.exe,c:\\build\\finisher.exe", "data.txt,c:\\build\\data.txt"}),
      {Finisher(), Text("data.txt,x", "data", 0x01D4000000000002ull)}, "built.exe", scriptTime);

  EXPECT_EQ(Install(package), 0u);
  // The program path is quoted; the arguments follow unchanged.
  EXPECT_NE(FinisherLog().find("command=\"" + temp_ + "setup.exe\" /q\n"), std::string::npos) << FinisherLog();
  EXPECT_NE(FinisherLog().find("module=" + temp_ + "setup.exe\n"), std::string::npos);
  EXPECT_NE(FinisherLog().find("cwd=" + work_ + "\n"), std::string::npos);
  for (const char* name : {"SetupQor.ini", "temp.exe", "setup.exe", "data.txt"}) {
    EXPECT_FALSE(Exists(temp_ + name)) << name;
  }

  FinisherExits(3010);  // success with a restart: deleted, no question, no restart
  EXPECT_EQ(Install(package), 3010u);
  for (const char* name : {"SetupQor.ini", "setup.exe", "data.txt"}) EXPECT_FALSE(Exists(temp_ + name)) << name;

  // 259 is an exit status like any other, not a program that is still running.
  FinisherExits(259);
  EXPECT_EQ(Install(package), kFailed);

  FinisherExits(1);  // failure: -1, and everything stays, with its stored time
  EXPECT_EQ(Install(package), kFailed);
  EXPECT_FALSE(Exists(temp_ + "temp.exe"));
  EXPECT_EQ(ReadBytes(temp_ + "setup.exe"), ReadBytes(finisherPath));
  EXPECT_EQ(ReadText(temp_ + "data.txt"), "data");
  EXPECT_EQ(LastWriteTime(temp_ + "setup.exe"), 0x01D6000000000001ull);
  EXPECT_EQ(LastWriteTime(temp_ + "data.txt"), 0x01D4000000000002ull);
  EXPECT_EQ(LastWriteTime(temp_ + "SetupQor.ini"), scriptTime);
  EXPECT_NE(ReadText(temp_ + "SetupQor.ini").find("FileName=setup.exe /q"), std::string::npos);
}

// The list ends at the first gap; an entry's name is the text before its last comma.
TEST_F(Scenario, ListGapsAndCommas) {
  FinisherExits(1);
  std::string script = Script("FileName=setup.exe", {"setup.exe,f", "a,b,c", "data.txt,d"});
  script.insert(script.find("File03="), "File05=readme.txt,r\r\n");  // File04 is the gap
  const std::string package = MakePackage(
      script,
      {Finisher(), Text("a,b,c", "ab", 3), Text("data.txt,d", "d", 4), Text("readme.txt,r", "r", 5)});
  EXPECT_EQ(Install(package), kFailed);
  EXPECT_EQ(ReadText(temp_ + "a,b"), "ab");
  EXPECT_EQ(ReadText(temp_ + "data.txt"), "d");
  EXPECT_FALSE(Exists(temp_ + "readme.txt"));
}

TEST_F(Scenario, NinetyNineEntriesAndNoHundredth) {
  FinisherExits(1);
  std::vector<std::string> entries = {"setup.exe,f"};
  std::vector<Payload> payload = {Finisher()};
  for (int n = 2; n <= 99; ++n) {
    entries.push_back("f" + std::to_string(n) + ".bin,src");
    payload.push_back(Text(entries.back(), std::string(static_cast<std::size_t>(n), 'x'), kScriptTime + n * 10000000ull));
  }
  entries.push_back("f100.bin,src");  // written as File100: never read
  std::uint64_t scriptTime = 0;
  const std::string package = BuildPackage(Script("FileName=setup.exe", entries), payload, "built.exe", scriptTime);
  EXPECT_EQ(Install(package), kFailed);
  for (int n = 2; n <= 99; ++n) {
    const std::string path = temp_ + "f" + std::to_string(n) + ".bin";
    ASSERT_EQ(ReadText(path), std::string(static_cast<std::size_t>(n), 'x')) << n;
    EXPECT_EQ(LastWriteTime(path), kScriptTime + n * 10000000ull);
  }
  EXPECT_FALSE(Exists(temp_ + "f100.bin"));
  FinisherExits(0);
  EXPECT_EQ(Install(package), 0u);
  EXPECT_FALSE(Exists(temp_ + "f99.bin"));
}

// The version check after the extraction: everything is written, then the install stops before the
// command. A script without OutputName is refused before the extraction, like every script fault.
TEST_F(Scenario, ChecksAfterExtractionLeaveTheFilesAndRunNothing) {
  const std::string noVersion = MakePackage(
      Script("FileName=setup.exe", {"readme.txt,r", "setup.exe,f"}),
      {Text("readme.txt,r", "no version block", 7), Finisher()}, "noversion.exe");
  EXPECT_EQ(Install(noVersion), kFailed);
  EXPECT_TRUE(Exists(temp_ + "readme.txt"));
  EXPECT_TRUE(Exists(temp_ + "setup.exe"));
  EXPECT_FALSE(Exists(work_ + "\\finisher.log"));
  CleanTemp();

  const std::string noOutputName = MakePackage(
      Script("FileName=setup.exe", {"setup.exe,f", "data.txt,d"}, false),
      {Finisher(), Text("data.txt,d", "d", 8)}, "nooutput.exe");
  EXPECT_EQ(Install(noOutputName), kFailed);
  EXPECT_FALSE(Exists(temp_ + "data.txt"));
  EXPECT_FALSE(Exists(work_ + "\\finisher.log"));
}

// A name that is not a plain file name refuses the script before anything is extracted.
TEST_F(Scenario, NamesOutsideTheTemporaryDirectoryAreRefused) {
  for (const char* bad : {"..\\escape.txt,x", "sub/escape.txt,x", "C:escape.txt,x", "\\escape.txt,x", ",x"}) {
    const std::string package = MakePackage(Script("FileName=setup.exe", {"setup.exe,f", bad}),
                                            {Finisher(), Text(bad, "escaped", 9)});
    EXPECT_EQ(Install(package), kFailed) << bad;
    EXPECT_FALSE(Exists(temp_ + "setup.exe")) << bad;
    EXPECT_FALSE(Exists(temp_ + "..\\escape.txt")) << bad;
    EXPECT_FALSE(Exists(work_ + "\\finisher.log")) << bad;
  }
}

// The program's own file is found however it was started.
TEST_F(Scenario, OwnPathFromAnyCommandLineForm) {
  const std::string folder = work_ + "\\my.dir";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string script = Script("FileName=setup.exe", {"setup.exe,f"});
  MakePackage(script, {Finisher()}, "my.dir\\pkg.exe");
  EXPECT_EQ(RunProgram(folder + "\\pkg.exe /h x.yz", work_), 0u);  // the last dot lies in an argument
  EXPECT_EQ(RunProgram(folder + "\\pkg /h", work_), 0u);            // no extension, a dot in the folder
  EXPECT_EQ(RunProgram("\"" + folder + "\\pkg\" /h", work_), 0u);   // quoted, no extension
}

TEST_F(Scenario, DamagedPackagesEndCleanly) {
  const std::string script = Script("FileName=setup.exe", {"setup.exe,f", "data.txt,d"});
  const std::string good = MakePackage(script, {Finisher(), Text("data.txt,d", std::string(5000, 'q'), 1)});
  Bytes package = ReadBytes(good);

  // A wrong checksum: nothing is written to the temporary directory.
  Bytes wrongSum = package;
  wrongSum[wrongSum.size() - 1] ^= 0x40;
  WriteBytes(work_ + "\\sum.exe", wrongSum);
  EXPECT_EQ(Install(work_ + "\\sum.exe"), kFailed);
  EXPECT_FALSE(Exists(temp_ + "temp.exe"));
  EXPECT_FALSE(Exists(temp_ + "SetupQor.ini"));

  // Damage behind a correct checksum: the last segment's stream cut short, its marker still there.
  Bytes cut = package;
  std::size_t marker = cut.size() - kMarkerSize;
  while (std::memcmp(cut.data() + marker, SegmentMarker, kMarkerSize) != 0) --marker;
  cut.erase(cut.begin() + static_cast<long>(marker) - 40, cut.begin() + static_cast<long>(marker));
  while (cut.size() % 4 != 0) cut.insert(cut.end() - 4, 0);
  testpkg::SealChecksum(cut);
  WriteBytes(work_ + "\\cut.exe", cut);
  EXPECT_EQ(Install(work_ + "\\cut.exe"), kFailed);  // -1 from the fatal error, not a crash
  EXPECT_FALSE(Exists(work_ + "\\finisher.log"));
}

TEST_F(Scenario, FinishingCommandFailures) {
  // A program that cannot be started is a failure, not a success.
  const std::string missing = MakePackage(Script("FileName=notrun.exe /q", {"setup.exe,f", "notrun.exe,t"}),
                                          {Finisher(), Text("notrun.exe,t", "no program", 9)});
  EXPECT_EQ(Install(missing), kFailed);
  EXPECT_TRUE(Exists(temp_ + "setup.exe"));
  CleanTemp();

  // A temporary directory with blanks: the quoted program path cannot be read as "<work>\temp.exe".
  const std::string spaced = work_ + "\\temp dir\\";
  CreateDirectoryA(spaced.c_str(), nullptr);
  CopyFileA(finisherPath.c_str(), (work_ + "\\temp.exe").c_str(), FALSE);
  const std::string package = MakePackage(Script("FileName=setup.exe /q", {"setup.exe,f"}), {Finisher()});
  EXPECT_EQ(Install(package, EnvironmentWithTemp(spaced)), 0u);
  EXPECT_NE(FinisherLog().find("module=" + spaced + "setup.exe\n"), std::string::npos) << FinisherLog();
  EXPECT_FALSE(Exists(spaced + "setup.exe"));
  DeleteFileA((work_ + "\\temp.exe").c_str());

  // A temporary directory whose paths do not fit 259 characters: refused, nothing cut short.
  const std::string deep = work_ + "\\" + std::string(240, 'd') + "\\";
  EXPECT_EQ(Install(package, EnvironmentWithTemp(deep)), kFailed);
}

// Without administrator rights the NT family refuses before any payload is written; the 9x family
// (Wine's per-program version setting) goes on.
TEST_F(Scenario, AdministratorRightsOnTheNtFamilyOnly) {
  const std::string script = Script("FileName=setup.exe", {"setup.exe,f"});
  const std::string nt = MakePackage(script, {Finisher()}, "notadmin.exe", notAdminPath);
  EXPECT_EQ(Install(nt), kFailed);
  EXPECT_FALSE(Exists(temp_ + "setup.exe"));
  EXPECT_FALSE(Exists(work_ + "\\finisher.log"));

  const std::string nine = MakePackage(script, {Finisher()}, "notadmin98.exe", notAdminPath);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\notadmin98.exe", 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &key, nullptr), ERROR_SUCCESS);
  RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("win98"), 6);
  RegCloseKey(key);
  EXPECT_EQ(Install(nine), 0u);
  EXPECT_NE(FinisherLog().find("setup.exe"), std::string::npos);
}

// Wine's per-program setting that makes it prefer a DLL found on the search path to its own.
void PreferNativeDll(const std::string& program, const char* dll) {
  HKEY key = nullptr;
  const std::string path = "Software\\Wine\\AppDefaults\\" + program + "\\DllOverrides";
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>("native,builtin"), 15);
  RegCloseKey(key);
}

// A version.dll planted beside the program is never loaded by the installer's own code, even with
// Wine told to prefer such DLLs to its own; the bare-name control shows that the planted DLL is found.
// The whole installer cannot be the subject here: Wine's own user32 imports version.dll, so under
// this setting every windowed program loads the planted DLL before its first instruction (the
// user32 of Windows imports no version.dll).
TEST_F(Scenario, APlantedVersionDllIsNotLoaded) {
  CopyFileA(fakeDllPath.c_str(), (work_ + "\\version.dll").c_str(), FALSE);
  CopyFileA(probePath.c_str(), (work_ + "\\probe.exe").c_str(), FALSE);
  PreferNativeDll("probe.exe", "version");
  const std::string probe = "\"" + work_ + "\\probe.exe\"";
  ASSERT_EQ(RunProgram(probe, work_), 77u);
  EXPECT_EQ(RunProgram(probe + " restricted", work_), 0u);
  EXPECT_EQ(RunProgram(probe + " version \"" + finisherPath + "\"", work_), 0u);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.rfind("--stub=", 0) == 0) stubPath = FullPath(argument.substr(7));
    if (argument.rfind("--finisher=", 0) == 0) finisherPath = FullPath(argument.substr(11));
    if (argument.rfind("--not-admin=", 0) == 0) notAdminPath = FullPath(argument.substr(12));
    if (argument.rfind("--fake-dll=", 0) == 0) fakeDllPath = FullPath(argument.substr(11));
    if (argument.rfind("--probe=", 0) == 0) probePath = FullPath(argument.substr(8));
  }
  if (stubPath.empty() || finisherPath.empty() || notAdminPath.empty() || fakeDllPath.empty() ||
      probePath.empty()) {
    std::fprintf(stderr, "usage: installer_scenarios --stub=EXE --finisher=EXE --not-admin=EXE "
                         "--fake-dll=DLL --probe=EXE\n");
    return 2;
  }
  return RUN_ALL_TESTS();
}
