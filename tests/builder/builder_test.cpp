// Whole builds in a scratch folder: the package, the pruned packing list and the exact build log
// for each case. The fixture's builds run in a death test's child, so that limits set for one (a
// file size limit) end with it; the files it leaves are checked afterwards. The hostile packing
// lists build in process.
#include "builder/builder.h"

#include "builder/segment_pipeline.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "script/ini.h"
#include "tests/app/profile_file.h"
#include "codec/explode.h"
#include "codec/implode.h"
#include "package/layout.h"
#include "package_image.h"
#include "pe_image.h"

namespace {

namespace fs = std::filesystem;
using package_test::Bytes;
using package_test::ParsedPackage;
using package_test::ParsePackage;
using package_test::ReadWholeFile;

const std::string kMarker(SegmentMarker, kMarkerSize);
// 2020-01-02 03:04:05.1234567 UTC and one second and 100 ns later, as Windows file times.
constexpr std::uint64_t kTime = (1577934245ull + 11644473600ull) * 10000000ull + 1234567;
constexpr std::uint64_t kLaterTime = kTime + 10000001;

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A stub as the builder checks it: an MZ header whose e_lfanew points at a PE signature.
Bytes MakeStub(int markers) {
  std::string stub = "MZ this stands in for the installer stub";
  stub.resize(0x3C, ' ');
  stub += std::string("\x40\0\0\0", 4);
  stub += std::string("PE\0\0", 4);
  for (int i = 0; i < markers; ++i) stub += "[data " + kMarker + "]";
  stub += std::string(1000, 's');
  return ToBytes(stub);
}

Bytes VersionImage(std::uint32_t major, std::uint32_t minor, std::uint32_t build, std::uint32_t revision) {
  pe_test::ImageSpec spec;
  spec.languages[0].versionMS = (major << 16) | minor;
  spec.languages[0].versionLS = (build << 16) | revision;
  return pe_test::MakeImage(spec);
}

// Bytes that do not compress.
Bytes Noise(std::size_t size) {
  Bytes bytes(size);
  std::uint32_t seed = 12345;
  for (auto& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(seed >> 16);
  }
  return bytes;
}

// A file with a version block (which the first payload file needs) followed by `text`.
Bytes Versioned(const Bytes& content) {
  Bytes bytes = VersionImage(1, 0, 0, 0);
  bytes.insert(bytes.end(), content.begin(), content.end());
  return bytes;
}
Bytes Versioned(const std::string& text) { return Versioned(ToBytes(text)); }

Bytes Implode(const Bytes& data) {
  Bytes out(4 + (9 * data.size() + 7) / 8);
  const std::int32_t n = ImplodeBuffer(out.data(), static_cast<std::uint32_t>(out.size()), data.data(),
                                       static_cast<std::uint32_t>(data.size()));
  out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return out;
}

bool Explodes(const Bytes& stream, const Bytes& expected) {
  Bytes out(expected.size() + 1);
  const std::int32_t n = ExplodeBuffer(out.data(), static_cast<std::uint32_t>(out.size()), stream.data(),
                                       static_cast<std::uint32_t>(stream.size()));
  return n == static_cast<std::int32_t>(expected.size()) && std::equal(expected.begin(), expected.end(), out.begin());
}

[[noreturn]] void RunBuild(const std::string& argumentText, const BuildOptions& options) {
  std::exit(BuildPackage(argumentText.c_str(), options));
}

class BuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::testing::FLAGS_gtest_death_test_style = "fast";
    old_ = fs::current_path();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(::testing::TempDir()) / ("qor_builder_" + std::to_string(getpid()) + "_" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "src");
    fs::current_path(dir_);
    Write("stub.exe", MakeStub(1));
    Write("ver.exe", VersionImage(2, 1, 4, 0));
  }
  void TearDown() override {
    fs::current_path(old_);
    std::error_code ignored;
    fs::permissions(dir_ / "list.ini", fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
  }

  void Write(const std::string& name, const Bytes& content, std::uint64_t fileTime = kTime) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr) << name;
    if (!content.empty()) std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    platform::File file;
    ASSERT_TRUE(platform::OpenFile(name.c_str(), platform::OpenMode::ReadWrite, file));
    ASSERT_TRUE(platform::SetFileTimes(file, fileTime));
    times_[name] = fileTime;
  }
  void Write(const std::string& name, const std::string& text, std::uint64_t fileTime = kTime) {
    Write(name, ToBytes(text), fileTime);
  }

  // A packing list with the given Files entries and Out values.
  void List(const std::vector<std::string>& entries, const std::string& out = "OutputName=out.exe\r\n"
                                                                           "VersionFile=ver.exe, ver.exe\r\n") {
    // The finishing command runs the first entry's file, which a script must carry.
    const std::string first = entries.empty() ? "setup.exe" : entries[0].substr(0, entries[0].rfind(','));
    std::string text = "[Cmd]\r\nLANG=ENU\r\nTitle=Test\r\nFileName=" + first + " /q\r\n[Files]\r\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
      char key[32];
      std::snprintf(key, sizeof key, "File%02zu", i + 1);
      text += std::string(key) + "=" + entries[i] + "\r\n";
    }
    text += "[Out]\r\n" + out + "[In]\r\nQorFileName=stub.exe\r\n";
    Write("list.ini", text);
  }

  std::string Log() const {
    const Bytes log = ReadWholeFile("logfile.txt");
    return std::string(log.begin(), log.end());
  }
  std::string Entry(int number) const {
    char key[8], value[260];
    std::snprintf(key, sizeof key, "File%02d", number);
    ReadProfileValue("Files", key, "@", value, sizeof value, "list.ini");
    return value;
  }

  void Succeeds(const std::string& argumentText = "/m ./list.ini", const BuildOptions& options = BuildOptions()) {
    EXPECT_EXIT(RunBuild(argumentText, options), ::testing::ExitedWithCode(0), "");
  }
  // The package of ./list.ini built with each number of threads in `jobs`, by that number.
  std::map<unsigned, Bytes> BuildWithJobs(std::initializer_list<unsigned> jobs) {
    std::map<unsigned, Bytes> packages;
    for (unsigned count : jobs) {
      BuildOptions options;
      options.jobs = count;
      Succeeds("/m ./list.ini", options);
      packages[count] = ReadWholeFile("out.exe");
    }
    return packages;
  }
  void Fails(const std::string& expectedLog, const std::string& argumentText = "/m ./list.ini",
             const BuildOptions& options = BuildOptions()) {
    EXPECT_EXIT(RunBuild(argumentText, options), ::testing::ExitedWithCode(255), "");
    EXPECT_EQ(Log(), expectedLog);
  }

  // Checks every piece of the package against the stored packing list and the named sources.
  ParsedPackage ExpectPackage(const std::string& package, const std::vector<std::string>& sources) {
    const Bytes bytes = ReadWholeFile(package);
    ParsedPackage parsed = ParsePackage(bytes, MakeStub(1), sources.size() + 1);
    EXPECT_EQ(parsed.error, "") << package;
    if (!parsed.error.empty()) return parsed;
    const Bytes list = ReadWholeFile("list.ini");
    EXPECT_TRUE(Explodes(parsed.segments[0].stream, list)) << "the stored setup script";
    EXPECT_EQ(parsed.segments[0].fileTime, platform_time("list.ini"));
    for (std::size_t i = 0; i < sources.size(); ++i) {
      const Bytes content = ReadWholeFile(sources[i]);
      const Segment& s = parsed.segments[i + 1];
      EXPECT_TRUE(Explodes(s.stream, content)) << sources[i];
      if (content.empty()) {
        Bytes padded = Implode(content);
        padded.push_back(0);
        EXPECT_EQ(s.stream, padded) << sources[i];
      } else {
        EXPECT_EQ(s.stream, Implode(content)) << sources[i];
      }
      EXPECT_EQ(s.fileTime, times_[sources[i]]) << sources[i];
    }
    return parsed;
  }
  using Segment = package_test::Segment;

  std::uint64_t platform_time(const std::string& name) {
    platform::File file;
    std::uint64_t t = 0;
    EXPECT_TRUE(platform::OpenFile(name.c_str(), platform::OpenMode::ReadShared, file));
    EXPECT_TRUE(platform::GetLastWriteTime(file, t));
    return t;
  }

  fs::path old_, dir_;
  std::map<std::string, std::uint64_t> times_;
};

