#pragma once
// The tools `norvo mcp` offers, each with the JSON Schema of its arguments: render (a note as
// cards, its settings read from the card settings' table, as a stream request's are), and
// list_styles and list_sizes (what render's style and size take). Their results, as
// tools/call answers them.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/CardWriterThread.hpp"
#include "cli/StreamRequest.hpp"

namespace norvo::McpTools {

// What tools/list answers: every tool with its schemas.
nlohmann::json list();

// A call that failed, in words its caller reads (isError: the protocol went well).
nlohmann::json failure(const std::string& message);

// list_styles: the bundled styles and the user's own; list_sizes: the sizes render takes.
nlohmann::json styles();
nlohmann::json sizes();

// render's `arguments` as a stream request over `defaults`; an error message, as the command
// line words it, when they are not one. Only a note's text: no file is read or named.
std::optional<std::string> renderRequest(const nlohmann::json& arguments, const RenderOptions& defaults,
                                         StreamRequest& out);

// render's result: each card as a picture, with the report lines of `answer` as its
// structured content and a line of words; a failure when the cards were not written.
// (Any thread: it reads the cards' files.)
nlohmann::json rendered(const StreamAnswer& answer);

}  // namespace norvo::McpTools
