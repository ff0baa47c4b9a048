#include "cli/mcp_server.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <thread>

#include "core/platform/stop_signal.hpp"
#include "core/records/json_codec.hpp"

namespace norvo::mcp {

using nlohmann::json;

const std::vector<std::string>& supportedProtocolVersions() {
  static const std::vector<std::string> versions = {"2025-11-25", "2025-06-18", "2025-03-26",
                                                    "2024-11-05"};
  return versions;
}

std::string negotiateProtocolVersion(std::string_view requested) {
  for (const auto& v : supportedProtocolVersions())
    if (v == requested) return v;
  return supportedProtocolVersions().front();
}

namespace {

// Nested containers deeper than this are refused before parsing: copying such
// a value recurses once per level, and no message of this protocol needs it.
constexpr int kMaxDepth = 64;

bool nestedTooDeep(std::string_view text) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

bool validId(const json& id) { return id.is_string() || id.is_number_integer(); }

// Ids of both kinds share one table; the encoded form keeps 1 and "1" apart.
std::string idKey(const json& id) { return json_codec::encode(id); }

json errorResponse(const json& id, int code, const std::string& message) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
}

json resultResponse(const json& id, json result) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
}

}  // namespace

// State that worker threads share with the reader. Held by shared pointer so a
// worker that outlives serve() (a handler that ignores cancellation) still
// writes into valid memory.
struct Server::Shared {
  int outFd = -1;
  // Pulled by stop() (from a signal handler too) and by a failed write.
  platform::StopSignal stop;
  std::mutex writeMutex;
  std::atomic<bool> writeFailed{false};

  std::mutex callsMutex;
  std::condition_variable callsChanged;
  std::map<std::string, std::shared_ptr<Call>> calls;  // in flight, by id key
  std::size_t running = 0;

  // One message, one line, one locked write. A failed write (the client went
  // away) ends the server rather than spinning on a dead pipe.
  bool send(const json& message) {
    std::string line = json_codec::encode(message);
    line.push_back('\n');
    std::lock_guard lock(writeMutex);
    if (writeFailed) return false;
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
      ssize_t n = ::write(outFd, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        writeFailed = true;
        stop.request();
        return false;
      }
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    return true;
  }
};

struct Server::Call {
  json id;
  std::string key;
  Tool tool;
  Arguments arguments;
  std::optional<json> progressToken;

  std::atomic<bool> cancelled{false};
  std::atomic<bool> done{false};
  std::mutex mutex;
  std::condition_variable wakeUp;
  double lastProgress = -std::numeric_limits<double>::infinity();
  std::thread thread;

  void cancel() {
    {
      std::lock_guard lock(mutex);
      cancelled = true;
    }
    wakeUp.notify_all();
  }
};

class Server::CallContext : public ToolContext {
 public:
  CallContext(std::shared_ptr<Shared> shared, std::shared_ptr<Call> call)
      : shared_(std::move(shared)), call_(std::move(call)) {}

  bool cancelled() const override { return call_->cancelled; }

  void progress(double progress, std::optional<double> total, const std::string& message) override {
    if (!call_->progressToken || call_->cancelled) return;
    {
      std::lock_guard lock(call_->mutex);
      if (!(progress > call_->lastProgress)) return;
      call_->lastProgress = progress;
    }
    json params = {{"progressToken", *call_->progressToken}, {"progress", progress}};
    if (total) params["total"] = *total;
    if (!message.empty()) params["message"] = message;
    shared_->send({{"jsonrpc", "2.0"}, {"method", "notifications/progress"}, {"params", params}});
  }

  bool sleepFor(std::chrono::milliseconds duration) override {
    std::unique_lock lock(call_->mutex);
    return !call_->wakeUp.wait_for(lock, duration, [&] { return call_->cancelled.load(); });
  }

 private:
  std::shared_ptr<Shared> shared_;
  std::shared_ptr<Call> call_;
};

Server::Server(const ToolRegistry& tools, ServerInfo info, ServerOptions options)
    : tools_(tools),
      info_(std::move(info)),
      options_(std::move(options)),
      shared_(std::make_shared<Shared>()) {}

