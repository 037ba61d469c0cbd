#pragma once
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image/CardImage.hpp"
#include "support/AtomicFile.hpp"

namespace norvo {

// The desktop's part in export, copy and share: the save dialog, the clipboard, the
// share picker. The app uses the GTK implementation; tests use a double.
class DesktopServices {
public:
    // Where on screen a share picker opens: a handle the UI got from its own desktop
    // services (a widget, for GTK); the model only passes it on.
    struct Anchor {
        const void* handle = nullptr;
    };
    using SaveChoice = std::function<void(std::optional<std::filesystem::path>)>;
    using OpenChoice = std::function<void(std::optional<std::filesystem::path>)>;
    // Where a card goes, and at which density (1, or 2 for twice the width and height).
    struct CardFile {
        std::filesystem::path path;
        int density = 1;
    };
    using CardFileChoice = std::function<void(std::optional<CardFile>)>;

    // A modal alert; the answer is the index of the button chosen, or npos when closed.
    struct Alert {
        std::string message;
        std::string informative;
        std::vector<std::string> buttons;  // the first is the default
    };
    using AlertAnswer = std::function<void(std::size_t)>;

    virtual ~DesktopServices() = default;
    // Brings the main window to the front.
    virtual void bringToFront() = 0;
    // Asks which note (a Markdown or text file) to open; nothing when cancelled.
    virtual void chooseFileToOpen(OpenChoice done) = 0;
    // Asks where to save a file, suggesting `suggestedName` (a PNG, a PDF or a Markdown
    // note, by its extension); nothing when cancelled. The chosen path always ends in an extension (the
    // suggested one is added when it had none).
    virtual void chooseSaveFile(const std::string& suggestedName, SaveChoice done) = 0;
    // The save dialog of a card (PNG, JPEG or WebP, by the file type chosen), which also asks
    // for its density.
    virtual void chooseCardFile(const std::string& suggestedName, CardFileChoice done) = 0;
    // The card on the clipboard as an image, with what it says as plain text beside it.
    virtual void copyCard(const CardImagePtr& image, const std::string& altText) = 0;
    // Offers the files (a card, or the cards and the PDF of a set) to other applications.
    // `altText` is offered to copy beside them.
    virtual void showSharePicker(const std::vector<std::filesystem::path>& files, const std::string& altText,
                                 Anchor anchor) = 0;
    // A fresh folder only this user can read, for files handed to other applications
    // (empty when none could be made).
    virtual std::filesystem::path temporaryFolder() = 0;
    virtual void showAlert(const Alert& alert, AlertAnswer answered) = 0;
};

}  // namespace norvo
