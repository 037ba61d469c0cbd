#pragma once

namespace norvo::RenderCommand {

// `norvo render ...`: argv[0] is "render". Returns the process exit status.
int run(int argc, char** argv);

// `norvo --serve-clipboard FOLDER`: the clipboard server `norvo render --copy` starts (not
// for people). Returns the process exit status.
int serveClipboard(const char* folder);

}  // namespace norvo::RenderCommand
