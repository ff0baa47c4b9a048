#include "core/measure/norvo_config.hpp"

#include "core/platform/record_file.hpp"
#include "core/platform/store_directory.hpp"

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

void to_json(nlohmann::json& j, const NorvoConfig& c) {
  j = {{"agentCommands", c.agentCommands},
       {"agentArgumentMarkers", c.agentArgumentMarkers},
       {"aiApps", c.aiApps},
       {"neverSuggest", c.neverSuggest}};
  json_codec::putOptional(j, "projectRoots", c.projectRoots);
}

void from_json(const nlohmann::json& j, NorvoConfig& c) {
  j.at("agentCommands").get_to(c.agentCommands);
  j.at("agentArgumentMarkers").get_to(c.agentArgumentMarkers);
  j.at("aiApps").get_to(c.aiApps);
  j.at("neverSuggest").get_to(c.neverSuggest);
  json_codec::getOptional(j, "projectRoots", c.projectRoots);
}

}  // namespace norvo
