#pragma once
#include <string>

namespace norvo::McpCommand {

// `norvo mcp ...`: argv[0] is "mcp"; `version` is the one the server gives its clients.
// Returns the process exit status.
int run(int argc, char** argv, const std::string& version);

}  // namespace norvo::McpCommand
