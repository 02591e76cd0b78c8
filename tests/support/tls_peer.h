#pragma once
// A real TLS web server on 127.0.0.1 for tests (tests/peers/tls_peer.py), one port per
// certificate. The certificates (tests/peers/tls_certificates.sh) are made once per test program
// into a temporary folder: a test CA ("ca.pem", to be trusted through a CA file) and server
// certificates named by what is wrong with them ("valid" when nothing).

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "integration/subprocess.h"
#include "support/test_support.h"

namespace snx::test {

// The folder of the certificates, made on first use; "" when openssl failed. Its files serve any
// test that needs a CA and a server certificate: "ca.pem" with "valid.pem" and "valid.key" (for
// 127.0.0.1 and "localhost").
inline const std::string& TlsCertificates() {
  static TempDir folder;
  static const std::string made = [] {
    Child run(
        {"/bin/sh", "-c", "cd \"$0\" && sh \"$1\"", folder.path(), PeerFile("tls_certificates.sh")},
        true);
    return run.Wait(std::chrono::seconds(60)) == 0 ? folder.path() : std::string();
  }();
  return made;
}

class TlsPeer {
 public:
  static inline const std::vector<std::string> kAll = {
      "valid", "expired", "notyet", "wronghost", "selfsigned", "unknown", "expiring"};

  explicit TlsPeer(const std::vector<std::string>& certificates = kAll)
      : child_(Argv(certificates), true) {
    std::string out;
    ready_ =
        Eventually([&] { return (out = child_.Output()).find("ready\n") != std::string::npos; },
                   std::chrono::seconds(5));
    std::istringstream lines(out);
    std::string name;
    int port = 0;
    while (lines >> name && name != "ready" && lines >> port) ports_[name] = port;
  }

  bool Ready() const { return ready_; }
  // The test CA to trust through a CA file.
  static std::string CaFile() { return TlsCertificates() + "/ca.pem"; }
  // "https://127.0.0.1:PORT" + path of the server with that certificate.
  std::string Url(const std::string& certificate, const std::string& path = "/") const {
    const auto at = ports_.find(certificate);
    return "https://127.0.0.1:" + std::to_string(at == ports_.end() ? 1 : at->second) + path;
  }

 private:
  static std::vector<std::string> Argv(const std::vector<std::string>& certificates) {
    std::vector<std::string> argv = {"/usr/bin/python3", "-u", PeerFile("tls_peer.py"),
                                     TlsCertificates()};
    argv.insert(argv.end(), certificates.begin(), certificates.end());
    return argv;
  }

  Child child_;
  std::map<std::string, int> ports_;
  bool ready_ = false;
};

}  // namespace snx::test
