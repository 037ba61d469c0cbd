#pragma once
#include <string>
#include <string_view>

namespace norvo {

// What a Markdown picture's target names, before any file is looked at: a path relative to
// the note (percent escapes decoded, any "?query" or "#fragment" dropped), a remote address
// (never fetched), or something never read (an absolute path, a file: URL, another scheme).
struct PictureTarget {
    enum class Kind { Relative, Remote, Refused };
    Kind kind = Kind::Refused;
    std::string path;    // Relative: the path to look up
    std::string reason;  // Remote, Refused: why it is not drawn, in words for the user

    static PictureTarget of(std::string_view target);
};

}  // namespace norvo
