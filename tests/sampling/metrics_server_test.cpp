// The loop's /metrics: what each request gets, in process and over a real
// socket, and a second server on a taken port refused with the reason.
#include "core/sampling/metrics_server.hpp"

#include <gtest/gtest.h>

#include "platform/local_http.hpp"

namespace norvo {
namespace {

TEST(MetricsServer, AnswersEachRequestByPathMethodAndAccept) {
  MetricsServer server;
  EXPECT_EQ(server.answer({"GET", "/metrics", ""}).status, 503);
  NorvoSnapshot snapshot;
  snapshot.assessment.recommendedParallelJobs = 4;
  server.publish(snapshot, {});
  struct Case {
    platform::HttpRequest request;
    int status;
    std::string contentType;
  } cases[] = {
      {{"GET", "/metrics", ""}, 200, "text/plain; version=0.0.4; charset=utf-8"},
      {{"GET", "/metrics", "application/openmetrics-text; version=1.0.0"},
       200,
       "application/openmetrics-text; version=1.0.0; charset=utf-8"},
      {{"POST", "/metrics", ""}, 405, "text/plain; charset=utf-8"},
      {{"HEAD", "/metrics", ""}, 405, "text/plain; charset=utf-8"},
      {{"GET", "/", ""}, 404, "text/plain; charset=utf-8"},
      {{"GET", "/metrics/x", ""}, 404, "text/plain; charset=utf-8"},
  };
  for (const auto& c : cases) {
    auto reply = server.answer(c.request);
    EXPECT_EQ(reply.status, c.status) << c.request.method << " " << c.request.path;
    EXPECT_EQ(reply.contentType, c.contentType) << c.request.method << " " << c.request.path;
    if (c.status == 200) {
      EXPECT_NE(reply.body.find("\nnorvo_recommended_parallel_jobs 4\n"), std::string::npos);
    }
  }
}

TEST(MetricsServer, ServesOverHttpAndRefusesASecondServerOnThePort) {
  auto port = test::freePort();
  std::string error;
  auto server = MetricsServer::start(std::to_string(port), error);
  ASSERT_TRUE(server) << error;
  NorvoSnapshot snapshot;
  snapshot.assessment.recommendedBuildThreads = 6;
  server->publish(snapshot, {});

  auto scrape = test::localRequest(port, "GET", "/metrics?x=1");
  EXPECT_EQ(scrape.status, 200) << scrape.head;
  EXPECT_NE(scrape.head.find("text/plain; version=0.0.4"), std::string::npos) << scrape.head;
  EXPECT_NE(scrape.body.find("\nnorvo_recommended_build_threads 6\n"), std::string::npos);
  auto post = test::localRequest(port, "POST", "/metrics");
  EXPECT_EQ(post.status, 405);
  EXPECT_NE(post.head.find("Allow: GET"), std::string::npos) << post.head;

  std::string second;
  EXPECT_FALSE(MetricsServer::start("127.0.0.1:" + std::to_string(port), second));
  EXPECT_EQ(second,
            "cannot listen on 127.0.0.1:" + std::to_string(port) + ": Address already in use");
  server.reset();
  EXPECT_EQ(test::localRequest(port, "GET", "/metrics").status, 0) << "still answering";
}

TEST(MetricsServer, ParsesListenAddresses) {
  struct Case {
    const char* text;
    std::optional<std::string> described;  // absent: refused
  } cases[] = {
      {"9100", "127.0.0.1:9100"},       {"0.0.0.0:9100", "0.0.0.0:9100"},
      {"localhost:80", "127.0.0.1:80"}, {"[::1]:9100", "[::1]:9100"},
      {"::1:9100", std::nullopt},       {"[::1]9100", std::nullopt},
      {"9100x", std::nullopt},          {"0", std::nullopt},
      {"65536", std::nullopt},          {":9100", std::nullopt},
      {"127.0.0.1:", std::nullopt},     {"", std::nullopt},
  };
  for (const auto& c : cases) {
    std::string error;
    auto address = platform::parseListenAddress(c.text, error);
    EXPECT_EQ(address ? std::optional(platform::describe(*address)) : std::nullopt, c.described)
        << c.text;
    EXPECT_EQ(error.empty(), address.has_value()) << c.text;
  }
}

}  // namespace
}  // namespace norvo
