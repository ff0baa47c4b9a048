// A real HTTPS server on 127.0.0.1 for the update tests, with a certificate
// from a throw-away authority made here with the openssl program, and the
// other openssl-made pieces the self-update checks: an Ed25519 signing key
// and tarballs with whatever entries a test needs.
#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/child_process.hpp"
#include "core/platform/http_client.hpp"
#include "test_support.hpp"

namespace norvo::test {

// Runs a tool to its end; throws with its errors when it fails.
inline std::string tool(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"/usr/bin/env"};  // env finds the tool on the PATH
  argv.insert(argv.end(), args.begin(), args.end());
  auto ran = run(argv);
  if (ran.status != 0) throw std::runtime_error(args[0] + " failed: " + ran.errors);
  return ran.out;
}

// The authority, the server's certificate for 127.0.0.1 and a signing key,
// made once per test program.
struct Keys {
  TempDir dir;
  std::filesystem::path authority, cert, key, signer;
  std::string publicKey;  // the signer's 32 raw bytes

  Keys() {
    auto d = dir.path();
    authority = d / "ca.pem", cert = d / "server.pem", key = d / "server.key";
    signer = d / "signer.pem";
    const std::string curve = "ec_paramgen_curve:prime256v1";
    tool({"openssl", "req", "-newkey", "ec", "-pkeyopt", curve, "-nodes", "-x509", "-days", "1",
          "-subj", "/CN=norvo test authority", "-keyout", (d / "ca.key").string(), "-out",
          authority.string()});
    tool({"openssl", "req", "-newkey", "ec", "-pkeyopt", curve, "-nodes", "-subj", "/CN=127.0.0.1",
          "-keyout", key.string(), "-out", (d / "server.csr").string()});
    dir.write("san.ext", "subjectAltName=IP:127.0.0.1\n");
    tool({"openssl", "x509", "-req", "-in", (d / "server.csr").string(), "-CA", authority.string(),
          "-CAkey", (d / "ca.key").string(), "-CAcreateserial", "-days", "1", "-extfile",
          (d / "san.ext").string(), "-out", cert.string()});
    tool({"openssl", "genpkey", "-algorithm", "ed25519", "-out", signer.string()});
    auto der = tool({"openssl", "pkey", "-in", signer.string(), "-pubout", "-outform", "DER"});
    publicKey = der.substr(der.size() - 32);
  }

  static const Keys& shared() {
    static Keys keys;
    return keys;
  }

  // Writes the detached signature of `file` to `file`.sig.
  void sign(const std::filesystem::path& file) const {
    tool({"openssl", "pkeyutl", "-sign", "-inkey", signer.string(), "-rawin", "-in", file.string(),
          "-out", file.string() + ".sig"});
  }
};

// A gzip tarball at `out` with `entries`: objects with "name" and either
// "data" (a file), "link" (a symbolic link's target) or "dir": true.
inline void makeTarball(const std::filesystem::path& out, const nlohmann::json& entries) {
  static const char* script = R"(
import io, json, sys, tarfile
with tarfile.open(sys.argv[1], "w:gz") as t:
    for e in json.loads(sys.argv[2]):
        i, data = tarfile.TarInfo(e["name"]), e.get("data", "").encode()
        i.type = tarfile.SYMTYPE if "link" in e else tarfile.DIRTYPE if "dir" in e else tarfile.REGTYPE
        i.linkname, i.size = e.get("link", ""), len(data)
        i.mode = e.get("mode", 0o755 if "dir" in e else 0o644)
        t.addfile(i, io.BytesIO(data))
)";
  tool({"python3", "-c", script, out.string(), entries.dump()});
}

class UpdateServer {
 public:
  UpdateServer()
      : child_({"/usr/bin/env", "python3", fixture("updates/https_server.py").string(),
                root_.path().string(), Keys::shared().cert.string(), Keys::shared().key.string()}) {
    auto port = child_.readLine(std::chrono::seconds(20));
    if (!port) throw std::runtime_error("the test server did not start");
    base_ = "https://127.0.0.1:" + *port;
  }

  const std::string& base() const { return base_; }
  const std::filesystem::path& root() const { return root_.path(); }
  std::filesystem::path put(const std::string& path, const std::string& body) const {
    return root_.write(path.substr(1), body);
  }
  void routes(const nlohmann::json& routes) const { root_.write("routes.json", routes.dump()); }
  platform::HttpOptions http() const {
    return {std::chrono::seconds(15), Keys::shared().authority};
  }
  nlohmann::json stats() const {
    return nlohmann::json::parse(platform::httpGet(base_ + "/_stats", http()));
  }

 private:
  TempDir root_;
  ChildProcess child_;
  std::string base_;
};

}  // namespace norvo::test
