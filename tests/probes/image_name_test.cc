// The process snapshot's records, the lookups and the two ways of matching a program text.

#include "probes/image_name.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/fake/fake_process_list.h"
#include "probes/image_name_matcher.h"
#include "probes/match_tilde_name.h"
#include "support/test_support.h"

namespace {

using snx::platform::FakeProcessList;
using snx::platform::ProcessList;
using snx::platform::ScopedInstall;
using ::testing::ElementsAre;

class ImageNameTest : public ::testing::Test {
 protected:
  FakeProcessList processes_;
  ScopedInstall<ProcessList> install_{processes_};
  snx::test::CapturingLog log_;
  CImageName images_;
};

TEST_F(ImageNameTest, RecordsSplitNamesAtTheFirstDot) {
  processes_.Add(10, "/opt/srv/my.app.exe");
  processes_.Add(11, "unknown");  // could not be read
  processes_.Add(12, "C:\\Apps\\Server.EXE");
  ASSERT_TRUE(images_.Initialize());
  ASSERT_EQ(images_.Count(), 2);
  const CPImage* a = images_.At(0);
  EXPECT_EQ(a->m_sFileStem.ToString() + "|" + a->m_sFileExt.ToString(), "my|app.exe");
  EXPECT_EQ(a->m_sBaseStem.ToString() + "|" + a->m_sBaseExt.ToString(), "my|app.exe");
  EXPECT_EQ(a->m_iFileStemLength, 2);
  EXPECT_EQ(a->m_iProcessId, 10);
  const CPImage* b = images_.At(1);
  EXPECT_EQ(b->m_sBaseName.ToString(), "Server.EXE");
  EXPECT_EQ(b->m_sBaseStem.ToString(), "Server");
  EXPECT_EQ(b->m_iBaseStemLength, 6);
}

TEST_F(ImageNameTest, SnapshotHoldsEveryProcessOfABusyHost) {
  for (int pid = 1; pid <= 6000; ++pid) processes_.Add(pid, "/bin/w" + std::to_string(pid));
  ASSERT_TRUE(images_.Initialize());
  EXPECT_EQ(images_.Count(), 6000);
  CPImage* record = nullptr;
  ASSERT_TRUE(images_.GetPImageByProgramName("/bin/w6000", record));
  EXPECT_EQ(record->m_iProcessId, 6000);

  processes_.Clear();  // a refresh rebuilds the records from scratch
  processes_.Add(7, "/bin/only");
  ASSERT_TRUE(images_.Refresh());
  EXPECT_EQ(images_.Count(), 1);
  processes_.SetFailing(true);
  EXPECT_FALSE(images_.Refresh());
  EXPECT_EQ(images_.Count(), 0);
  EXPECT_FALSE(CImageName().Initialize());
  EXPECT_TRUE(log_.HasError("CImageName::Initialize() failed."));
}

TEST_F(ImageNameTest, LookupsByProgramNameAndPid) {
  processes_.Add(20, "/usr/sbin/nginx");
  processes_.Add(21, "/usr/sbin/nginx");
  processes_.Add(22, "C:\\PROGRA~1\\SERVER~1\\SERVER.EXE");
  ASSERT_TRUE(images_.Initialize());
  CPImage* record = nullptr;
  ASSERT_TRUE(images_.GetPImageByProgramName("/USR/SBIN/NGINX", record));
  EXPECT_EQ(record->m_iProcessId, 20);  // the first of two processes of one program
  ASSERT_TRUE(images_.GetPImageByProgramName("C:\\Program Files\\ServerSuite\\Server.exe", record));
  EXPECT_EQ(record->m_iProcessId, 22);
  ASSERT_TRUE(images_.GetPImageByPid(21, record));
  EXPECT_EQ(record->m_iProcessId, 21);

  log_.Clear();
  EXPECT_FALSE(images_.GetPImageByProgramName("", record));
  EXPECT_FALSE(images_.GetPImageByProgramName("/usr/sbin/ngin", record));
  EXPECT_EQ(record, nullptr);
  EXPECT_FALSE(images_.GetPImageByPid(0, record));
  EXPECT_FALSE(images_.GetPImageByPid(99, record));
  EXPECT_THAT(log_.Errors(), ElementsAre("CImageName::GetPImageByProgramName failed.",
                                         "CImageName::GetPImageByProgramName failed.",
                                         "CImageName::GetPImageByPid failed.",
                                         "CImageName::GetPImageByPid failed."));
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
      {"C:\\PROGRA~1\\SERVER~1\\SERVER.EXE", "C:\\Program Files\\ServerSuite\\Server.exe", true},
      {"C:\\MYSERV~1\\A.EXE", "C:\\My Server Suite\\A.exe", false},  // blank in the first six
      {"C:\\ABCD~1\\A.EXE", "C:\\ABCD Folder\\A.exe", false},        // "~" too far forward
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
  EXPECT_EQ(matcher.MatchedPid(), 33);
  EXPECT_EQ(matcher.MatchedIndex(), 3);
  EXPECT_EQ(matcher.MatchedBaseStem().ToString(), "apache2");
  EXPECT_EQ(matcher.Score(), 7);
  // Taken while the position is beyond the score so far: pid 30 (10 > 0), then 32 (16 > 5).
  ASSERT_TRUE(matcher.Go("nginx", &images_.Records()));
  EXPECT_EQ(matcher.MatchedPid(), 32);
  EXPECT_EQ(matcher.MatchedIndex(), 2);

  log_.Clear();
  EXPECT_FALSE(matcher.Go("C:\\bin\\my.app.exe", &images_.Records()));
  EXPECT_EQ(matcher.ProgramFileStem().ToString() + "|" + matcher.ProgramFileExt().ToString(),
            "my|app.exe");
  EXPECT_EQ(matcher.MatchedIndex(), -1);
  EXPECT_EQ(matcher.MatchedPid(), 0);
  EXPECT_FALSE(matcher.Go("/x/", &images_.Records()));  // only at position 0
  EXPECT_FALSE(matcher.Go("", &images_.Records()));
  EXPECT_FALSE(matcher.Go("nginx", nullptr));
  EXPECT_THAT(log_.Errors(),
              ElementsAre("CImageNameMatcher::ScanForBestMatch() failed for: C:\\bin\\my.app.exe",
                          "CImageNameMatcher::Go() failed.",
                          "CImageNameMatcher::ScanForBestMatch() failed for: /x/",
                          "CImageNameMatcher::Go() failed.", "CImageNameMatcher::Go() failed.",
                          "CImageNameMatcher::Go() failed."));
}

}  // namespace
