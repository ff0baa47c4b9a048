// HTTPS requests for the update checks and the product's own download: TLS
// verified against the system's certificates (or the authority a test
// names), HTTPS only, redirects only to HTTPS, status 200 only. Nothing here
// retries; the callers decide.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace norvo::platform {

struct HttpOptions {
  std::chrono::seconds timeout{15};  // for the whole transfer, connecting included
  // A certificate authority to trust instead of the system's (tests only).
  std::optional<std::filesystem::path> authority;
};

// Any failure of a request; `what()` says why.
struct HttpError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The body of a GET of `address` with the "User-Agent" "ZemraNorvo". Throws
// HttpError on a transport failure, a refused redirect, a body over 16 MiB,
// or a status other than 200 ("bad server response: status N").
std::string httpGet(const std::string& address, const HttpOptions& options);

// Downloads `address` into the file `to` (replaced). Throws HttpError; a
// status other than 200 gives "download: HTTP error".
void httpDownload(const std::string& address, const std::filesystem::path& to,
                  const HttpOptions& options);

}  // namespace norvo::platform
