// Switch dispatch of Main with the roles replaced by probes: which role runs, and with what.
#include <gtest/gtest.h>

#include <string>

#include "app/main.h"

namespace {

struct Calls {
  int help = 0, builder = 0, installer = 0;
  std::string builderText;
  std::int32_t installerSilent = -1;
  void* installerInstance = nullptr;
  std::string installerLog;
} calls;

void ProbeHelp() { ++calls.help; }
std::int32_t ProbeBuilder(const char* text) {
  ++calls.builder;
  calls.builderText = text;
  return 0;
}
std::int32_t ProbeInstaller(std::int32_t silent, void* instance, const char* logPath) {
  ++calls.installer;
  calls.installerLog = logPath != nullptr ? logPath : "(none)";
  calls.installerSilent = silent;
  calls.installerInstance = instance;
  return 3010;
}
const Roles kProbes = {ProbeHelp, ProbeBuilder, ProbeInstaller};

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    calls = Calls();
  }
  std::int32_t Run(const char* argumentText) { return Main(&instance_, argumentText, kProbes); }
  int instance_ = 0;
};

TEST_F(Dispatch, QuestionMarkShowsHelpOnly) {
  EXPECT_EQ(Run("/?"), 0);
  EXPECT_EQ(calls.help, 1);
  EXPECT_EQ(calls.builder + calls.installer, 0);
}

TEST_F(Dispatch, BuilderGetsTheWholeArgumentTextInEitherCase) {
  for (const char* text : {"/m .\\list.ini", "/M list.ini", "/mlist.ini"}) {
    calls = Calls();
    EXPECT_EQ(Run(text), 0) << text;
    EXPECT_EQ(calls.builder, 1) << text;
    EXPECT_EQ(calls.builderText, text);
  }
}

TEST_F(Dispatch, OnlyTwoCharactersSelectTheSilentInstaller) {
  for (const char* text : {"/h", "/H", "/hide", "/h extra words"}) {
    calls = Calls();
    EXPECT_EQ(Run(text), 3010) << text;
    EXPECT_EQ(calls.installer, 1) << text;
    EXPECT_EQ(calls.installerSilent, 1) << text;
    EXPECT_EQ(calls.installerInstance, &instance_);
  }
}

TEST_F(Dispatch, AnythingElseStartsTheInstallerWithItsDialog) {
  for (const char* text : {"", "-h", "h", "/", "/x", "m", "/?x"}) {
    calls = Calls();
    Run(text);
    if (std::string(text) == "/?x") {
      EXPECT_EQ(calls.help, 1);  // "/?x" still begins with the help switch
      continue;
    }
    EXPECT_EQ(calls.installer, 1) << "'" << text << "'";
    EXPECT_EQ(calls.installerSilent, 0) << "'" << text << "'";
    }
}

// "/log FILE" anywhere after the two-character switch, quoted or not, in any case.
TEST_F(Dispatch, SilentInstallerGetsItsLogFile) {
  const struct {
    const char* text;
    const char* log;
  } cases[] = {
      {"/h", "(none)"},
      {"/h /log C:\\setup.log", "C:\\setup.log"},
      {"/H /LOG setup.log /quiet", "setup.log"},
      {"/hide /Log \"C:\\My Logs\\setup.log\" x", "C:\\My Logs\\setup.log"},
      {"/h/log x.log", "x.log"},
      {"/h extra /log\tx.log", "x.log"},
      {"/h /log", ""},  // a /log without FILE: the installer refuses it with a reason
      {"/h /logfile x.log", "(none)"},
      {"/h log x.log", "(none)"},
      {"/h /log \"unterminated name", "unterminated name"},
  };
  for (const auto& c : cases) {
    calls = Calls();
    Run(c.text);
    EXPECT_EQ(calls.installerSilent, 1) << c.text;
    EXPECT_EQ(calls.installerLog, c.log) << c.text;
  }
  calls = Calls();
  Run("/x /log page.log");  // the page keeps its record too
  EXPECT_EQ(calls.installerSilent, 0);
  EXPECT_EQ(calls.installerLog, "page.log");
}

TEST(ArgumentText, SkipsTheProgramNameQuotedOrNot) {
  EXPECT_STREQ(ArgumentText("\"C:\\Setup Files\\pkg.exe\" /h"), "/h");
  EXPECT_STREQ(ArgumentText("\"C:\\Setup Files\\pkg.exe\"/h"), "/h");
  EXPECT_STREQ(ArgumentText("C:\\pkg.exe    /h x"), "/h x");
  EXPECT_STREQ(ArgumentText("C:\\pkg.exe\t/m list.ini"), "/m list.ini");
  EXPECT_STREQ(ArgumentText("pkg.exe"), "");
  EXPECT_STREQ(ArgumentText(""), "");
  EXPECT_STREQ(ArgumentText("\"unterminated quote /h"), "");
}

TEST_F(Dispatch, QuotedProgramPathWithBlanksThenSilentSwitch) {
  EXPECT_EQ(Run(ArgumentText("\"C:\\Program Files\\My Setup\\setup.exe\" /h")), 3010);
  EXPECT_EQ(calls.installerSilent, 1);
}

}  // namespace
