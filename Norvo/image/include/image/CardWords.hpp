#pragma once
#include <string>

namespace norvo {

// What a card says, carried in its file where the format has a place for it: the note's
// first line as the title, its plain text as the description. Empty: not written.
struct CardWords {
    std::string title;
    std::string description;
};

}  // namespace norvo
