// The agent server's entry in Codex CLI's config.toml: the table
// [mcp_servers.zemra-norvo] with `command` and `args`. The owner's file is
// edited as text where that is provably the same as the parsed change (the
// result is parsed again and compared), so their comments and layout stay;
// otherwise it is written out again from the parsed document, which keeps
// every table and value but not the comments.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace norvo::codex_config {

// The new file text, or absent with `error` set when `text` is not TOML.
// Text already holding exactly the wanted entry comes back unchanged.
std::optional<std::string> withServer(std::string_view text, const std::string& linkPath,
                                      std::string& error);

// The file text without the product's table; unchanged when it has none. An
// "mcp_servers" table left empty is dropped with it.
std::optional<std::string> withoutServer(std::string_view text, std::string& error);

// Whether `text` parses and has the table mcp_servers."zemra-norvo".
bool hasServer(std::string_view text);

}  // namespace norvo::codex_config
