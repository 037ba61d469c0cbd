#include "model/PictureStore.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

#include <glib.h>
#include <glibmm/i18n.h>

#include "image/Pictures.hpp"
#include "model/CardDocument.hpp"
#include "support/AtomicFile.hpp"
#include "support/GPtr.hpp"

namespace norvo {

namespace fs = std::filesystem;

namespace {

std::string lowerExtension(const fs::path& file) {
    std::string ext = file.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

// A Markdown link target for `path`: in angle brackets when it has spaces or parentheses.
std::string target(const std::string& path) {
    const bool plain = path.find_first_of(" ()<>") == std::string::npos;
    return plain ? path : "<" + path + ">";
}

std::string pictureMarkdown(const std::string& name, const std::string& path) {
    std::string alt;
    for (char c : name) alt += (c == '[' || c == ']' || c == '\\') ? ' ' : (c == '-' || c == '_') ? ' ' : c;
    return "![" + alt + "](" + target(path) + ")";
}

}  // namespace

fs::path PictureStore::defaultFolder() { return fs::path(g_get_user_data_dir()) / "norvo" / "pictures"; }

bool PictureStore::looksLikePicture(const fs::path& file) {
    const std::string ext = lowerExtension(file);
    return ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".webp" || ext == ".gif";
}

KeptPicture PictureStore::keepFile(const fs::path& file, const CardDocument& document) {
    // Only what the card can show is kept (a small decode says so).
    auto checked = decodePicture(file, 16);
    if (checked.index() == 1) return {{}, std::get<1>(checked)};
    std::error_code ec;
    const fs::path real = fs::canonical(file, ec);
    if (ec) return {{}, _("it cannot be read")};
    if (!document.noteFile().empty()) {
        const fs::path noteFolder = fs::canonical(document.noteFile().parent_path(), ec);
        if (!ec && isInsideFolder(real, noteFolder))
            return {pictureMarkdown(real.stem().string(), real.lexically_relative(noteFolder).string()), {}};
    }
    std::ifstream in(real, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    if (in.bad()) return {{}, _("it cannot be read")};
    return keepBytes(bytes, real.stem().string(), lowerExtension(real) == ".jpeg" ? ".jpg" : lowerExtension(real));
}

KeptPicture PictureStore::keepPng(const std::string& png) {
    return keepBytes(png, "pasted", ".png");
}

KeptPicture PictureStore::keepBytes(const std::string& bytes, const std::string& name, const std::string& extension) {
    if (folder_.empty()) return {{}, _("there is no folder to keep pictures in")};
    GCharPtr sum(g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(bytes.data()), bytes.size()));
    std::string stem;
    for (char c : name.substr(0, 40)) stem += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '-';
    if (stem.empty()) stem = "picture";
    const std::string fileName = stem + "-" + std::string(sum.get()).substr(0, 10) + extension;
    std::error_code ec;
    fs::create_directories(folder_, ec);
    const fs::path kept = folder_ / fileName;
    if (!fs::exists(kept, ec)) {
        if (const std::error_code error = writeFileAtomically(kept, std::string_view(bytes)))
            return {{}, error.message()};
    }
    return {pictureMarkdown(name, fileName), {}};
}

}  // namespace norvo
