#include <curl/curl.h>

#include <cstdio>
#include <memory>
#include <mutex>

#include "core/platform/http_client.hpp"

namespace norvo::platform {

namespace {

constexpr size_t kMaxBody = 16u << 20;

void initOnce() {
  // curl_global_init is not thread-safe; the checks run on several threads.
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
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
  initOnce();
  Handle curl(curl_easy_init(), &curl_easy_cleanup);
  if (!curl) throw HttpError("cannot start a request");
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, address.c_str());
  // HTTPS only, including every redirect.
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (options.authority) curl_easy_setopt(c, CURLOPT_CAINFO, options.authority->c_str());
  curl_easy_setopt(c, CURLOPT_USERAGENT, "ZemraNorvo");
  curl_easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(options.timeout.count()));
  // Several checks run on threads: no SIGALRM for the resolver's timeout.
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  return curl;
}

long perform(CURL* c) {
  char error[CURL_ERROR_SIZE] = {0};
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  CURLcode rc = curl_easy_perform(c);
  if (rc != CURLE_OK) throw HttpError(error[0] ? error : curl_easy_strerror(rc));
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

}  // namespace

std::string httpGet(const std::string& address, const HttpOptions& options) {
  auto curl = open(address, options);
  Body body;
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, toString);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
  long status = 0;
  try {
    status = perform(curl.get());
  } catch (const HttpError&) {
    if (body.tooLarge) throw HttpError("the answer is larger than 16 MiB");
    throw;
  }
  if (status != 200) throw HttpError("bad server response: status " + std::to_string(status));
  return std::move(body.data);
}

void httpDownload(const std::string& address, const std::filesystem::path& to,
                  const HttpOptions& options) {
  auto curl = open(address, options);
  std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(to.c_str(), "wb"),
                                                          &std::fclose);
  if (!file) throw HttpError("cannot write " + to.string());
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, toFile);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, file.get());
  long status = perform(curl.get());
  if (status != 200) throw HttpError("download: HTTP error");
  if (std::fflush(file.get()) != 0) throw HttpError("cannot write " + to.string());
}

}  // namespace norvo::platform
