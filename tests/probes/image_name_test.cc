// The process snapshot's records, the lookups and the two ways of matching a program text.

#include "probes/image_name.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fake/fake_process_list.h"
#include "probes/image_name_matcher.h"
#include "probes/match_tilde_name.h"
#include "support/test_support.h"

namespace {

class ImageNameTest : public ::testing::Test {
 protected:
  snx::platform::FakeProcessList processes_;
  snx::platform::ScopedInstall<snx::platform::ProcessList> install_{processes_};
  snx::test::CapturingLog log_;
  CImageName images_;
};

TEST_F(ImageNameTest, SnapshotHoldsEveryProcessOfABusyHostAndLookupsFindTheFirst) {
  processes_.Add(10, "/opt/srv/my.app.exe");
  processes_.Add(11, "unknown");  // could not be read: left out
  processes_.Add(20, "/usr/sbin/nginx");
  processes_.Add(21, "/usr/sbin/nginx");
  processes_.Add(22, "C:\\PROGRA~1\\SERVER~1\\SERVER.EXE");
  for (int pid = 100; pid < 6100; ++pid) processes_.Add(pid, "/bin/w" + std::to_string(pid));
  ASSERT_TRUE(images_.Initialize());
  ASSERT_EQ(images_.Count(), 6004);
  // The base stem (the activity counters' instance name) ends at the first dot.
  EXPECT_EQ(images_.At(0)->m_sBaseStem.ToString() + "|" + images_.At(0)->m_sBaseExt.ToString(),
            "my|app.exe");
  CPImage* record = nullptr;
  ASSERT_TRUE(images_.GetPImageByProgramName("/bin/w6099", record));
  EXPECT_EQ(record->m_iProcessId, 6099);
  ASSERT_TRUE(images_.GetPImageByProgramName("/USR/SBIN/NGINX", record));
  EXPECT_EQ(record->m_iProcessId, 20);  // the first of two processes of one program
  ASSERT_TRUE(images_.GetPImageByProgramName("C:\\Program Files\\ServerSuite\\Server.exe", record));
  EXPECT_EQ(record->m_iProcessId, 22);
  ASSERT_TRUE(images_.GetPImageByPid(21, record));
  EXPECT_EQ(record->m_iProcessId, 21);
  EXPECT_FALSE(images_.GetPImageByProgramName("/usr/sbin/ngin", record));
  EXPECT_EQ(record, nullptr);
  EXPECT_FALSE(images_.GetPImageByPid(99, record));

  processes_.Clear();  // a refresh rebuilds the records from scratch
  processes_.Add(7, "/bin/only");
  ASSERT_TRUE(images_.Refresh());
  EXPECT_EQ(images_.Count(), 1);
  processes_.SetFailing(true);
  EXPECT_FALSE(images_.Refresh());
  EXPECT_EQ(images_.Count(), 0);
  EXPECT_FALSE(CImageName().Initialize());
}

TEST(MatchTildeNameTest, ShortFormStandsForLongForm) {
  const struct {
    const char* short_form;
    const char* long_form;
    bool match;
  } cases[] = {
      {"C:\\PROGRA~1\\APP.EXE", "c:\\program files\\app.exe", true},
      {"C:\\PROGRA~1\\APP.EXE", "D:\\Program Files\\App.exe", false},  // other drive
      {"C:\\PROGRA~1\\APP.EXE", "\\Program Files\\App.exe", true},     // no drive on one side
      {"C:\\PROGRA~1\\APP.EXE", "C:\\Apps\\App.exe", false},           // first six differ
      {"C:\\MYSERV~1\\A.EXE", "C:\\My Server Suite\\A.exe", false},    // blank in the first six
      {"C:\\ABCD~1\\A.EXE", "C:\\ABCD Folder\\A.exe", false},          // "~" too far forward
      {"C:\\LONGFI~1.HTM", "C:\\Longfilename.html", true},
      {"C:\\LONGFI~1.TXT", "C:\\Longfilename.html", false},  // extensions' first letters differ
      {"C:\\LONGFI~1", "C:\\Longfilename.html", true},       // one extension empty
      {"C:\\PROGRA~1\\APP.EXE", "C:\\Program Files\\App.exe\\More", false},
      {"C:\\PROGRA~1\\APP.EXE", "C:\\Program Files", false},
      {"/opt/PROGRA~1/app", "/opt/Program Files/app", true},
  };
  for (const auto& c : cases) {
    CPImage record;
    record.m_sProgramName.Assign(c.short_form);
    EXPECT_EQ(MatchTildeName(record, c.long_form), c.match) << c.short_form << " / " << c.long_form;
  }
}

TEST_F(ImageNameTest, MatcherTakesExactPathAtOnceOrTheDeepestPartialMatch) {
  processes_.Add(30, "/srv/apps/nginx");            // "nginx" at 10
  processes_.Add(31, "/x/nginx");                   // "nginx" at 3: too near the start
  processes_.Add(32, "/usr/local/sbin/nginx.bin");  // "nginx" at 16
  processes_.Add(33, "/usr/sbin/apache2");
  processes_.Add(34, "/usr/sbin/apache2");
  ASSERT_TRUE(images_.Initialize());
  CImageNameMatcher matcher;
  ASSERT_TRUE(matcher.Go("/USR/SBIN/APACHE2", &images_.Records()));
  EXPECT_EQ(matcher.MatchedIndex(), 3);  // pid 33, the first of the two
  EXPECT_EQ(matcher.MatchedBaseStem().ToString(), "apache2");
  // Taken while the position is beyond the score so far: pid 30 (10 > 0), then 32 (16 > 5).
  ASSERT_TRUE(matcher.Go("nginx", &images_.Records()));
  EXPECT_EQ(matcher.MatchedPid(), 32);

  log_.Clear();
  EXPECT_FALSE(matcher.Go("C:\\bin\\my.app.exe", &images_.Records()));
  EXPECT_EQ(matcher.MatchedIndex(), -1);  // nothing left of the match before
  EXPECT_EQ(matcher.MatchedPid(), 0);
  EXPECT_FALSE(matcher.Go("x/nginx", &images_.Records()));  // only at 1: too near the start
  EXPECT_FALSE(matcher.Go("nginx", nullptr));
  EXPECT_EQ(log_.Errors()[0],
            "CImageNameMatcher::ScanForBestMatch() failed for: C:\\bin\\my.app.exe");
}

}  // namespace
