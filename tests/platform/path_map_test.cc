#include "platform/path_map.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace snx::platform {
namespace {

constexpr const char* kD = "/r/var/lib/snxsvc/drives/D";
constexpr const char* kC = "/r/var/lib/snxsvc/drives/C";

TEST(MapPathTextTest, DrivesTopLevelFoldersAndPosixPaths) {
  const struct {
    const char* text;
    const char* root;
    std::string expected;
  } cases[] = {
      // Drives: the root joins with exactly one "/"; an empty root is "/", not a relative path.
      {"D:\\Heartbeat", "", "/var/lib/snxsvc/drives/D/Heartbeat"},
      {"D:\\Heartbeat", "/r//", std::string(kD) + "/Heartbeat"},
      {"d:\\x\\y.txt", "/r", std::string(kD) + "/x/y.txt"},
      {"D:", "/r", kD},
      {"D:\\", "/r", std::string(kD) + "/"},
      {"E:notes.txt", "/r", "/r/var/lib/snxsvc/drives/E/notes.txt"},  // from the drive's root
      // The escaped form, with every backslash doubled.
      {"C:\\\\dir\\\\file", "/r", std::string(kC) + "/dir/file"},
      // Rooted texts whose whole first component is a known top-level name live on C.
      {"\\Documents and Settings\\All Users\\x.txt", "/r",
       std::string(kC) + "/Documents and Settings/All Users/x.txt"},
      {"/PROGRAM FILES/a", "/r", std::string(kC) + "/PROGRAM FILES/a"},
      {"\\\\programmi\\\\x", "/r", std::string(kC) + "/programmi/x"},
      {"\\qordevel.TXT", "/r", std::string(kC) + "/qordevel.TXT"},
      {"\\Program Files", "/r", std::string(kC) + "/Program Files"},
      {"\\Program Files2\\x", "/r", "/Program Files2/x"},
      {"\\tmp\\Program Files", "/r", "/tmp/Program Files"},
      {"Program Files\\x", "/r", "Program Files/x"},  // not rooted: as given
      // POSIX and relative texts keep their place; only separators fold.
      {"", "/r", ""},
      {"//opt///snx", "/r", "/opt/snx"},
      {"logs\\\\today.log", "/r", "logs/today.log"},
      {"\\", "/r", "/"},
      // A colon that is not a drive prefix stays where it is.
      {"1:\\x", "/r", "1:/x"},
      {"/a/C:/b", "/r", "/a/C:/b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MapPathText(c.text, c.root), c.expected) << "\"" << c.text << "\" under " << c.root;
  }
}

TEST(StateFoldersTest, FollowSnxRoot) {
  for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
    test::ScopedEnv env("SNX_ROOT", unset);
    EXPECT_EQ(StateRoot(), "/");
    EXPECT_EQ(StateDir(), "/var/lib/snxsvc");
    EXPECT_EQ(RuntimeDir(), "/run/snxsvc");
  }
  test::ScopedEnv env("SNX_ROOT", "/tmp/snx-root/");
  EXPECT_EQ(RuntimeDir(), "/tmp/snx-root/run/snxsvc");
  EXPECT_EQ(ToPosixPath("c:\\QorDevel.txt"), "/tmp/snx-root/var/lib/snxsvc/drives/C/QorDevel.txt");
}

}  // namespace
}  // namespace snx::platform