Server::~Server() {
  // serve() normally leaves no thread behind; this covers a Server never served.
  for (auto& call : threads_)
    if (call->thread.joinable()) call->thread.detach();
}

void Server::stop() noexcept { shared_->stop.request(); }

void Server::log(const std::string& text) const {
  if (options_.log) {
    options_.log(text);
  } else {
    std::fprintf(stderr, "zemnorvo mcp: %s\n", text.c_str());
  }
}

void Server::serve(int inFd, int outFd) {
  shared_->outFd = outFd;
  std::string pending;
  bool discarding = false;  // inside the rest of an oversized line
  std::vector<char> chunk(64 * 1024);

  auto takeBytes = [&](const char* data, std::size_t size) {
    while (size > 0) {
      const char* newline = static_cast<const char*>(std::memchr(data, '\n', size));
      std::size_t part = newline ? static_cast<std::size_t>(newline - data) : size;
      if (!discarding) {
        if (pending.size() + part > options_.maxLineBytes) {
          shared_->send(errorResponse(nullptr, rpc_error::kInvalidRequest,
                                      "Invalid Request: message longer than " +
                                          std::to_string(options_.maxLineBytes) +
                                          " bytes; it was discarded"));
          log("discarded a message longer than " + std::to_string(options_.maxLineBytes) +
              " bytes");
          pending.clear();
          pending.shrink_to_fit();
          discarding = true;
        } else {
          pending.append(data, part);
        }
      }
      if (!newline) return;
      if (discarding) {
        discarding = false;
      } else {
        handleLine(pending);
        pending.clear();
      }
      data = newline + 1;
      size -= part + 1;
    }
  };

  while (!shared_->writeFailed) {
    pollfd fds[2] = {{inFd, POLLIN, 0}, {shared_->stop.fd(), POLLIN, 0}};
    int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      log(std::string("poll failed: ") + std::strerror(errno));
      break;
    }
    if (fds[1].revents & POLLIN) break;  // stop() or dead output
    if (fds[0].revents == 0) continue;
    ssize_t n = ::read(inFd, chunk.data(), chunk.size());
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      log(std::string("read failed: ") + std::strerror(errno));
      break;
    }
    if (n == 0) {
      // A last message without its line feed still counts.
      if (!discarding && !pending.empty()) handleLine(pending);
      break;
    }
    takeBytes(chunk.data(), static_cast<std::size_t>(n));
    reapFinishedCalls();
  }
  shutDown();
}

void Server::handleLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
    line.remove_suffix(1);
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  if (line.empty()) return;

  if (!validUtf8(line)) {
    shared_->send(
        errorResponse(nullptr, rpc_error::kParseError, "Parse error: message is not valid UTF-8"));
    return;
  }
  if (nestedTooDeep(line)) {
    shared_->send(errorResponse(
        nullptr, rpc_error::kParseError,
        "Parse error: values nested deeper than " + std::to_string(kMaxDepth) + " levels"));
    return;
  }
  json message = json::parse(line, nullptr, false);
  if (message.is_discarded()) {
    shared_->send(
        errorResponse(nullptr, rpc_error::kParseError, "Parse error: message is not valid JSON"));
    return;
  }
  if (message.is_array()) {
    shared_->send(errorResponse(
        nullptr, rpc_error::kInvalidRequest,
        "Invalid Request: batches are not supported; send one JSON-RPC message per line"));
    return;
  }
  if (!message.is_object()) {
    shared_->send(errorResponse(nullptr, rpc_error::kInvalidRequest,
                                "Invalid Request: a message must be a JSON object"));
    return;
  }

  bool hasId = message.contains("id");
  if (hasId && !validId(message["id"])) {
    shared_->send(errorResponse(nullptr, rpc_error::kInvalidRequest,
                                "Invalid Request: id must be a string or an integer"));
    return;
  }
  json id = hasId ? message["id"] : json(nullptr);
  auto version = message.find("jsonrpc");
  if (version == message.end() || *version != "2.0") {
    shared_->send(
        errorResponse(id, rpc_error::kInvalidRequest, "Invalid Request: jsonrpc must be \"2.0\""));
    return;
  }
  auto method = message.find("method");
  if (method == message.end()) {
    if (hasId && (message.contains("result") || message.contains("error"))) {
      // A response, but this server sends no requests: nothing waits for it.
      log("ignored a response to an unknown request " + json_codec::encode(id));
      return;
    }
    shared_->send(errorResponse(id, rpc_error::kInvalidRequest, "Invalid Request: no method"));
    return;
  }
  if (!method->is_string()) {
    shared_->send(
        errorResponse(id, rpc_error::kInvalidRequest, "Invalid Request: method must be a string"));
    return;
  }
  json params = message.contains("params") ? message["params"] : json::object();

  if (!hasId) {
    handleNotification(method->get<std::string>(), params);
    return;
  }
  if (!params.is_object()) {
    shared_->send(
        errorResponse(id, rpc_error::kInvalidParams, "Invalid params: params must be an object"));
    return;
  }
  try {
    handleRequest(id, method->get<std::string>(), params);
  } catch (const std::exception& e) {
    log(std::string("internal error: ") + e.what());
    shared_->send(errorResponse(id, rpc_error::kInternalError, "Internal error"));
  }
}

