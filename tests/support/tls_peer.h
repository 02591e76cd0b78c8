#pragma once
// A real TLS web server on 127.0.0.1 for tests: Python's http.server wrapped in its ssl module,
// one port per certificate. The certificates are made once per test program with openssl into a
// temporary folder: a test CA ("ca.pem", to be trusted through a CA file) and server
// certificates for 127.0.0.1 and localhost that are valid, expired, not yet valid, for another
// host, self-signed, issued by an unknown CA, and expiring in 3 days (and an hour).
//
// Every server answers "/" (and any path) with 200 and a small page, "/missing" with 404, and
// "/redirect?to=URL" with a 302 to URL.

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "integration/subprocess.h"
#include "support/test_support.h"

namespace snx::test {

inline constexpr const char* kTlsCertificates = R"sh(set -e
cat > ca.cnf <<'C'
[ca]
default_ca = c
[c]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = p
unique_subject = no
[p]
commonName = supplied
C
: > index.txt; echo 01 > serial
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null; }
key ca; openssl req -x509 -new -key ca.key -subj /CN=snx-test-ca -days 3650 -out ca.pem \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
key other; openssl req -x509 -new -key other.key -subj /CN=snx-other-ca -days 3650 -out other.pem \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
# name, issuer, subject alt names, start, end
sign() {
  key "$1"
  openssl req -new -key "$1.key" -subj "/CN=$1" -out "$1.csr"
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$3" > "$1.ext"
  openssl ca -batch -config ca.cnf -cert "$2.pem" -keyfile "$2.key" -in "$1.csr" -out "$1.pem" \
    -startdate "$4" -enddate "$5" -extfile "$1.ext" -notext 2>/dev/null
}
d() { date -u -d "$1" +%Y%m%d%H%M%SZ; }
ip=IP:127.0.0.1,DNS:localhost
sign valid ca "$ip" "$(d '-1 day')" "$(d '+365 days 1 hour')"
sign expired ca "$ip" "$(d '-60 days')" "$(d '-30 days')"
sign notyet ca "$ip" "$(d '+30 days')" "$(d '+365 days')"
sign wronghost ca DNS:wrong.example "$(d '-1 day')" "$(d '+365 days')"
sign unknown other "$ip" "$(d '-1 day')" "$(d '+365 days')"
sign expiring ca "$ip" "$(d '-1 day')" "$(d '+3 days 1 hour')"
key selfsigned; openssl req -x509 -new -key selfsigned.key -subj /CN=selfsigned -days 365 \
  -addext subjectAltName=$ip -out selfsigned.pem
)sh";

inline constexpr const char* kTlsPeerScript =
    R"(import http.server, ssl, sys, threading, urllib.parse
class Page(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/redirect":
            to = urllib.parse.parse_qs(url.query)["to"][0]
            self.send_response(302)
            self.send_header("Location", to)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        body = b"<p>hello over tls</p>\n"
        self.send_response(200 if url.path != "/missing" else 404)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
folder = sys.argv[1]
for name in sys.argv[2:]:
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(f"{folder}/{name}.pem", f"{folder}/{name}.key")
    srv = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
    srv.socket = ctx.wrap_socket(srv.socket, server_side=True)
    threading.Thread(target=srv.serve_forever, daemon=True).start()
    print(name, srv.server_address[1], flush=True)
print("ready", flush=True)
threading.Event().wait()
)";

// The folder of the certificates, made on first use; "" when openssl failed. Its files serve any
// test that needs a CA and a server certificate: TlsFile("ca.pem") with TlsFile("valid.pem") and
// TlsFile("valid.key") (for 127.0.0.1 and "localhost").
inline const std::string& TlsCertificates() {
  static TempDir folder;
  static const std::string made = [] {
    folder.Write("make.sh", kTlsCertificates);
    folder.Write("peer.py", kTlsPeerScript);
    Child run({"/bin/sh", "-c", "cd '" + folder.path() + "' && sh make.sh"}, true);
    return run.Wait(std::chrono::seconds(60)) == 0 ? folder.path() : std::string();
  }();
  return made;
}
inline std::string TlsFile(const std::string& name) { return TlsCertificates() + "/" + name; }

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
  static std::string CaFile() { return TlsFile("ca.pem"); }
  // "https://127.0.0.1:PORT" + path of the server with that certificate.
  std::string Url(const std::string& certificate, const std::string& path = "/") const {
    const auto at = ports_.find(certificate);
    return "https://127.0.0.1:" + std::to_string(at == ports_.end() ? 1 : at->second) + path;
  }

 private:
  static std::vector<std::string> Argv(const std::vector<std::string>& certificates) {
    std::vector<std::string> argv = {"/usr/bin/python3", "-u", TlsCertificates() + "/peer.py",
                                     TlsCertificates()};
    argv.insert(argv.end(), certificates.begin(), certificates.end());
    return argv;
  }

  Child child_;
  std::map<std::string, int> ports_;
  bool ready_ = false;
};

}  // namespace snx::test
