// The command socket on a real Unix socket: bounded lines, errors that keep the connection,
// the peer check, sessions that end with their connection, and a stopping server.

#include "platform/line_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#include "support/test_support.h"

namespace snx::platform {
namespace {

using namespace std::chrono_literals;

struct Counters {
  std::atomic<int> open{0};
  std::atomic<int> made{0};
  std::mutex mutex;
  std::vector<PeerIdentity> refused;
};

struct EchoSession : LineSession {
  explicit EchoSession(Counters& c) : c(c) { ++c.open, ++c.made; }
  ~EchoSession() override { --c.open; }
  std::string Answer(std::string_view line) override {
    return line.empty() ? "ERR empty" : "ECHO " + std::string(line);
  }
  Counters& c;
};

class LineSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options_.path = dir_.File("run/test.sock");
    options_.max_line = 16;
    options_.on_refused = [this](const PeerIdentity& p) {
      std::lock_guard<std::mutex> lock(counters_.mutex);
      counters_.refused.push_back(p);
    };
    ASSERT_TRUE(Start(*server_)) << error_;
  }
  // Starts `server` with the test's options and echo sessions.
  bool Start(LineServer& server) {
    return server.Start(
        options_, [this](const PeerIdentity&) { return std::make_unique<EchoSession>(counters_); },
        error_);
  }
  std::unique_ptr<LineClient> Connect() {
    auto client = MakeUnixLineClient();
    std::string error;
    EXPECT_TRUE(client->Connect(options_.path, error)) << error;
    return client;
  }
  static std::string Ask(LineClient& client, std::string_view line) {
    std::string answer, error;
    if (!client.Exchange(line, answer, 4096, 5s, error)) return "FAILED " + error;
    return answer;
  }
  snx::test::TempDir dir_;
  std::string error_;
  LineServerOptions options_;
  Counters counters_;
  std::unique_ptr<LineServer> server_ = MakeUnixLineServer();
};

TEST_F(LineSocketTest, BadAndOverlongLinesAreAnsweredAndTheConnectionGoesOn) {
  EXPECT_EQ(snx::test::ModeOf(options_.path), 0660u);
  auto client = Connect();
  EXPECT_EQ(Ask(*client, "hello"), "ECHO hello");
  EXPECT_EQ(Ask(*client, ""), "ERR empty");
  EXPECT_EQ(Ask(*client, std::string(5000, 'x')), "ERR line too long");
  EXPECT_EQ(Ask(*client, std::string(16, 'y') + "\r"), "ECHO " + std::string(16, 'y') + "\r");
  EXPECT_EQ(Ask(*client, "again"), "ECHO again");
  // Two requests in one write get two answers in order.
  EXPECT_EQ(Ask(*client, "a\nb"), "ECHO a");
  EXPECT_EQ(Ask(*client, "c"), "ECHO b");
  EXPECT_EQ(counters_.made, 1);
}

TEST_F(LineSocketTest, SessionsEndWithTheirConnectionAndWhenTheServerStops) {
  {
    auto a = Connect();
    auto b = Connect();
    EXPECT_EQ(Ask(*a, "1"), "ECHO 1");
    EXPECT_EQ(Ask(*b, "2"), "ECHO 2");
    EXPECT_EQ(counters_.open, 2);
  }
  EXPECT_TRUE(snx::test::Eventually([&] { return counters_.open == 0; }));
  auto idle = Connect();
  EXPECT_EQ(Ask(*idle, "x"), "ECHO x");
  server_->Stop();  // with a connection open: its session is gone when Stop returns
  EXPECT_EQ(counters_.open, 0);
  EXPECT_FALSE(std::filesystem::exists(options_.path));
  EXPECT_TRUE(Ask(*idle, "y").starts_with("FAILED"));
}

TEST_F(LineSocketTest, ALiveServerIsNotReplacedAStaleOneIsAndOtherFilesAreLeftAlone) {
  auto second = MakeUnixLineServer();
  EXPECT_FALSE(Start(*second));
  EXPECT_NE(error_.find("another server"), std::string::npos) << error_;

  const std::string socket = options_.path;
  options_.path = dir_.File("plain");
  dir_.Write("plain", "keep");
  EXPECT_FALSE(Start(*second));
  EXPECT_EQ(dir_.Read("plain"), "keep");
  options_.path = socket;

  // A socket file whose server died (nobody listens) is replaced.
  server_ = MakeUnixLineServer();  // the old one stops and removes its socket
  ASSERT_TRUE(Start(*second)) << error_;
  second.reset();  // a stopped server removed the socket; make a stale one by hand
  ASSERT_TRUE(Start(*server_)) << error_;
  auto client = Connect();
  EXPECT_EQ(Ask(*client, "z"), "ECHO z");
}

TEST_F(LineSocketTest, AClientWithoutAWholeLineLosesItsPlaceOneBetweenRequestsKeepsIt) {
  server_->Stop();
  options_.line_wait = 1s;
  options_.max_connections = 2;
  ASSERT_TRUE(Start(*server_)) << error_;
  auto silent = Connect();
  // A peer that sends a line a few bytes at a time and never ends it.
  const int trickle = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  options_.path.copy(addr.sun_path, sizeof(addr.sun_path) - 1);
  ASSERT_EQ(::connect(trickle, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)), 0);
  EXPECT_EQ(Ask(*Connect(), "x"), "ERR too many connections");
  for (int i = 0; i < 8 && ::send(trickle, "ab", 2, MSG_NOSIGNAL) == 2; ++i) {
    std::this_thread::sleep_for(250ms);
  }
  EXPECT_TRUE(snx::test::Eventually([&] { return server_->OpenConnections() == 0; }));
  EXPECT_EQ(Ask(*silent, "late").rfind("FAILED", 0), 0u);
  char byte = 0;
  EXPECT_EQ(::recv(trickle, &byte, 1, 0), 0);  // closed, no answer
  ::close(trickle);

  // Requests closer together than the line wait keep the connection for longer than it.
  auto steady = Connect();
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(Ask(*steady, std::to_string(i)), "ECHO " + std::to_string(i));
    std::this_thread::sleep_for(400ms);
  }
  EXPECT_EQ(counters_.made, 3);
}

TEST_F(LineSocketTest, APeerOfAnotherUidIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  // Open the way for the other user, so only the credential check stands between.
  ::chmod(dir_.path().c_str(), 0755);
  ::chmod(dir_.File("run").c_str(), 0755);
  ::chmod(options_.path.c_str(), 0666);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    auto client = MakeUnixLineClient();
    std::string error;
    if (!client->Connect(options_.path, error)) ::_exit(4);
    const bool refused = Ask(*client, "hello") == "ERR access denied";
    ::_exit(refused && Ask(*client, "again").starts_with("FAILED") ? 0 : 5);  // and closed
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(counters_.made, 0);
  std::lock_guard<std::mutex> lock(counters_.mutex);
  ASSERT_EQ(counters_.refused.size(), 1u);
  EXPECT_EQ(counters_.refused[0].uid, 65534u);
}

}  // namespace
}  // namespace snx::platform