void Server::handleNotification(const std::string& method, const json& params) {
  if (method == "notifications/cancelled") {
    if (!params.is_object()) return;
    auto requestId = params.find("requestId");
    if (requestId == params.end() || !validId(*requestId)) return;
    std::shared_ptr<Call> call;
    {
      std::lock_guard lock(shared_->callsMutex);
      auto it = shared_->calls.find(idKey(*requestId));
      if (it != shared_->calls.end()) call = it->second;
    }
    if (call) call->cancel();
  }
  // notifications/initialized needs no action (initialize already answered),
  // and unknown notifications are ignored as the protocol asks.
}

void Server::handleRequest(const json& id, const std::string& method, const json& params) {
  if (method == "ping") {
    shared_->send(resultResponse(id, json::object()));
    return;
  }
  if (method == "initialize") {
    if (initialized_) {
      shared_->send(
          errorResponse(id, rpc_error::kInvalidRequest, "Invalid Request: already initialized"));
      return;
    }
    auto requested = params.find("protocolVersion");
    if (requested == params.end() || !requested->is_string()) {
      shared_->send(errorResponse(id, rpc_error::kInvalidParams,
                                  "Invalid params: protocolVersion must be a string"));
      return;
    }
    json serverInfo = {{"name", info_.name}, {"version", info_.version}};
    if (!info_.title.empty()) serverInfo["title"] = info_.title;
    json result = {{"protocolVersion", negotiateProtocolVersion(requested->get<std::string>())},
                   {"capabilities", {{"tools", {{"listChanged", false}}}}},
                   {"serverInfo", serverInfo}};
    if (!info_.instructions.empty()) result["instructions"] = info_.instructions;
    initialized_ = true;
    shared_->send(resultResponse(id, result));
    return;
  }
  if (!initialized_) {
    shared_->send(errorResponse(id, rpc_error::kInvalidRequest,
                                "Invalid Request: server not initialized; send initialize first"));
    return;
  }
  if (method == "tools/list") {
    json list = json::array();
    for (const Tool* tool : tools_.all()) list.push_back(tool->describe());
    shared_->send(resultResponse(id, {{"tools", list}}));
    return;
  }
  if (method == "tools/call") {
    startCall(id, params);
    return;
  }
  shared_->send(errorResponse(id, rpc_error::kMethodNotFound, "Method not found: " + method));
}

