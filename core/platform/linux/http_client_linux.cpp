#include <curl/curl.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "core/platform/http_client.hpp"
#include "core/platform/linux/loaded_library.hpp"

namespace norvo::platform {

namespace {

constexpr size_t kMaxBody = 16u << 20;

// libcurl (Debian's libcurl4, the OpenSSL build) and, through it, the TLS
// libraries are opened at the first request: only the update checks and the
// self-update need them.
struct Curl {
  decltype(&curl_global_init) global_init = nullptr;
  decltype(&curl_easy_init) easy_init = nullptr;
  decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&curl_easy_setopt) easy_setopt = nullptr;
  decltype(&curl_easy_perform) easy_perform = nullptr;
  decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&curl_easy_strerror) easy_strerror = nullptr;
  std::optional<std::string> error;
};

// The library, loaded and initialised once: curl_global_init is not
// thread-safe and the checks run on several threads. Throws when it is missing.
const Curl& curl() {
  static const Curl loaded = [] {
    Curl c;
    const LibrarySymbol symbols[] = {
        {"curl_global_init", &c.global_init},     {"curl_easy_init", &c.easy_init},
        {"curl_easy_cleanup", &c.easy_cleanup},   {"curl_easy_setopt", &c.easy_setopt},
        {"curl_easy_perform", &c.easy_perform},   {"curl_easy_getinfo", &c.easy_getinfo},
        {"curl_easy_strerror", &c.easy_strerror},
    };
    c.error = loadLibrary("libcurl.so.4", symbols);
    if (!c.error && c.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
      c.error = "libcurl.so.4 could not start";
    return c;
  }();
  if (loaded.error) throw HttpError(*loaded.error);
  return loaded;
}

struct Body {
  std::string data;
  bool tooLarge = false;
};

size_t toString(char* ptr, size_t size, size_t count, void* user) {
  auto* body = static_cast<Body*>(user);
  size_t n = size * count;
  if (body->data.size() + n > kMaxBody) {
    body->tooLarge = true;
    return 0;  // makes curl stop with a write error
  }
  body->data.append(ptr, n);
  return n;
}

size_t toFile(char* ptr, size_t size, size_t count, void* user) {
  return std::fwrite(ptr, size, count, static_cast<std::FILE*>(user)) * size;
}

using Handle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;

Handle open(const std::string& address, const HttpOptions& options) {
  const Curl& lib = curl();
  Handle handle(lib.easy_init(), lib.easy_cleanup);
  if (!handle) throw HttpError("cannot start a request");
  CURL* c = handle.get();
  lib.easy_setopt(c, CURLOPT_URL, address.c_str());
  // HTTPS only, including every redirect.
  lib.easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
  lib.easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  lib.easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  lib.easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  lib.easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  lib.easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (options.authority) lib.easy_setopt(c, CURLOPT_CAINFO, options.authority->c_str());
  lib.easy_setopt(c, CURLOPT_USERAGENT, "ZemraNorvo");
  lib.easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(options.timeout.count()));
  // Several checks run on threads: no SIGALRM for the resolver's timeout.
  lib.easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  return handle;
}

long perform(CURL* c) {
  const Curl& lib = curl();
  char error[CURL_ERROR_SIZE] = {0};
  lib.easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  CURLcode rc = lib.easy_perform(c);
  if (rc != CURLE_OK) throw HttpError(error[0] ? error : lib.easy_strerror(rc));
  long status = 0;
  lib.easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

}  // namespace

std::string httpGet(const std::string& address, const HttpOptions& options) {
  auto request = open(address, options);
  Body body;
  curl().easy_setopt(request.get(), CURLOPT_WRITEFUNCTION, toString);
  curl().easy_setopt(request.get(), CURLOPT_WRITEDATA, &body);
  long status = 0;
  try {
    status = perform(request.get());
  } catch (const HttpError&) {
    if (body.tooLarge) throw HttpError("the answer is larger than 16 MiB");
    throw;
  }
  if (status != 200) throw HttpError("bad server response: status " + std::to_string(status));
  return std::move(body.data);
}

void httpDownload(const std::string& address, const std::filesystem::path& to,
                  const HttpOptions& options) {
  auto request = open(address, options);
  std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(to.c_str(), "wb"),
                                                          &std::fclose);
  if (!file) throw HttpError("cannot write " + to.string());
  curl().easy_setopt(request.get(), CURLOPT_WRITEFUNCTION, toFile);
  curl().easy_setopt(request.get(), CURLOPT_WRITEDATA, file.get());
  long status = perform(request.get());
  if (status != 200) throw HttpError("download: HTTP error");
  if (std::fflush(file.get()) != 0) throw HttpError("cannot write " + to.string());
}

}  // namespace norvo::platform