TEST_F(BuilderTest, BuildsTheLayoutPieceByPiece) {
  Write("src/a.txt", Versioned(std::string(5000, 'a') + "tail"));
  Write("src/b.bin", VersionImage(1, 2, 3, 4), kLaterTime);
  List({"a.txt.exe, src\\a.txt", "b.bin,src\\b.bin"});
  Succeeds();
  EXPECT_EQ(Log(), "");
  ExpectPackage("out.exe", {"src/a.txt", "src/b.bin"});
  EXPECT_EQ(Entry(1), "a.txt.exe, src\\a.txt");
}

TEST_F(BuilderTest, EmptyAndTinyFilesArePackable) {
  Write("src/empty", "");
  Write("src/one", "x");
  Write("src/four", "abcd");
  List({"v.exe,ver.exe", "e,src\\empty", "o,src\\one", "f,src\\four"});
  Succeeds();
  EXPECT_EQ(Log(), "");
  ExpectPackage("out.exe", {"ver.exe", "src/empty", "src/one", "src/four"});
}

TEST_F(BuilderTest, PrunesAMissingThirdOfFiveEntries) {
  for (const char* name : {"1", "2", "4", "5"}) Write(std::string("src/") + name, Versioned(std::string("file ") + name));
  List({"n1.exe,src\\1", "n2,src\\2", "n3,src\\3", "n4,src\\4", "n5,src\\5"});
  Succeeds();
  EXPECT_EQ(Log(), "Warning: src\\3 not found, removing from .ini file\r\n");
  EXPECT_EQ(Entry(1), "n1.exe,src\\1");
  EXPECT_EQ(Entry(2), "n2,src\\2");
  EXPECT_EQ(Entry(3), "n4,src\\4");
  EXPECT_EQ(Entry(4), "n5,src\\5");
  EXPECT_EQ(Entry(5), "@");
  ExpectPackage("out.exe", {"src/1", "src/2", "src/4", "src/5"});
}

