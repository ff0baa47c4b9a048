// `zemnorvo watch --listen` as a fleet sees it: a real Prometheus server on
// this machine scrapes the loop and answers a query about it; a second
// listener on a taken port is refused; `metrics --format prometheus --out`
// replaces its file or says why it could not.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cmath>
#include <thread>

#include "cli/child_process.hpp"
#include "platform/local_http.hpp"

namespace norvo {
namespace {

using namespace std::chrono_literals;

TEST(PrometheusScrape, ARealPrometheusQueriesTheLoop) {
  auto prometheus = test::onPath("prometheus");
  if (!prometheus)
    GTEST_SKIP() << "prometheus is not installed (Debian package prometheus; scripts/setup.sh)";
  test::TempDir dir;  // outlives both children, which die first
  test::FreshHome home;
  auto loopPort = test::freePort();
  test::ChildProcess watch({NORVO_CLI_PATH, "watch", "--interval", "1", "--listen",
                            "127.0.0.1:" + std::to_string(loopPort)});
  auto config = dir.write("prometheus.yml",
                          "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                          "scrape_configs:\n  - job_name: norvo\n    static_configs:\n"
                          "      - targets: ['127.0.0.1:" +
                              std::to_string(loopPort) + "']\n");
  auto webPort = test::freePort();
  test::ChildProcess server({*prometheus, "--config.file=" + config.string(),
                             "--storage.tsdb.path=" + (dir.path() / "tsdb").string(),
                             "--web.listen-address=127.0.0.1:" + std::to_string(webPort),
                             "--log.level=error"});

  // The loop's first tick comes a second after its start, the first scrape
  // within a second of Prometheus being ready.
  nlohmann::json result;
  for (auto until = std::chrono::steady_clock::now() + 40s;
       std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(200ms)) {
    auto reply = test::localRequest(
        webPort, "GET",
        "/api/v1/query?query=norvo_recommended_parallel_jobs%7Bjob%3D%22norvo%22%7D");
    if (reply.status != 200) continue;
    result = nlohmann::json::parse(reply.body, nullptr, false);
    if (result.is_object() && !result["data"]["result"].empty()) break;
  }
  ASSERT_TRUE(result.is_object() && result["data"]["result"].size() == 1u)
      << "no answer from Prometheus within 40 seconds: " << result.dump();
  const auto& sample = result["data"]["result"][0];
  EXPECT_EQ(sample["metric"]["instance"], "127.0.0.1:" + std::to_string(loopPort));
  auto jobs = std::stod(sample["value"][1].get<std::string>());
  EXPECT_GE(jobs, 0);
  EXPECT_EQ(jobs, std::floor(jobs));
}

TEST(PrometheusScrape, ASecondListenerOnATakenPortIsRefusedWithTheReason) {
  test::FreshHome home;
  int taken = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(::listen(taken, 1), 0);
  ::getsockname(taken, reinterpret_cast<sockaddr*>(&at), &length);
  auto port = std::to_string(ntohs(at.sin_port));
  auto ran = test::zemnorvo({"watch", "--once", "--listen", port});
  ::close(taken);
  EXPECT_EQ(ran.status, 1);
  EXPECT_NE(ran.errors.find("cannot listen on 127.0.0.1:" + port + ": Address already in use"),
            std::string::npos)
      << ran.errors;
  EXPECT_FALSE(std::filesystem::exists(home.store() / "status.json")) << "measured anyway";
}

TEST(PrometheusScrape, MetricsOutReplacesTheFileOrSaysWhy) {
  test::FreshHome home;
  test::TempDir dir;
  auto file = dir.write("norvo.prom", "old");
  auto ran = test::zemnorvo(
      {"metrics", "--format", "prometheus", "--interval", "0.05", "--out", file.string()});
  EXPECT_EQ(ran.status, 0) << ran.errors;
  EXPECT_EQ(ran.out, "");
  EXPECT_NE(test::readFile(file).find("\nnorvo_recommended_parallel_jobs "), std::string::npos);

  auto missing = dir.path() / "gone" / "norvo.prom";
  auto failed = test::zemnorvo(
      {"metrics", "--format", "prometheus", "--interval", "0.05", "--out", missing.string()});
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.errors.find(missing.string() + ": No such file or directory"), std::string::npos)
      << failed.errors;
}

}  // namespace
}  // namespace norvo
