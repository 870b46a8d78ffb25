// ReportFatal natively, where a message box is written to standard error as "[caption] text": which
// text is shown for a code (with the reason under it), when nothing is shown, and that the status is
// always -1.
#include <gtest/gtest.h>

#include <string>

#include "installer/installer.h"

namespace {

const char kScript[] =
    "[Cmd]\r\nLANG=DEU\r\nTitle=Product X\r\n"
    "[DEU]\r\nErr03=Datei kaputt\r\nErr07=Befehl fehlgeschlagen\r\n"
    "[ENU]\r\nErr03=File broken\r\n";

const char kList[] =
    "[Cmd]\r\nLANG=DEU,ENU\r\nTitle=T\r\n"
    "[DEU]\r\nErr03=Datei kaputt\r\nErr04=Skript kaputt\r\n"
    "[ENU]\r\nErr04=Script incomplete\r\nErr03=\r\n";

TEST(ReportFatal, ShowsWhatTheScriptHoldsForTheCode) {
  const struct {
    const char* script;
    Failure failure;
    bool silent;
    const char* shown;  // all of standard error
  } cases[] = {
      {kScript, Fail(3, "x"), false, "[Product X] Datei kaputt\n\nx\n"},
      {kScript, Fail(7, "x"), false, "[Product X] Befehl fehlgeschlagen\n\nx\n"},
      // Without LANG the texts come from ENU; without Title the caption is "@".
      {"[Cmd]\r\nTitle=T\r\n[ENU]\r\nErr04=Script incomplete\r\n", Fail(4, "x"), false, "[T] Script incomplete\n\nx\n"},
      {"[ENU]\r\nErr05=Broken\r\n", Fail(5, "x"), false, "[@] Broken\n\nx\n"},
      // No text for the code, or one that begins with "@": the fallback box names the script.
      {"", Fail(2, "x"), false, "[Error Code: 2 (SetupQor.ini)\n] Unable to find SetupQor.ini file.  Exiting.\n\nx\n"},
      {"[ENU]\r\nErr03=@not a text\r\n", Fail(3, "x"), false,
       "[Error Code: 3 (SetupQor.ini)\n] Unable to find SetupQor.ini file.  Exiting.\n\nx\n"},
      // A damaged segment's decoder result comes first, in a box of its own.
      {kScript, Failure{5, "x", 3}, false, "[Value of uiRep] 3\n[Error Code: 5 (SetupQor.ini)\n] Unable to find SetupQor.ini file.  Exiting.\n\nx\n"},
      // A list: the user's section (ENU natively), a text it lacks from the first listed section.
      {kList, Fail(4, "x"), false, "[T] Script incomplete\n\nx\n"},
      {kList, Fail(3, "x"), false, "[T] Datei kaputt\n\nx\n"},
      {kList, Fail(5, "x"), false, "[Error Code: 5 (SetupQor.ini)\n] Unable to find SetupQor.ini file.  Exiting.\n\nx\n"},
      // A cancel and a silent run show nothing.
      {kScript, Fail(6, "x"), false, ""},
      {kScript, Fail(3, "x"), true, ""},
      {kScript, Failure{5, "x", 3}, true, ""},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReportFatal(c.failure, SetupScript(c.script), kScriptName, c.silent), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.shown) << c.script << " code " << c.failure.code;
  }
}

}  // namespace