TEST_F(BuilderTest, PrunesSeveralMissingInARowAndAtTheEnd) {
  Write("src/1", Versioned("one"));
  Write("src/5", "five");
  List({"n1.exe,src\\1", "n2,src\\2", "n3,src\\3", "n4,src\\4", "n5,src\\5", "n6,src\\6"});
  Succeeds();
  EXPECT_EQ(Log(),
            "Warning: src\\2 not found, removing from .ini file\r\n"
            "Warning: src\\3 not found, removing from .ini file\r\n"
            "Warning: src\\4 not found, removing from .ini file\r\n"
            "Warning: src\\6 not found, removing from .ini file\r\n");
  EXPECT_EQ(Entry(2), "n5,src\\5");
  EXPECT_EQ(Entry(3), "@");
  ExpectPackage("out.exe", {"src/1", "src/5"});
}

TEST_F(BuilderTest, AllEntriesMissingWithAVersionFile) {
  List({"n1.exe,src\\1", "n2,src\\2"});
  Fails("Warning: src\\1 not found, removing from .ini file\r\n"
        "Warning: src\\2 not found, removing from .ini file\r\n"
        "No input files. Check the .INF syntax.\r\n");
  EXPECT_EQ(Entry(1), "@");
}

TEST_F(BuilderTest, NoFile01AndNoVersionFileNeedsABuildNumber) {
  List({}, "OutputName=out.exe\r\n");
  Fails("Unable to get build number from first file in list.\r\n");
}

TEST_F(BuilderTest, CommasBlanksAndTabsInEntries) {
  Write("src/c", Versioned("c"));
  Write("src/d e", "d e");
  List({"a,b.exe,src\\c", "x y,\t src\\d e"});
  Succeeds();
  ExpectPackage("out.exe", {"src/c", "src/d e"});
}

TEST_F(BuilderTest, StampsTheOutputNameWithTheVersion) {
  Write("src/a", Versioned("a"));
  fs::create_directory("out");
  List({"a.exe,src\\a"}, "OutputName=out\\setup%s.exe\r\nVersionFile=ver.exe, ver.exe\r\n");
  Succeeds();
  ExpectPackage("out/setup2_01_04a.exe", {"src/a"});
  // Revision 501 gives "b"; File01 is the version file when VersionFile is absent.
  Write("src/v", VersionImage(5, 2, 30, 501));
  List({"v.exe,src\\v"}, "OutputName=out\\setup%s.exe\r\n");
  Succeeds();
  ExpectPackage("out/setup5_02_30b.exe", {"src/v"});
  Write("src/v", VersionImage(5, 2, 123, 25));
  Succeeds();
  EXPECT_TRUE(fs::exists("out/setup5_02_123z.exe"));
}

TEST_F(BuilderTest, OutputFolderMustExist) {
  Write("src/a", Versioned("a"));
  List({"a.exe,src\\a"}, "OutputName=missing\\setup%s.exe\r\nVersionFile=v, ver.exe\r\n");
  Fails("Error creating the output file. missing\\setup2_01_04a.exe: No such file or directory.\r\n");
}

TEST_F(BuilderTest, RebuildTruncatesTheLog) {
  Write("src/a", Versioned("a"));
  Write("logfile.txt", std::string(3000, 'L'));
  List({"a.exe,src\\a", "b,src\\missing"});
  Succeeds();
  EXPECT_EQ(Log(), "Warning: src\\missing not found, removing from .ini file\r\n");
  Succeeds();
  EXPECT_EQ(Log(), "");
}

