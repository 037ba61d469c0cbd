#pragma once
// A `--stream` request: one JSON object read from a line, checked as the command line's options
// are (the card settings by their table), and the note it asks for.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "cli/NoteInputs.hpp"
#include "cli/RenderOptions.hpp"

namespace norvo {

// One request as read from its line, before anything is drawn.
struct StreamRequest {
    std::string id;  // the request's own "id" as JSON text, else its line number
    std::string markdown{};
    std::string label{};   // the note's file, or "request <id>"
    std::string folder{};  // where its pictures are (the file's folder)
    RenderOptions options{};
    std::string style{};  // a saved style's name or a style file, as --style
};

// The request on `line` (numbered `number`) over the run's `defaults`; an error message when
// it is not one (the id is filled in either way, so the answer can name it).
std::optional<std::string> parseStreamRequest(const std::string& line, std::size_t number,
                                              const RenderOptions& defaults, StreamRequest& out);
// The same for a request already read as JSON.
std::optional<std::string> readStreamRequest(const nlohmann::json& j, std::size_t number,
                                             const RenderOptions& defaults, StreamRequest& out);

// The request's note with its look (its style loaded); nothing, with `error` saying why.
std::shared_ptr<const Note> noteOf(const StreamRequest& request, std::string& error);

}  // namespace norvo
