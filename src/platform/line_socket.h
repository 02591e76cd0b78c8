#pragma once
// A local stream socket that carries one line per request and one line per answer: the server
// side of the service's command socket and the client side of snxctl.
//
// The server listens on a Unix socket path (mode 0660, group `admin_group` when that group
// exists), checks each peer's credentials as it connects (root, the server's own uid, or a
// member of `admin_group`; anyone else gets one "ERR" line and is closed), and runs each
// accepted connection on a thread of its own with a session made for it. A session lives as long
// as its connection: it is made when the peer is accepted and destroyed when the peer closes or
// the server stops. Lines longer than the bound are answered with an error and skipped up to
// their LF; the connection goes on.
//
// A connection that is stuck holds a place that an administrator may need: a whole request line
// must arrive within `line_wait` of the connection (of its session being made) and of each
// answer, or the connection is closed. A client that waits between requests for less than that
// keeps its connection as long as it likes.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace snx::platform {

struct PeerIdentity {
  long pid = 0;
  unsigned uid = 0;
  unsigned gid = 0;
};

class LineSession {
 public:
  virtual ~LineSession() = default;
  // The answer to one request line (without its LF); the answer is sent with a LF added.
  virtual std::string Answer(std::string_view line) = 0;
};

// The answer of a server whose places are all taken, before it closes the connection: the
// client may connect again a moment later.
inline constexpr const char* kBusyAnswer = "ERR too many connections";

struct LineServerOptions {
  std::string path;
  std::string admin_group = "snxadm";
  std::size_t max_line = 128;
  std::size_t max_connections = 16;
  // The longest wait for a whole request line (see above).
  std::chrono::milliseconds line_wait = std::chrono::seconds(5);
  // Answer to a line past max_line.
  std::string too_long_answer = "ERR line too long";
  std::string refused_answer = "ERR access denied";
  std::string busy_answer = kBusyAnswer;
  // Told of each peer refused by the credential check (the service logs it).
  std::function<void(const PeerIdentity&)> on_refused;
};

class LineServer {
 public:
  using SessionMaker = std::function<std::unique_ptr<LineSession>(const PeerIdentity&)>;
  virtual ~LineServer() = default;
  // Binds and listens (replacing a stale socket, never a file of another kind) and starts
  // accepting on a thread of its own. False with `error` when it cannot.
  virtual bool Start(const LineServerOptions& options, SessionMaker make, std::string& error) = 0;
  // Stops accepting, ends every connection, waits for their threads (so every session is
  // destroyed when it returns) and removes the socket. Safe to call more than once.
  virtual void Stop() = 0;
  virtual std::size_t OpenConnections() const = 0;
};

std::unique_ptr<LineServer> MakeUnixLineServer();

// The client side: one connection, one request line after another.
class LineClient {
 public:
  virtual ~LineClient() = default;
  // False with `error` when nothing listens at `path` (or the peer refused at once).
  virtual bool Connect(const std::string& path, std::string& error) = 0;
  // After a failed Connect: true when the socket is there but this user may not open it (as
  // opposed to nothing listening at the path).
  virtual bool PermissionDenied() const { return false; }
  // Sends `request` plus LF and reads one answer line of at most `max_line` bytes within
  // `timeout`. False with `error` on a closed connection, a time-out or an overlong answer.
  virtual bool Exchange(std::string_view request, std::string& answer, std::size_t max_line,
                        std::chrono::milliseconds timeout, std::string& error) = 0;
  // Reads the next line of an answer of several lines, as Exchange reads its one.
  virtual bool ReadLine(std::string& answer, std::size_t max_line,
                        std::chrono::milliseconds timeout, std::string& error) = 0;
};

std::unique_ptr<LineClient> MakeUnixLineClient();

}  // namespace snx::platform