TEST_F(BuilderTest, ReadOnlyPackingListIsMadeWritableAndPruned) {
  Write("src/a", Versioned("a"));
  List({"a.exe,src\\a", "b,src\\missing"});
  fs::permissions("list.ini", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  Succeeds();
  EXPECT_EQ(Entry(2), "@");
  EXPECT_NE(fs::status("list.ini").permissions() & fs::perms::owner_write, fs::perms::none);
}

TEST_F(BuilderTest, PackingListPathWithBlanksInQuotes) {
  Write("src/a", Versioned("a"));
  List({"a.exe,src\\a"});
  fs::create_directory("my files");
  fs::rename("list.ini", "my files/list.ini");
  Succeeds("/m \"my files\\list.ini\"");
  Fails("Unable to find setupqor.ini file as given on cmd line.\r\n", "/m my\\list.ini");
}

TEST_F(BuilderTest, AbsoluteVersionFilePathIsUsedAsItStands) {
  Write("src/a", Versioned("a"));
  List({"a.exe,src\\a"}, "OutputName=s%s.exe\r\nVersionFile=v, " + (dir_ / "ver.exe").string() + "\r\n");
  Succeeds();
  EXPECT_TRUE(fs::exists("s2_01_04a.exe"));
}

TEST_F(BuilderTest, ScriptFaultsEndWithTheirLogLine) {
  Write("src/a", Versioned("a"));
  List({"a src\\a"}, "OutputName=out.exe\r\n");
  Fails("No comma in input filename directive. Check the .INI syntax at File01.\r\n");
  // With a VersionFile, File01 is only met by the pruning.
  List({"a src\\a"});
  Fails("No comma in input filename directive. Check the .INI syntax.\r\n");
  List({"a.exe,src\\a", "b src\\a"});
  Fails("No comma in input filename directive. Check the .INI syntax.\r\n");
  List({"a.exe,src\\a"}, "VersionFile=v,ver.exe\r\n");
  Fails("Output filename directive missing. Check the packing list syntax.\r\n");
  // An empty one, before anything is compressed.
  List({"a.exe,src\\a"}, "OutputName=\r\nVersionFile=v,ver.exe\r\n");
  Fails("Output filename directive missing. Check the packing list syntax.\r\n");
  Write("list.ini", "[Files]\r\nFile01=a,src\\a\r\n[Out]\r\nOutputName=o.exe\r\nVersionFile=v,ver.exe\r\n");
  Fails("'In' executable filename directive missing. Check the packing list syntax.\r\n");
  Write("src/plain", "no version block");
  List({"a.exe,src\\a"}, "OutputName=o.exe\r\nVersionFile=v,src\\plain\r\n");
  Fails("Unable to get build number from first file in list.\r\n");
}

TEST_F(BuilderTest, OutputNameIsNoFormat) {
  Write("src/a", Versioned("a"));
  for (const char* name : {"setup%d.exe", "s%s%s.exe", "s%"}) {
    List({"a.exe,src\\a"}, std::string("OutputName=") + name + "\r\nVersionFile=v,ver.exe\r\n");
    Fails("Output filename directive may hold one %s and %% only, no other %. Check the packing list syntax.\r\n");
  }
  List({"a.exe,src\\a"}, "OutputName=" + std::string(252, 'n') + "%s\r\nVersionFile=v,ver.exe\r\n");
  Fails("Output filename too long with the build number (259 characters at most).\r\n");
  List({"a.exe,src\\a"}, "OutputName=100%%_%s.exe\r\nVersionFile=v,ver.exe\r\n");
  Succeeds();
  EXPECT_TRUE(fs::exists("100%_2_01_04a.exe"));
}

TEST_F(BuilderTest, StubMustHoldTheMarkerExactlyOnce) {
  Write("src/a", Versioned("a"));
  List({"a.exe,src\\a"});
  Write("stub.exe", MakeStub(2));
  Fails("The Installer file holds the segment marker more than once: it already carries a package.\r\n");
  Write("stub.exe", MakeStub(0));
  Fails("The Installer file holds no segment marker: it is no stub of this program.\r\n");
  fs::remove("stub.exe");
  Fails("Error reading the Installer file.\r\n");
}

TEST_F(BuilderTest, MissingInputFileAfterPruning) {
  // A folder is there but is no file: it is refused by name before anything is written.
  fs::create_directory("src/folder");
  List({"a.exe,src\\folder"});
  Fails("The source of File01 (src\\folder) is a folder, not a file. Check the packing list.\r\n");
}

TEST_F(BuilderTest, SegmentHoldingTheProbeIsCodedAgainWithSmallerDictionaries) {
  Write("src/a", Versioned("abcdefgh abcdefgh"));
  List({"a.exe,src\\a"});
  // Every stream with a 4096-byte dictionary starts 00 06: the 2048-byte stream (00 05) is kept.
  static const std::uint8_t kHeader4096[] = {0x00, 0x06};
  BuildOptions options;
  options.segmentProbe = kHeader4096;
  options.segmentProbeSize = 2;
  Succeeds("/m ./list.ini", options);
  const ParsedPackage parsed = ParsePackage(ReadWholeFile("out.exe"), MakeStub(1), 2);
  ASSERT_EQ(parsed.error, "");
  for (const auto& segment : parsed.segments) {
    ASSERT_GE(segment.stream.size(), 2u);
    EXPECT_EQ(segment.stream[1], 5);
  }
  EXPECT_TRUE(Explodes(parsed.segments[1].stream, Versioned("abcdefgh abcdefgh")));
  // Header byte 0 is 00 in every stream: no dictionary helps.
  static const std::uint8_t kBinaryLiterals[] = {0x00};
  options.segmentProbe = kBinaryLiterals;
  options.segmentProbeSize = 1;
  Fails("Error compressing ./list.ini: every compressed form of it holds the segment marker.\r\n",
        "/m ./list.ini", options);
}

// The threads change nothing: many small files, empty ones and files too large to be held (coded by
// the writer in their turn) give the same package on one thread and on several, and a failure keeps its place in the order.
TEST_F(BuilderTest, AnyNumberOfThreadsGivesTheSameBytes) {
  std::vector<std::string> entries;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "src/f" + std::to_string(i);
    // File01 carries a version block, as every package's first file must.
    Write(name, i == 0 ? VersionImage(1, 2, 3, 4) : i % 7 == 0 ? Bytes() : Noise(static_cast<std::size_t>(i) * 3001 % 70000));
    entries.push_back("f" + std::to_string(i) + (i == 0 ? ".exe" : "") + ",src\\f" + std::to_string(i));
  }
  Write("src/large", Noise(kMaxHeldSource + 5));
  entries.insert(entries.begin() + 20, "large,src\\large");
  // The largest file last, as payloads often have it: it starts first on several threads.
  Write("src/last", Noise(kMaxHeldSource + 20000));
  entries.push_back("last,src\\last");
  List(entries);
  std::map<unsigned, Bytes> packages = BuildWithJobs({1u, 2u, 4u});
  EXPECT_EQ(packages[1], packages[2]);
  EXPECT_EQ(packages[1], packages[4]);
  // A source refused in the middle: the same log on one thread and on four.
  fs::remove("src/f25");
  fs::create_directory("src/f25");
  for (unsigned jobs : {1u, 4u}) {
    BuildOptions options;
    options.jobs = jobs;
    Fails("The source of File27 (src\\f25) is a folder, not a file. Check the packing list.\r\n", "/m ./list.ini",
          options);
  }
}

