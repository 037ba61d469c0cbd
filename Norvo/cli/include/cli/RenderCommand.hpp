#pragma once

namespace norvo::RenderCommand {

// `norvo render ...`: argv[0] is "render". Returns the process exit status.
int run(int argc, char** argv);

}  // namespace norvo::RenderCommand
