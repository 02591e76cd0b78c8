#include "platform/path_map.h"

#include <gtest/gtest.h>

#include <ostream>

#include "support/test_support.h"

namespace snx::platform {
namespace {

struct Case {
  const char* text;
  const char* root;
  const char* expected;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << "\"" << c.text << "\" under \"" << c.root << "\"";
}

class MapPathTextTest : public ::testing::TestWithParam<Case> {};

TEST_P(MapPathTextTest, Maps) {
  const Case& c = GetParam();
  EXPECT_EQ(MapPathText(c.text, c.root), c.expected) << "text: " << c.text << " root: " << c.root;
}

INSTANTIATE_TEST_SUITE_P(
    Drives, MapPathTextTest,
    ::testing::Values(Case{"D:\\Heartbeat", "/", "/var/lib/snxsvc/drives/D/Heartbeat"},
                      Case{"D:\\Heartbeat", "/tmp/r", "/tmp/r/var/lib/snxsvc/drives/D/Heartbeat"},
                      Case{"D:\\Heartbeat", "/tmp/r/", "/tmp/r/var/lib/snxsvc/drives/D/Heartbeat"},
                      Case{"D:\\Heartbeat", "/tmp/r//", "/tmp/r/var/lib/snxsvc/drives/D/Heartbeat"},
                      // An empty root is the default root, not a relative path.
                      Case{"D:\\Heartbeat", "", "/var/lib/snxsvc/drives/D/Heartbeat"},
                      Case{"d:\\x\\y.txt", "/r", "/r/var/lib/snxsvc/drives/D/x/y.txt"},
                      Case{"D:", "/r", "/r/var/lib/snxsvc/drives/D"},
                      Case{"D:\\", "/r", "/r/var/lib/snxsvc/drives/D/"},
                      Case{"D:/", "/", "/var/lib/snxsvc/drives/D/"},
                      Case{"C:\\Logs\\", "/r", "/r/var/lib/snxsvc/drives/C/Logs/"},
                      // Relative to the drive's root folder.
                      Case{"E:notes.txt", "/r", "/r/var/lib/snxsvc/drives/E/notes.txt"},
                      // The escaped form, with every backslash doubled.
                      Case{"C:\\\\dir\\\\file", "/r", "/r/var/lib/snxsvc/drives/C/dir/file"},
                      Case{"C:/dir\\/\\file", "/r", "/r/var/lib/snxsvc/drives/C/dir/file"},
                      Case{"C:\\\\\\dir", "/", "/var/lib/snxsvc/drives/C/dir"},
                      Case{"D:\\Program Files\\x", "/r",
                           "/r/var/lib/snxsvc/drives/D/Program Files/x"}));

INSTANTIATE_TEST_SUITE_P(
    TopLevelFolders, MapPathTextTest,
    ::testing::Values(Case{"\\Documents and Settings\\All Users\\x.txt", "/r",
                           "/r/var/lib/snxsvc/drives/C/Documents and Settings/All Users/x.txt"},
                      Case{"\\Program Files\\Sentinex\\", "/",
                           "/var/lib/snxsvc/drives/C/Program Files/Sentinex/"},
                      Case{"/PROGRAM FILES/a", "/r", "/r/var/lib/snxsvc/drives/C/PROGRAM FILES/a"},
                      Case{"\\\\programmi\\\\x", "/r", "/r/var/lib/snxsvc/drives/C/programmi/x"},
                      Case{"\\QorDevel.txt", "/r", "/r/var/lib/snxsvc/drives/C/QorDevel.txt"},
                      Case{"\\qordevel.TXT", "/r", "/r/var/lib/snxsvc/drives/C/qordevel.TXT"},
                      Case{"\\Program Files", "/r", "/r/var/lib/snxsvc/drives/C/Program Files"},
                      // Only the whole first component counts.
                      Case{"\\Program Files2\\x", "/r", "/Program Files2/x"},
                      Case{"\\QorDevel.txt.bak", "/r", "/QorDevel.txt.bak"},
                      Case{"\\tmp\\Program Files", "/r", "/tmp/Program Files"},
                      // Not rooted: relative to the current folder, as given.
                      Case{"Program Files\\x", "/r", "Program Files/x"}));

INSTANTIATE_TEST_SUITE_P(
    PosixAndRelative, MapPathTextTest,
    ::testing::Values(Case{"", "/r", ""},
                      Case{"/opt/snx/Sentinex.ini", "/r", "/opt/snx/Sentinex.ini"},
                      Case{"/opt/snx/", "/r", "/opt/snx/"}, Case{"//opt///snx", "/r", "/opt/snx"},
                      Case{"/opt\\snx\\bin\\", "/r", "/opt/snx/bin/"},
                      Case{"Sentinex.ini", "/r", "Sentinex.ini"},
                      Case{"logs\\\\today.log", "/r", "logs/today.log"},
                      Case{"..\\up", "/r", "../up"}, Case{"\\", "/r", "/"},
                      // A colon that is not a drive prefix stays where it is.
                      Case{"1:\\x", "/r", "1:/x"}, Case{"ab:\\x", "/r", "ab:/x"},
                      Case{"/a/C:/b", "/r", "/a/C:/b"}));

TEST(StateFoldersTest, FollowSnxRoot) {
  {
    test::ScopedEnv env("SNX_ROOT", nullptr);
    EXPECT_EQ(StateRoot(), "/");
    EXPECT_EQ(StateDir(), "/var/lib/snxsvc");
    EXPECT_EQ(RuntimeDir(), "/run/snxsvc");
    EXPECT_EQ(ToPosixPath("D:\\Heartbeat"), "/var/lib/snxsvc/drives/D/Heartbeat");
  }
  {
    test::ScopedEnv env("SNX_ROOT", "");
    EXPECT_EQ(StateRoot(), "/");
    EXPECT_EQ(StateDir(), "/var/lib/snxsvc");
  }
  {
    test::ScopedEnv env("SNX_ROOT", "/tmp/snx-root/");
    EXPECT_EQ(StateDir(), "/tmp/snx-root/var/lib/snxsvc");
    EXPECT_EQ(RuntimeDir(), "/tmp/snx-root/run/snxsvc");
    EXPECT_EQ(ToPosixPath("c:\\QorDevel.txt"),
              "/tmp/snx-root/var/lib/snxsvc/drives/C/QorDevel.txt");
    EXPECT_EQ(ToPosixPath("/etc/hosts"), "/etc/hosts");
  }
}

}  // namespace
}  // namespace snx::platform