// A file large enough to be coded in pieces on the threads (ahead of its turn into memory, and,
// larger still, by the writer in its turn), with runs across the chunk edges, gives the same package
// on one thread and on several.
TEST_F(BuilderTest, LargeFilesCodedInPiecesGiveTheSameBytes) {
  Bytes mixed;
  while (mixed.size() < kPiecedSource + (3u << 20)) {
    const std::string line = "File" + std::to_string(mixed.size() % 977) + "=setup.exe, C:\\build\\out\\setup.exe\r\n";
    mixed.insert(mixed.end(), line.begin(), line.end());
    if (mixed.size() % 40000 < 60) mixed.insert(mixed.end(), 70000, 0);
    if (mixed.size() % 50000 < 60) {
      const Bytes noise = Noise(30000 + mixed.size() % 5000);
      mixed.insert(mixed.end(), noise.begin(), noise.end());
    }
  }
  Write("src/v", VersionImage(1, 2, 3, 4));
  Write("src/held", mixed);
  mixed.resize(kMaxHeldSource + (1u << 20));
  Write("src/streamed", mixed);
  List({"v.exe,src\\v", "held,src\\held", "streamed,src\\streamed"});
  std::map<unsigned, Bytes> packages = BuildWithJobs({1u, 2u, 3u});
  ExpectPackage("out.exe", {"src/v", "src/held", "src/streamed"});
  EXPECT_EQ(packages[1], packages[2]);
  EXPECT_EQ(packages[1], packages[3]);
}

