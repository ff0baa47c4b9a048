#include "core/sampling/metrics_server.hpp"

namespace norvo {

std::unique_ptr<MetricsServer> MetricsServer::start(std::string_view listen, std::string& error) {
  auto address = platform::parseListenAddress(listen, error);
  if (!address) return nullptr;
  auto server = std::make_unique<MetricsServer>();
  server->listener_ = platform::HttpListener::start(
      *address, [s = server.get()](const platform::HttpRequest& r) { return s->answer(r); }, error);
  if (!server->listener_) return nullptr;
  return server;
}

void MetricsServer::publish(const NorvoSnapshot& snapshot,
                            const std::vector<ProcessSample>& samples) {
  // Copied outside the lock: a scrape waits only for the pointer swap.
  auto next =
      std::make_shared<const Published>(Published{snapshot, Exposition::countProcesses(samples)});
  std::lock_guard lock(mutex_);
  latest_ = std::move(next);
}

platform::HttpReply MetricsServer::answer(const platform::HttpRequest& request) const {
  if (request.path != "/metrics")
    return {404, "text/plain; charset=utf-8", "Only /metrics is here.\n", {}};
  if (request.method != "GET")
    return {405, "text/plain; charset=utf-8", "/metrics answers GET only.\n", {{"Allow", "GET"}}};
  std::shared_ptr<const Published> latest;
  {
    std::lock_guard lock(mutex_);
    latest = latest_;
  }
  if (!latest)
    return {503,
            "text/plain; charset=utf-8",
            "No measurement yet; the first comes within seconds.\n",
            {{"Retry-After", "5"}}};
  auto format = Exposition::negotiate(request.accept);
  return {200,
          std::string(Exposition::contentType(format)),
          Exposition::render(latest->snapshot, latest->counts, format),
          {}};
}

}  // namespace norvo
