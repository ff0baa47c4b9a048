#include "mcp/test_tools.hpp"

#include <stdexcept>
#include <string>

namespace norvo::test {

using mcp::Param;
using mcp::ParamType;
using mcp::ToolResult;

void registerTestTools(mcp::ToolRegistry& registry, ToolProbe* probe) {
  // Titles and descriptions are left out: the tests read only names, schemas and answers.
  registry.add(
      {.name = "echo",
       .params = {{.name = "text", .type = ParamType::String, .required = true, .maxLength = 200},
                  {.name = "times", .type = ParamType::Integer, .minimum = 1, .maximum = 5}},
       .handler = [](const mcp::Arguments& args, mcp::ToolContext&) {
         std::string out;
         for (auto i = args.integer("times", 1); i > 0; --i) out += *args.string("text");
         return ToolResult::text(out);
       }});

  registry.add(
      {.name = "slow",
       .params = {{.name = "steps", .type = ParamType::Integer, .required = true, .maximum = 1000},
                  {.name = "step_ms", .type = ParamType::Integer, .minimum = 1, .maximum = 60000}},
       .handler = [probe](const mcp::Arguments& args, mcp::ToolContext& context) {
         if (probe) ++probe->started;
         auto steps = args.integer("steps", 1);
         auto pause = std::chrono::milliseconds(args.integer("step_ms", 50));
         // Progress goes out before each pause, not right before the result:
         // clients drop notifications that arrive after the response.
         for (std::int64_t i = 0; i < steps; ++i) {
           context.progress(static_cast<double>(i), static_cast<double>(steps),
                            "step " + std::to_string(i + 1));
           // A repeated value must not reach the client.
           context.progress(static_cast<double>(i), static_cast<double>(steps), "again");
           if (!context.sleepFor(pause)) {
             if (probe) ++probe->cancelled;
             return ToolResult::error("cancelled");
           }
         }
         return ToolResult::structured({{"steps", steps}});
       }});

  // Any kind but "tool_error" and "exception" throws what is no exception at all.
  registry.add({.name = "fail",
                .params = {{.name = "kind", .type = ParamType::String, .required = true}},
                .handler = [](const mcp::Arguments& args, mcp::ToolContext&) -> ToolResult {
                  auto kind = *args.string("kind");
                  if (kind == "tool_error") throw mcp::ToolError("the disk is not mounted");
                  if (kind == "exception") throw std::runtime_error("vector too long");
                  throw 42;
                }});

  registry.add(
      {.name = "inspect",
       .params = {Param::pid("pid", "A process id"),
                  {.name = "tags", .type = ParamType::StringList, .maxLength = 8, .maxItems = 3}},
       .handler = [](const mcp::Arguments& args, mcp::ToolContext&) {
         return ToolResult::structured(args.raw());
       }});
}

}  // namespace norvo::test