// The report of a good build names each piece as the package stores it, whichever way its segment
// reached the package: streamed by the writer (one thread), or held in memory
// (several threads); its warnings are the log's lines.
TEST_F(BuilderTest, TheReportDescribesEveryPieceAsStored) {
  Write("src/first", VersionImage(1, 2, 3, 4), kLaterTime);
  Write("src/empty", "");
  Write("src/large", Noise(kMaxHeldSource + 5));
  List({"first.exe,src\\first", "gone,src\\gone", "empty,src\\empty", "large,src\\large"});
  const std::string pruned = "Warning: src\\gone not found, removing from .ini file";
  for (unsigned jobs : {1u, 3u}) {
    BuildReport report;
    BuildOptions options;
    options.jobs = jobs;
    options.report = &report;
    ASSERT_EQ(BuildPackage("/m ./list.ini", options), 0) << jobs;
    const ParsedPackage parsed = ExpectPackage("out.exe", {"src/first", "src/empty", "src/large"});
    ASSERT_EQ(report.pieces.size(), parsed.segments.size()) << jobs;
    EXPECT_EQ(report.output, "out.exe");
    EXPECT_EQ(report.size, fs::file_size("out.exe"));
    // name | source | unpacked size
    const std::vector<std::tuple<std::string, std::string, std::uint64_t>> pieces = {
        {"SetupQor.ini", "./list.ini", fs::file_size("list.ini")},
        {"first.exe", "src\\first", fs::file_size("src/first")},
        {"empty", "src\\empty", 0},
        {"large", "src\\large", kMaxHeldSource + 5}};
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      const BuiltPiece& piece = report.pieces[i];
      EXPECT_EQ(std::tie(piece.name, piece.source, piece.size), pieces[i]) << jobs << ": " << i;
      EXPECT_EQ(piece.packed, parsed.segments[i].stream.size()) << jobs << ": " << piece.name;
      EXPECT_EQ(piece.time, parsed.segments[i].fileTime) << jobs << ": " << piece.name;
    }
    // The first build pruned the list; the second found nothing to prune.
    EXPECT_EQ(report.warnings, jobs == 1 ? std::vector<std::string>{pruned} : std::vector<std::string>{});
  }
}

// A strict build fails on a missing source, naming it and its entry, and leaves the list as it was.
TEST_F(BuilderTest, StrictBuildFailsOnAMissingSourceAndKeepsTheList) {
  Write("src/1", Versioned("one"));
  List({"n1.exe,src\\1", "n2,src\\2"});
  const Bytes list = ReadWholeFile("list.ini");
  BuildOptions options;
  options.strict = true;
  Fails("Missing source: src\\2 (File02). A strict build fails rather than remove the entry.\r\n", "/m ./list.ini",
        options);
  EXPECT_EQ(ReadWholeFile("list.ini"), list);
  EXPECT_FALSE(fs::exists("out.exe"));
}

TEST_F(BuilderTest, PackageLimitStopsBeforeWritingPastIt) {
  Write("src/a", Versioned(Noise(20000)));
  List({"a.exe,src\\a"});
  BuildOptions options;
  options.packageLimit = 1500;
  Fails("The package would pass 2 GiB, the most a package can hold. Split the payload.\r\n", "/m ./list.ini",
        options);
  // Nothing of the unfinished package stays behind.
  EXPECT_FALSE(fs::exists("out.exe"));
}

