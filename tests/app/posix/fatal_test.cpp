// ReportFatal on the native side, where a message box is written to standard error: which text is
// shown for a code, when nothing is shown, and that the process always ends with -1 (255 here).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/fatal.h"
#include "app/process_state.h"

namespace {

class ReportFatalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    silentMode = 0;
    RunStatus = {0, 0};
    path_ = ::testing::TempDir() + "fatal_script_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";
  }
  void TearDown() override { std::remove(path_.c_str()); }
  void Script(const char* text) {
    FILE* f = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(text, f);
    std::fclose(f);
  }
  std::string path_;
};

const char kScript[] =
    "[Cmd]\r\nLANG=DEU\r\nTitle=Product X\r\n"
    "[DEU]\r\nErr03=Datei kaputt\r\nErr07=Befehl fehlgeschlagen\r\n"
    "[ENU]\r\nErr03=File broken\r\n";

TEST_F(ReportFatalTest, ShowsTheTextOfTheLanguageSectionWithTheTitle) {
  Script(kScript);
  EXPECT_EXIT(ReportFatal(3, path_.c_str()), ::testing::ExitedWithCode(255),
              "\\[Product X\\] Datei kaputt");
  EXPECT_EXIT(ReportFatal(7, path_.c_str()), ::testing::ExitedWithCode(255),
              "\\[Product X\\] Befehl fehlgeschlagen");
}

TEST_F(ReportFatalTest, FallsBackToEnuWithoutLang) {
  Script("[Cmd]\r\nTitle=T\r\n[ENU]\r\nErr04=Script incomplete\r\n");
  EXPECT_EXIT(ReportFatal(4, path_.c_str()), ::testing::ExitedWithCode(255), "\\[T\\] Script incomplete");
}

TEST_F(ReportFatalTest, MissingTitleGivesTheAtCaption) {
  Script("[ENU]\r\nErr05=Broken\r\n");
  EXPECT_EXIT(ReportFatal(5, path_.c_str()), ::testing::ExitedWithCode(255), "\\[@\\] Broken");
}

TEST_F(ReportFatalTest, FallbackBoxWhenTheScriptHasNoText) {
  // No file at all, and a script without the code's key: both give the fallback box.
  EXPECT_EXIT(ReportFatal(2, "SetupQor.ini"), ::testing::ExitedWithCode(255),
              "\\[Error Code: 2 \\(SetupQor.ini\\)\n\\] Unable to find SetupQor.ini file.  Exiting.");
  Script(kScript);
  EXPECT_EXIT(ReportFatal(9, path_.c_str()), ::testing::ExitedWithCode(255),
              "Error Code: 9 \\(.*fatal_script_.*\\.ini\\)");
}

TEST_F(ReportFatalTest, TextStartingWithAtCountsAsMissing) {
  Script("[ENU]\r\nErr03=@not a text\r\n");
  EXPECT_EXIT(ReportFatal(3, path_.c_str()), ::testing::ExitedWithCode(255), "Unable to find SetupQor.ini");
}

// Death-test regexes cannot say "nothing was written"; these check that the box line is absent by
// having the child print a sentinel only after ReportFatal would have written its box.
void FatalWithSentinel(int code, const char* path) {
  std::fputs("begin|", stderr);
  ReportFatal(code, path);
}

TEST_F(ReportFatalTest, CancelSilentAndBuilderShowNothing) {
  Script(kScript);
  EXPECT_EXIT(FatalWithSentinel(6, path_.c_str()), ::testing::ExitedWithCode(255), "begin\\|$");
  silentMode = 1;
  EXPECT_EXIT(FatalWithSentinel(3, path_.c_str()), ::testing::ExitedWithCode(255), "begin\\|$");
  EXPECT_EXIT(FatalWithSentinel(2, "SetupQor.ini"), ::testing::ExitedWithCode(255), "begin\\|$");
  silentMode = 0;
  RunStatus.builderMode = 1;
  EXPECT_EXIT(FatalWithSentinel(3, path_.c_str()), ::testing::ExitedWithCode(255), "begin\\|$");
  EXPECT_EXIT(FatalWithSentinel(4, nullptr), ::testing::ExitedWithCode(255), "begin\\|$");
}

TEST_F(ReportFatalTest, TheScriptTextIsReadIntoLastMessage) {
  Script(kScript);
  RunStatus.builderMode = 1;  // no box, but the text is still read
  EXPECT_EXIT(
      {
        std::snprintf(lastMessage, sizeof lastMessage, "caller text");
        std::atexit([] { std::fprintf(stderr, "last=%s|", lastMessage); });
        ReportFatal(3, path_.c_str());
      },
      ::testing::ExitedWithCode(255), "last=Datei kaputt\\|");
}

}  // namespace
