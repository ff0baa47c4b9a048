// The loop's /metrics for Prometheus: each tick hands over its snapshot, and a
// scrape renders the latest one on the listener's thread. Nothing is measured
// per request and nothing is rendered per tick, so scrapes cost the loop
// nothing between them and the loop's ticks nothing when nobody scrapes.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/assess/exposition.hpp"
#include "core/assess/norvo_snapshot.hpp"
#include "core/platform/http_listener.hpp"

namespace norvo {

class MetricsServer {
 public:
  // Listens on `listen` ("PORT" or "ADDRESS:PORT", loopback by default) and
  // answers from what publish() handed over. Absent with `error` saying why
  // (a malformed address, or the bind error with the address it concerns).
  static std::unique_ptr<MetricsServer> start(std::string_view listen, std::string& error);

  // A server that answers only through answer(), for tests.
  MetricsServer() = default;
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Keeps `snapshot` and the counts of `samples` (every process of the tick)
  // for the scrapes to come.
  void publish(const NorvoSnapshot& snapshot, const std::vector<ProcessSample>& samples);

  // GET /metrics: the latest snapshot in the format the scraper accepts, 503
  // before the first one; 404 for another path, 405 for another method.
  platform::HttpReply answer(const platform::HttpRequest& request) const;

 private:
  struct Published {
    NorvoSnapshot snapshot;
    Exposition::ProcessCounts counts;
  };
  mutable std::mutex mutex_;
  std::shared_ptr<const Published> latest_;
  // Declared last so that it stops, joining its thread, before the rest goes.
  std::unique_ptr<platform::HttpListener> listener_;
};

}  // namespace norvo