// A source that another process writes while the build reads it (here: one that grows all along)
// refuses the build with its name, on one thread and on several, in process as /m and through
// qorpack build; no package is left.
TEST_F(BuilderTest, ASourceWrittenWhileItIsReadRefusesTheBuild) {
  Write("src/a", Versioned("a"));
  Write("src/growing", Noise(2u << 20));
  List({"a.exe,src\\a", "g.bin,src\\growing"});
  const std::string expected =
      "src\\growing changed while it was read: the package would hold neither version. Build again once it is "
      "written.\r\n";
  std::atomic<bool> stop{false};
  std::thread writer([&stop] {
    std::FILE* f = std::fopen("src/growing", "ab");
    while (f != nullptr && !stop) {
      std::fputc('g', f);
      std::fflush(f);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (f != nullptr) std::fclose(f);
  });
  for (const unsigned jobs : {1u, 4u}) {
    BuildOptions options;
    options.jobs = jobs;
    EXPECT_EQ(BuildPackage("/m ./list.ini", options), -1) << jobs;
    EXPECT_EQ(Log(), expected) << jobs;
    EXPECT_FALSE(fs::exists("out.exe")) << jobs;
    fs::remove("logfile.txt");
    const std::string command = std::string("'") + QOR_QORPACK + "' build -j " + std::to_string(jobs) +
                                " list.ini >/dev/null 2>qorpack.err";
    EXPECT_NE(std::system(command.c_str()), 0) << jobs;
    EXPECT_EQ(Log(), expected) << jobs;
    EXPECT_FALSE(fs::exists("out.exe")) << jobs;
  }
  stop = true;
  writer.join();
}

TEST_F(BuilderTest, FullDiskEndsWithALogLine) {
  // A device as the output is no longer written to (the package would be moved over it): the full
  // disk is FileSizeLimitFailsTheLaterWrites below.
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  Write("src/a", Versioned("a"));
  List({"a.exe,src\\a"}, "OutputName=/dev/full\r\nVersionFile=v,ver.exe\r\n");
  Fails("The output /dev/full is a device or a pipe, not a file. Check the packing list.\r\n");
}

TEST_F(BuilderTest, FileSizeLimitFailsTheLaterWrites) {
  // The stub fits, the rest does not: the writes of the segments and markers fail, and the
  // previous package stays as it was, with no temporary file beside it.
  Write("src/a", Versioned(Noise(200000)));
  Write("out.exe", "the previous package");
  List({"a.exe,src\\a"});
  const auto limited = [] {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    RunBuild("/m ./list.ini", BuildOptions());
  };
  EXPECT_EXIT(limited(), ::testing::ExitedWithCode(255), "");
  EXPECT_EQ(Log(), "Error writing to the output file. out.exe: File too large.\r\n");
  EXPECT_EQ(ReadWholeFile("out.exe"), ToBytes("the previous package"));
  for (const auto& entry : fs::directory_iterator(".")) {
    EXPECT_NE(entry.path().filename().string().rfind("~qor", 0), 0u) << entry.path() << " was left behind";
  }
}

TEST_F(BuilderTest, LongLogLinesAreShortenedKeepingBothEnds) {
  Write("src/a", Versioned("a"));
  const std::string longPath = "src\\" + std::string(120, 'p') + std::string(120, 'q') + "\\end.dll";
  List({"a.exe,src\\a", "b," + longPath});
  Succeeds();
  const std::string log = Log();
  EXPECT_EQ(log.size(), 259u);
  EXPECT_EQ(log.substr(0, 20), "Warning: src\\ppppppp");
  EXPECT_NE(log.find("..."), std::string::npos);
  const std::string ending = "qq\\end.dll not found, removing from .ini file\r\n";
  EXPECT_EQ(log.substr(log.size() - ending.size()), ending);
}

TEST_F(BuilderTest, OverLongCommandLineIsRefused) {
  Fails("Command line too long: the packing list path may have 259 characters at most.\r\n",
        "/m " + std::string(260, 'x'));
}

TEST_F(BuilderTest, OverLongValuesAreRefused) {
  Write("src/a", Versioned("a"));
  List({"a.exe,src\\a", "b," + std::string(300, 'v')});
  Fails("Value too long (259 characters at most) at Files/File02. Check the packing list syntax.\r\n");
}

// The hostile packing lists of hostile_lists.txt (the table the Windows build runs under Wine too):
// each case's exit status and log, every file that was there before unchanged, nothing left behind.
struct HostileCase {
  std::string name;
  bool nativeOnly = false;
  std::map<std::string, std::vector<std::string>> sections;  // given lines, in place of the defaults
  std::string listName = "list.ini";
  std::string arg;
  std::vector<std::vector<std::string>> actions;  // {kind, operands...}
  int status = 0;
  std::string log;
  bool refused = false;  // the log goes to logfile.refused.txt
  std::vector<std::string> changed;
};

std::pair<std::string, std::string> SplitWord(const std::string& line) {
  const std::size_t space = line.find(' ');
  if (space == std::string::npos) return {line, ""};
  return {line.substr(0, space), line.substr(space + 1)};
}

std::vector<HostileCase> ReadHostileCases() {
  std::vector<HostileCase> cases;
  std::ifstream in(QOR_HOSTILE_LISTS);
  EXPECT_TRUE(in) << QOR_HOSTILE_LISTS;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto [kind, rest] = SplitWord(line);
    if (kind == "case") {
      cases.emplace_back();
      cases.back().name = rest;
      continue;
    }
    EXPECT_FALSE(cases.empty()) << line;
    if (cases.empty()) continue;
    HostileCase& c = cases.back();
    if (kind == "native") c.nativeOnly = true;
    else if (kind == "cmd" || kind == "files" || kind == "out" || kind == "in") c.sections[kind].push_back(rest);
    else if (kind == "list") c.listName = rest;
    else if (kind == "arg") c.arg = rest;
    else if (kind == "status") c.status = std::stoi(rest);
    else if (kind == "log" || kind == "log-posix") c.log += rest + "\r\n";
    else if (kind == "log-win32") continue;
    else if (kind == "refused-log") {
      c.refused = true;
      if (!rest.empty()) c.log += rest + "\r\n";
    } else if (kind == "changed") c.changed.push_back(rest);
    else if (kind == "text") {
      const auto [path, content] = SplitWord(rest);
      c.actions.push_back({kind, path, content});
    } else if (kind == "copy" || kind == "link" || kind == "symlink") {
      const auto [from, to] = SplitWord(rest);
      c.actions.push_back({kind, from, to});
    } else if (kind == "dir" || kind == "fifo" || kind == "readonly") c.actions.push_back({kind, rest});
    else ADD_FAILURE() << "unknown line: " << line;
  }
  return cases;
}

