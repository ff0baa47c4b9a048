#include "core/fans/fan_helper_client.hpp"

#include <cerrno>
#include <cstdio>

#include "core/platform/unix_socket.hpp"
#include "core/records/json_codec.hpp"

namespace norvo {

namespace {

std::string octal(unsigned mode) {
  char text[16];
  std::snprintf(text, sizeof text, "%04o", mode);
  return text;
}

}  // namespace

std::optional<nlohmann::json> FanHelperClient::call(const nlohmann::json& request,
                                                    Error& error) const {
  namespace us = platform::unix_socket;
  auto fail = [&](Failure failure, std::string message) {
    error = {failure, std::move(message)};
    return std::nullopt;
  };
  auto file = us::socketFile(socket);
  if (!file) return fail(Failure::notRunning, "no fan helper listens at " + socket.string());
  if (!file->isSocket) return fail(Failure::untrusted, socket.string() + " is not a socket");
  if (file->owner != expectedOwner || file->mode != FanHelperIDs::socketMode)
    return fail(Failure::untrusted,
                socket.string() + " belongs to uid " + std::to_string(file->owner) + " with mode " +
                    octal(file->mode) + ", not to uid " + std::to_string(expectedOwner) +
                    " with mode " + octal(FanHelperIDs::socketMode) + "; not trusting it");
  std::string why;
  int err = 0;
  auto connection = us::connect(socket, why, err);
  if (!connection) {
    if (err == ECONNREFUSED || err == ENOENT)
      return fail(Failure::notRunning, "no fan helper listens at " + socket.string());
    return fail(Failure::broken, "cannot reach the fan helper at " + socket.string() + ": " + why);
  }
  auto& [sock, peer] = *connection;
  // The file could have been swapped since it was looked at; the kernel's
  // word on who listens cannot.
  if (peer.uid != expectedOwner)
    return fail(Failure::untrusted, "the process listening at " + socket.string() +
                                        " runs as uid " + std::to_string(peer.uid) + ", not " +
                                        std::to_string(expectedOwner) + "; not trusting it");
  // A helper that refuses the peer answers without reading and closes, so a
  // failed write may still have its reply waiting.
  bool sent = us::writeAll(sock, json_codec::encode(request) + "\n", std::chrono::seconds(5));
  auto line = us::readLine(sock, sent ? timeout : std::chrono::milliseconds(1000), 64 * 1024);
  if (!line)
    return fail(Failure::broken,
                sent ? "the fan helper gave no answer" : "the fan helper did not take the request");
  auto reply = json_codec::decode(*line);
  if (!reply || !reply->is_object())
    return fail(Failure::broken, "the fan helper's answer is not a JSON object");
  if (auto e = reply->find("error"); e != reply->end())
    return fail(Failure::refused,
                e->is_string() ? e->get<std::string>() : "the fan helper refused the request");
  return reply;
}

std::optional<std::string> FanHelperClient::status(Error& error) const {
  auto reply = call({{"call", FanHelperProtocol::status}}, error);
  if (!reply) return std::nullopt;
  auto text = reply->find("status");
  if (text == reply->end() || !text->is_string()) {
    error = {Failure::broken, "the fan helper's status has no text"};
    return std::nullopt;
  }
  return text->get<std::string>();
}

std::optional<FanEngine::Outcome> FanHelperClient::setFan(int64_t fan, std::string_view mode,
                                                          double rpm, Error& error) const {
  auto reply = call(
      {{"call", FanHelperProtocol::setFan}, {"fan", fan}, {"mode", mode}, {"rpm", rpm}}, error);
  if (!reply) return std::nullopt;
  auto success = reply->find("success");
  auto message = reply->find("message");
  if (success == reply->end() || !success->is_boolean() || message == reply->end() ||
      !message->is_string()) {
    error = {Failure::broken, "the fan helper's answer lacks success and message"};
    return std::nullopt;
  }
  return FanEngine::Outcome{success->get<bool>(), message->get<std::string>()};
}

std::optional<bool> FanHelperClient::resetAll(Error& error) const {
  auto reply = call({{"call", FanHelperProtocol::resetAll}}, error);
  if (!reply) return std::nullopt;
  auto success = reply->find("success");
  if (success == reply->end() || !success->is_boolean()) {
    error = {Failure::broken, "the fan helper's answer lacks success"};
    return std::nullopt;
  }
  return success->get<bool>();
}

}  // namespace norvo
