// `zemnorvo watch --listen` as a fleet sees it: a real Prometheus server on
// this machine scrapes the loop and answers a query about it; a second
// listener on a taken port is refused; `metrics --format prometheus --out`
// replaces its file or says why it could not.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <thread>

#include "cli/child_process.hpp"
#include "core/sampling/metrics_server.hpp"
#include "platform/local_http.hpp"

namespace norvo {
namespace {

using namespace std::chrono_literals;

TEST(PrometheusScrape, ARealPrometheusQueriesTheLoop) {
  const std::string prometheus = "/usr/bin/prometheus";
  if (::access(prometheus.c_str(), X_OK) != 0)
    GTEST_SKIP() << "prometheus is not installed (Debian package prometheus; scripts/setup.sh)";
  test::TempDir dir;  // outlives both children, which die first
  test::FreshHome home;
  auto loop = "127.0.0.1:" + std::to_string(test::freePort());
  test::ChildProcess watch({test::cliPath(), "watch", "--interval", "1", "--listen", loop});
  auto config = dir.write("prometheus.yml",
                          "global: {scrape_interval: 1s, scrape_timeout: 1s}\n"
                          "scrape_configs: [{job_name: norvo, static_configs: [{targets: ['" +
                              loop + "']}]}]\n");
  auto webPort = test::freePort();
  test::ChildProcess server({prometheus, "--config.file=" + config.string(),
                             "--storage.tsdb.path=" + (dir.path() / "tsdb").string(),
                             "--web.listen-address=127.0.0.1:" + std::to_string(webPort),
                             "--log.level=error"});

  // The loop's first tick comes a second after its start, the first scrape
  // within a second of Prometheus being ready.
  nlohmann::json result;
  for (auto until = std::chrono::steady_clock::now() + 40s;
       std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(200ms)) {
    auto reply =
        test::localRequest(webPort, "GET", "/api/v1/query?query=norvo_recommended_parallel_jobs");
    result = nlohmann::json::parse(reply.body, nullptr, false);
    if (reply.status == 200 && !result["data"]["result"].empty()) break;
  }
  ASSERT_EQ(result["data"]["result"].size(), 1u) << "Prometheus answered: " << result.dump();
  const auto& sample = result["data"]["result"][0];
  EXPECT_EQ(sample["metric"]["instance"], loop);
  auto jobs = std::stod(sample["value"][1].get<std::string>());
  EXPECT_TRUE(jobs >= 0 && jobs == std::floor(jobs)) << jobs;
}

TEST(PrometheusScrape, ASecondListenerOnTheSamePortIsRefusedBeforeMeasuring) {
  test::FreshHome home;
  auto port = std::to_string(test::freePort());
  std::string error;
  auto first = MetricsServer::start(port, error);
  ASSERT_TRUE(first) << error;
  auto ran = test::zemnorvo({"watch", "--once", "--listen", port});
  EXPECT_EQ(ran.status, 1);
  EXPECT_THAT(ran.errors, testing::HasSubstr("cannot listen on 127.0.0.1:" + port +
                                             ": Address already in use"));
  EXPECT_FALSE(std::filesystem::exists(home.store() / "status.json")) << "measured anyway";
}

TEST(PrometheusScrape, MetricsOutReplacesTheFileOrSaysWhy) {
  test::FreshHome home;
  test::TempDir dir;
  auto file = dir.write("norvo.prom", "old");
  auto written = test::zemnorvo(
      {"metrics", "--format", "prometheus", "--interval", "0.05", "--out", file.string()});
  EXPECT_EQ(written.status, 0) << written.errors;
  EXPECT_EQ(written.out, "");
  EXPECT_NE(test::readFile(file).find("\nnorvo_recommended_parallel_jobs "), std::string::npos);

  auto missing = dir.path() / "gone" / "norvo.prom";
  auto failed = test::zemnorvo(
      {"metrics", "--format", "prometheus", "--interval", "0.05", "--out", missing.string()});
  EXPECT_EQ(failed.status, 1);
  EXPECT_THAT(failed.errors, testing::HasSubstr("cannot write " + missing.string() +
                                                ": No such file or directory"));
  EXPECT_FALSE(std::filesystem::exists(missing.parent_path())) << "made the folder";
}

}  // namespace
}  // namespace norvo
