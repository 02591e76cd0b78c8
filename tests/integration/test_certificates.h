#pragma once
// A CA and a server certificate for "localhost" signed by it, made with the openssl command in a
// temporary folder: ca.pem, server.pem and server.key.

#include <string>

#include "integration/subprocess.h"
#include "support/test_support.h"

namespace snx::test {

// False when openssl is missing or failed.
inline bool MakeCertificates(const TempDir& dir) {
  dir.Write("server.ext", "subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\n");
  const std::string d = dir.path() + "/";
  const std::vector<std::vector<std::string>> steps = {
      {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
       "-nodes", "-keyout", d + "ca.key", "-out", d + "ca.pem", "-days", "2", "-subj",
       "/CN=snx test CA"},
      {"openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
       "-keyout", d + "server.key", "-out", d + "server.csr", "-subj", "/CN=localhost"},
      {"openssl", "x509", "-req", "-in", d + "server.csr", "-CA", d + "ca.pem", "-CAkey",
       d + "ca.key", "-CAcreateserial", "-out", d + "server.pem", "-days", "2", "-extfile",
       d + "server.ext"},
  };
  for (auto step : steps) {
    step[0] = "/usr/bin/openssl";
    Child child(step, true);
    if (child.Wait(std::chrono::seconds(30)) != 0) return false;
  }
  return true;
}

}  // namespace snx::test
