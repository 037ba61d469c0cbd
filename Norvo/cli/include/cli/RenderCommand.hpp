#pragma once
#include <string>

namespace norvo::RenderCommand {

// `norvo render ...`: argv[0] is "render"; `version` is what --version names. Returns the
// process exit status.
int run(int argc, char** argv, const std::string& version);

// `norvo --serve-clipboard FOLDER`: the clipboard server `norvo render --copy` starts (not
// for people). Returns the process exit status.
int serveClipboard(const char* folder);

}  // namespace norvo::RenderCommand
