#pragma once
#include <filesystem>
#include <string>

namespace norvo {

class CardDocument;

// A picture kept for a note: the Markdown that shows it, or why it cannot be on the card.
struct KeptPicture {
    std::string markdown;  // "![name](target)"
    std::string problem;   // empty when kept
};

// Where pictures dropped or pasted into a note go, so that the note still shows them after a
// restart: a picture already in the note's folder is named by its path there; any other is
// copied into the store (named after itself and its content, so the same picture is kept
// once). Main thread.
class PictureStore {
public:
    explicit PictureStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

    static std::filesystem::path defaultFolder();  // $XDG_DATA_HOME/norvo/pictures
    const std::filesystem::path& folder() const { return folder_; }

    // `file` as a picture of `document`'s note.
    KeptPicture keepFile(const std::filesystem::path& file, const CardDocument& document);
    // Pasted pixels, given as PNG bytes.
    KeptPicture keepPng(const std::string& png);

    // Whether a file's name says it is a picture the card can show.
    static bool looksLikePicture(const std::filesystem::path& file);

private:
    KeptPicture keepBytes(const std::string& bytes, const std::string& name, const std::string& extension);
    std::filesystem::path folder_;
};

}  // namespace norvo