std::string HostileList(const HostileCase& c) {
  static const std::vector<std::pair<std::string, std::vector<std::string>>> kDefaults = {
      {"cmd", {"LANG=ENU", "Title=Hostile", "FileName=a.exe /q"}},
      {"files", {"File01=a.exe, src\\a.dll", "File02=b.txt, src\\b.txt"}},
      {"out", {"OutputName=out.exe", "VersionFile=v, ver.exe"}},
      {"in", {"QorFileName=stub.exe"}},
  };
  static const std::map<std::string, std::string> kTitles = {
      {"cmd", "Cmd"}, {"files", "Files"}, {"out", "Out"}, {"in", "In"}};
  std::string text;
  for (const auto& [section, defaults] : kDefaults) {
    const auto given = c.sections.find(section);
    const std::vector<std::string>& lines = given != c.sections.end() ? given->second : defaults;
    if (lines.size() == 1 && lines[0] == "-") continue;
    text += "[" + kTitles.at(section) + "]\r\n";
    for (const std::string& l : lines) text += l + "\r\n";
  }
  return text;
}

// Every regular file below the current folder and its bytes.
std::map<std::string, Bytes> Snapshot() {
  std::map<std::string, Bytes> files;
  for (const auto& entry : fs::recursive_directory_iterator(".")) {
    if (fs::is_regular_file(entry.symlink_status())) files[entry.path().generic_string()] = ReadWholeFile(entry.path());
  }
  return files;
}

void RunHostileCase(const HostileCase& c, const fs::path& dir) {
  fs::create_directories(dir / "src");
  fs::current_path(dir);
  const auto write = [](const std::string& name, const Bytes& bytes) {
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
  };
  write("stub.exe", MakeStub(1));
  write("ver.exe", VersionImage(2, 1, 4, 0));
  write("src/a.dll", VersionImage(1, 2, 3, 4));
  write("src/b.txt", ToBytes("a text file\r\n"));
  write("out.exe", ToBytes("a previous package\r\n"));
  write(c.listName, ToBytes(HostileList(c)));
  for (const auto& a : c.actions) {
    if (a[0] == "text") write(a[1], ToBytes(a[2]));
    else if (a[0] == "dir") fs::create_directories(a[1]);
    else if (a[0] == "copy") fs::copy_file(a[1], a[2]);
    else if (a[0] == "link") fs::create_hard_link(a[1], a[2]);
    else if (a[0] == "symlink") fs::create_symlink(a[1], a[2]);
    else if (a[0] == "readonly") fs::permissions(a[1], fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                                                 fs::perm_options::remove);
    else if (a[0] == "fifo") {
      EXPECT_EQ(mkfifo(a[1].c_str(), 0644), 0) << a[1];
    }
  }
  const std::map<std::string, Bytes> before = Snapshot();
  const std::string arg = c.arg.empty() ? ".\\" + c.listName : c.arg;
  EXPECT_EQ(BuildPackage(("/m " + arg).c_str(), BuildOptions()), c.status);

  const std::string logName = c.refused ? "./logfile.refused.txt" : "./logfile.txt";
  const Bytes log = ReadWholeFile(logName);
  EXPECT_EQ(std::string(log.begin(), log.end()), c.log) << logName;
  const auto mayChange = [&](const std::string& path) {
    if (path == logName) return true;
    for (const std::string& changed : c.changed) {
      if (path == "./" + changed) return true;
    }
    return false;
  };
  const std::map<std::string, Bytes> after = Snapshot();
  for (const auto& [path, bytes] : before) {
    if (mayChange(path)) continue;
    const auto now = after.find(path);
    EXPECT_TRUE(now != after.end() && now->second == bytes) << path << " changed";
  }
  for (const auto& [path, bytes] : after) {
    EXPECT_TRUE(before.count(path) != 0 || mayChange(path)) << path << " was left behind";
  }
  if (c.status == 0) {
    const Bytes package = after.count("./out.exe") ? after.at("./out.exe") : Bytes();
    const Bytes stub = MakeStub(1);
    EXPECT_TRUE(package.size() > stub.size() && std::equal(stub.begin(), stub.end(), package.begin()))
        << "out.exe is no new package";
  }
}

TEST(HostileListsTest, RefusedOrBuiltWithoutHarmingAnyFile) {
  const fs::path old = fs::current_path();
  const fs::path root = fs::path(::testing::TempDir()) / ("qor_hostile_" + std::to_string(getpid()));
  fs::remove_all(root);
  const std::vector<HostileCase> cases = ReadHostileCases();
  EXPECT_GE(cases.size(), 30u);
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    RunHostileCase(c, root / c.name);
    fs::current_path(old);
  }
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

}  // namespace
