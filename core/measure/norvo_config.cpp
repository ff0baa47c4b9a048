#include "core/measure/norvo_config.hpp"

#include "core/platform/record_file.hpp"
#include "core/platform/store_directory.hpp"
#include "core/records/record_fields.hpp"

namespace norvo {

const NorvoConfig& NorvoConfig::defaults() {
  static const NorvoConfig config{
      {"claude", "codex", "gemini", "aider", "opencode", "goose", "cursor-agent", "amp", "qwen",
       "ollama", "llama-server", "claude-ios-sim"},
      {"@anthropic-ai/claude-code", "claude-code/cli", "@openai/codex", "@google/gemini-cli",
       "aider-chat", "bin/aider"},
      {"Claude", "ChatGPT", "Codex", "Cursor", "LM Studio", "Ollama", "Windsurf", "Perplexity",
       "Copilot", "Zed"},
      {"com.vadro.ZemraNorvo", "com.apple.finder"},
      std::nullopt};
  return config;
}

NorvoConfig NorvoConfig::load(const std::filesystem::path& storeDirectory) {
  auto bytes = record_file::readWhole(storeDirectory / "config.json", 4u * 1024 * 1024);
  if (!bytes) return defaults();
  return json_codec::decodeAs<NorvoConfig>(*bytes).value_or(defaults());
}

NorvoConfig NorvoConfig::load() { return load(NorvoStore::directory()); }

constexpr auto norvoConfigFields = record_fields::list(
    record_fields::field("agentCommands", &NorvoConfig::agentCommands),
    record_fields::field("agentArgumentMarkers", &NorvoConfig::agentArgumentMarkers),
    record_fields::field("aiApps", &NorvoConfig::aiApps),
    record_fields::field("neverSuggest", &NorvoConfig::neverSuggest),
    record_fields::field("projectRoots", &NorvoConfig::projectRoots));
void to_json(nlohmann::json& j, const NorvoConfig& c) { norvoConfigFields.write(j, c); }
void from_json(const nlohmann::json& j, NorvoConfig& c) { norvoConfigFields.read(j, c); }

}  // namespace norvo
