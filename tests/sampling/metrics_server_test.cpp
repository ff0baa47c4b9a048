// The loop's /metrics over a real socket (routing and content negotiation),
// and the listen addresses the owner may give.
#include "core/sampling/metrics_server.hpp"

#include <gtest/gtest.h>

#include "platform/local_http.hpp"

namespace norvo {
namespace {

TEST(MetricsServer, AnswersByPathMethodAndAcceptUntilDestroyed) {
  auto port = test::freePort();
  std::string error;
  auto server = MetricsServer::start(std::to_string(port), error);
  ASSERT_TRUE(server) << error;
  EXPECT_EQ(test::localRequest(port, "GET", "/metrics").status, 503);
  NorvoSnapshot snapshot;
  snapshot.assessment.recommendedBuildThreads = 6;
  server->publish(snapshot, {});

  struct Case {
    const char *method, *target, *accept;
    int status;
    const char* inHead;
  } cases[] = {
      {"GET", "/metrics?x=1", "", 200, "Content-Type: text/plain; version=0.0.4"},
      // What Prometheus 2.x asks for, then a scraper that knows only an older OpenMetrics.
      {"GET", "/metrics",
       "application/openmetrics-text;version=1.0.0,application/openmetrics-text;version=0.0.1;"
       "q=0.75,text/plain;version=0.0.4;q=0.5,*/*;q=0.1",
       200, "Content-Type: application/openmetrics-text; version=1.0.0"},
      {"GET", "/metrics", "application/openmetrics-text; version=0.0.1, text/plain; q=0.1", 200,
       "Content-Type: text/plain; version=0.0.4"},
      {"POST", "/metrics", "", 405, "Allow: GET"},
      {"GET", "/metrics/x", "", 404, "Content-Type: text/plain"},
  };
  for (const auto& c : cases) {
    auto reply = test::localRequest(port, c.method, c.target, c.accept);
    EXPECT_EQ(reply.status, c.status) << c.method << " " << c.target;
    EXPECT_NE(reply.head.find(c.inHead), std::string::npos) << reply.head;
    EXPECT_EQ(reply.body.find("\nnorvo_recommended_build_threads 6\n") != std::string::npos,
              c.status == 200)
        << reply.body;
  }
  server.reset();
  EXPECT_EQ(test::localRequest(port, "GET", "/metrics").status, 0) << "still answering";
}

TEST(MetricsServer, ParsesListenAddresses) {
  std::pair<const char*, const char*> cases[] = {
      {"9100", "127.0.0.1:9100"},
      {"0.0.0.0:9100", "0.0.0.0:9100"},
      {"localhost:80", "127.0.0.1:80"},
      {"[::1]:9100", "[::1]:9100"},
      {"::1:9100", nullptr},
      {"[::1]9100", nullptr},
      {"9100x", nullptr},
      {"0", nullptr},
      {"65536", nullptr},
      {":9100", nullptr},
      {"", nullptr},
  };
  for (const auto& [text, described] : cases) {
    std::string error;
    auto address = platform::parseListenAddress(text, error);
    EXPECT_EQ(address ? platform::describe(*address) : "", described ? described : "") << text;
    EXPECT_EQ(error.empty(), address.has_value()) << text;
  }
}

}  // namespace
}  // namespace norvo