void Server::startCall(const json& id, const json& params) {
  auto name = params.find("name");
  if (name == params.end() || !name->is_string()) {
    shared_->send(
        errorResponse(id, rpc_error::kInvalidParams, "Invalid params: name must be a string"));
    return;
  }
  const Tool* tool = tools_.find(name->get<std::string>());
  if (!tool) {
    shared_->send(
        errorResponse(id, rpc_error::kInvalidParams,
                      "Invalid params: unknown tool \"" + name->get<std::string>() + "\""));
    return;
  }
  json arguments = params.contains("arguments") ? params["arguments"] : json::object();
  if (!arguments.is_object() && !arguments.is_null()) {
    shared_->send(errorResponse(id, rpc_error::kInvalidParams,
                                "Invalid params: arguments must be an object"));
    return;
  }

  auto call = std::make_shared<Call>();
  call->id = id;
  call->key = idKey(id);
  call->tool = *tool;
  if (auto meta = params.find("_meta"); meta != params.end() && meta->is_object()) {
    auto token = meta->find("progressToken");
    if (token != meta->end() && validId(*token)) call->progressToken = *token;
  }
  // Wrong arguments are the agent's to fix, so they come back as a tool result
  // it can read, not as a protocol error its client would swallow.
  try {
    call->arguments = Arguments::check(tool->params, arguments);
  } catch (const ToolError& e) {
    shared_->send(resultResponse(id, ToolResult::error(e.what()).toJson()));
    return;
  }

  {
    std::lock_guard lock(shared_->callsMutex);
    if (shared_->calls.contains(call->key)) {
      shared_->send(errorResponse(id, rpc_error::kInvalidRequest,
                                  "Invalid Request: id is already used by a call in progress"));
      return;
    }
    if (shared_->running >= options_.maxConcurrentCalls) {
      shared_->send(resultResponse(
          id, ToolResult::error("The server is already running " +
                                std::to_string(options_.maxConcurrentCalls) +
                                " tool calls; try again when one of them has finished.")
                  .toJson()));
      return;
    }
    shared_->calls.emplace(call->key, call);
    ++shared_->running;
  }

  auto shared = shared_;
  try {
    call->thread = std::thread([shared, call] {
      CallContext context(shared, call);
      ToolResult result;
      try {
        result = call->tool.handler(call->arguments, context);
      } catch (const ToolError& e) {
        result = ToolResult::error(e.what());
      } catch (const std::exception& e) {
        result = ToolResult::error("Tool " + call->tool.name + " failed: " + e.what());
      } catch (...) {
        result = ToolResult::error("Tool " + call->tool.name + " failed.");
      }
      {
        std::lock_guard lock(shared->callsMutex);
        shared->calls.erase(call->key);
      }
      if (!call->cancelled) shared->send(resultResponse(call->id, result.toJson()));
      {
        std::lock_guard lock(shared->callsMutex);
        --shared->running;
        call->done = true;
      }
      shared->callsChanged.notify_all();
    });
  } catch (const std::system_error& e) {
    {
      std::lock_guard lock(shared_->callsMutex);
      shared_->calls.erase(call->key);
      --shared_->running;
    }
    log(std::string("cannot start a worker thread: ") + e.what());
    shared_->send(errorResponse(id, rpc_error::kInternalError, "Internal error: no worker thread"));
    return;
  }
  threads_.push_back(std::move(call));
}

void Server::reapFinishedCalls() {
  for (auto it = threads_.begin(); it != threads_.end();) {
    if ((*it)->done) {
      if ((*it)->thread.joinable()) (*it)->thread.join();
      it = threads_.erase(it);
    } else {
      ++it;
    }
  }
}

void Server::shutDown() {
  std::vector<std::shared_ptr<Call>> inFlight;
  {
    std::unique_lock lock(shared_->callsMutex);
    for (auto& [key, call] : shared_->calls) inFlight.push_back(call);
  }
  for (auto& call : inFlight) call->cancel();
  {
    std::unique_lock lock(shared_->callsMutex);
    bool finished = shared_->callsChanged.wait_for(lock, options_.shutdownGrace,
                                                   [&] { return shared_->running == 0; });
    if (!finished)
      log(std::to_string(shared_->running) + " tool call(s) did not stop in time; leaving them");
  }
  for (auto& call : threads_) {
    if (!call->thread.joinable()) continue;
    if (call->done) {
      call->thread.join();
    } else {
      call->thread.detach();
    }
  }
  threads_.clear();
}

void serveStandardStreams(Server& server) {
  std::signal(SIGPIPE, SIG_IGN);
  platform::StopSignal::SignalRoute route(server.shared_->stop);
  server.serve(0, 1);
}

}  // namespace norvo::mcp
