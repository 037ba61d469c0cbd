#pragma once
#include <filesystem>
#include <string>

#include "image/CardImage.hpp"

namespace norvo::ClipboardServer {

// `norvo render --copy`: the card and its words are handed to a clipboard server, a process
// of its own that outlives the command (on X11 and Wayland a clipboard is served by the
// program that set it). Returns once the server owns the clipboard; false, with a message on
// stderr, when it could not start.
bool hand(const CardImage& card, const std::string& altText);

// The server itself (`norvo --serve-clipboard FOLDER`, started by `hand`): puts the card in
// FOLDER/card.png and the text in FOLDER/card.txt on the clipboard, says "ready" on its
// standard output, and serves until something else is copied or ten minutes have passed;
// then removes FOLDER. Returns the exit status.
int serve(const std::filesystem::path& folder);

}  // namespace norvo::ClipboardServer
