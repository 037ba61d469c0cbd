#include "model/Drafts.hpp"

#include <fstream>
#include <iterator>

#include <glib.h>
#include <glibmm/i18n.h>
#include <nlohmann/json.hpp>

#include "model/UserDefaults.hpp"
#include "norvo/Card.hpp"
#include "support/AtomicFile.hpp"

namespace norvo {

namespace {
constexpr const char* kReopenKey = "reopenLastNote";
// How a session stands in its draft: still running (so a launch that finds it knows the last
// one crashed), quit, or quit to install an update.
constexpr const char* kRunning = "running";
constexpr const char* kQuit = "quit";
constexpr const char* kUpdate = "update";

std::string snapshot(const CardDocument& d, const char* session) {
    return nlohmann::json{{"session", session},       {"markdown", d.markdown()},   {"theme", d.themeID()},
                          {"font", d.fontID()},       {"size", d.presetID()},       {"scale", d.fontScale()},
                          {"wordmark", d.wordmark()}, {"pages", d.pages()},         {"noteFile", d.noteFile().string()}}
        .dump();
}
}  // namespace

Drafts::Drafts(CardDocument& document, std::filesystem::path file) : document_(document), file_(std::move(file)) {}

Drafts::~Drafts() {
    if (timer_) g_source_remove(timer_);
    for (auto& c : connections_) c.disconnect();
}

std::filesystem::path Drafts::defaultFile() {
    return std::filesystem::path(g_get_user_state_dir()) / "norvo" / "draft.json";
}

bool Drafts::reopenLastNote() { return UserDefaults::string(kReopenKey).value_or("false") == "true"; }
void Drafts::setReopenLastNote(bool on) { UserDefaults::setString(kReopenKey, on ? "true" : "false"); }

bool Drafts::restore() {
    bool restored = false;
    std::ifstream in(file_, std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    const nlohmann::json draft = nlohmann::json::parse(text, nullptr, false);
    if (draft.is_object()) {
        const std::string session = draft.value("session", std::string());
        const bool unfinished = session == kRunning || session == kUpdate;
        const std::string markdown = draft.value("markdown", std::string());
        if ((unfinished || (session == kQuit && reopenLastNote())) && markdown.size() <= Card::kMaxMarkdownBytes &&
            g_utf8_validate(markdown.data(), gssize(markdown.size()), nullptr)) {
            // Unknown values fall back as any setting does.
            document_.setNoteFile(draft.value("noteFile", std::string()));
            document_.setThemeID(draft.value("theme", document_.themeID()));
            document_.setFontID(draft.value("font", document_.fontID()));
            document_.setPresetID(draft.value("size", document_.presetID()));
            document_.setFontScale(draft.value("scale", document_.fontScale()));
            document_.setWordmark(draft.value("wordmark", document_.wordmark()));
            document_.setPages(draft.value("pages", document_.pages()));
            document_.setMarkdown(markdown);
            if (unfinished)
                document_.setStatus(session == kUpdate ? _("Your note is back as it was before the update")
                                                       : _("Your note is back as it was when Norvo stopped"));
            restored = true;
        }
    }
    keeping_ = true;
    for (auto* signal : {&document_.signalMarkdownChanged(), &document_.signalThemeChanged(),
                         &document_.signalPresetChanged(), &document_.signalFontChanged(),
                         &document_.signalWordmarkChanged(), &document_.signalScaleChanged(),
                         &document_.signalPagesChanged(), &document_.signalNoteFileChanged()})
        connections_.push_back(signal->connect(sigc::mem_fun(*this, &Drafts::changed)));
    writeSoon();  // this session is running from now on
    return restored;
}

void Drafts::end(Ending how) {
    if (!keeping_ || ended_) return;
    ended_ = true;
    if (timer_) g_source_remove(timer_);
    timer_ = 0;
    // Written here, on the main thread: the process is about to go. A write still running on
    // the worker finishes first (it is older), then this one replaces it.
    const std::string text = snapshot(document_, how == Ending::Update ? kUpdate : kQuit);
    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    background_.waitForAll();
    if (const auto failed = writeFileAtomically(file_, std::string_view(text)))
        g_warning("could not keep the draft %s: %s", file_.c_str(), failed.message().c_str());
}

void Drafts::changed() {
    if (!ended_) writeSoon();
}

// At most one write a second while the note changes.
void Drafts::writeSoon() {
    if (timer_ || ended_) return;
    timer_ = g_timeout_add(1000, +[](gpointer data) -> gboolean {
        auto* self = static_cast<Drafts*>(data);
        self->timer_ = 0;
        self->writeNow();
        return G_SOURCE_REMOVE;
    }, this);
}

// One write at a time, so that an older draft never lands over a newer one.
void Drafts::writeNow() {
    if (writing_) {
        dirty_ = true;
        return;
    }
    writing_ = true;
    background_.run<std::error_code>(
        [file = file_, text = snapshot(document_, kRunning)] {
            std::error_code ignored;
            std::filesystem::create_directories(file.parent_path(), ignored);
            return writeFileAtomically(file, std::string_view(text));
        },
        [this](std::error_code error) {
            if (error) g_warning("could not keep the draft %s: %s", file_.c_str(), error.message().c_str());
            writing_ = false;
            if (dirty_ && !ended_) {
                dirty_ = false;
                writeSoon();
            }
        });
}

}  // namespace norvo
