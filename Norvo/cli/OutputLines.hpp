#pragma once
// What `norvo render` prints of the files it writes, and how a set's cards are named.
#include <cstddef>
#include <filesystem>
#include <string>

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

}  // namespace norvo
