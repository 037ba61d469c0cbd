#pragma once
// What `norvo render` prints of the files it writes, and how a set's cards are named.
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/RenderJobs.hpp"
#include "norvo/Presets.hpp"

namespace norvo {

// A file name as a line of text can carry it: control characters and bytes that are not
// UTF-8 become \xNN escapes (a backslash is doubled), so a reader can find the file.
std::string printable(const std::filesystem::path& path);

// One line of --report: the card's file and size, then what its layout measures.
std::string reportLine(const std::filesystem::path& file, const Preset& preset, const LayoutReport& report, bool paged);

// The --report line of a PDF: its file and how many pages it has.
std::string pdfReportLine(const std::filesystem::path& file, std::size_t pages);

// A stream request's answers: one line each, naming the request by its `id` (JSON text).
// A card's report line with the request's id first.
std::string answerLine(const std::string& id, const std::string& reportLine);
// A request that failed, and why.
std::string errorAnswer(const std::string& id, const std::string& message);
// A set of cards: their files, how many, and each card's report members.
std::string setAnswer(const std::string& id, const std::vector<std::filesystem::path>& files,
                      const std::vector<std::string>& reports);

}  // namespace norvo
