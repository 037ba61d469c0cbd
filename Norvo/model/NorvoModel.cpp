#include "model/NorvoModel.hpp"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <new>

#include <glibmm/i18n.h>

#include "engine/RenderEngine.hpp"
#include "model/AppInfo.hpp"
#include "norvo/Card.hpp"
#include "norvo/Presets.hpp"
#include "norvo/SelfTestConfig.hpp"

namespace norvo {

const char* const NorvoModel::kSampleMarkdown =
    "# A thought worth sharing\n"
    "\n"
    "Markdown in, a picture out.\n"
    "\n"
    "- Pick a **size** and a theme\n"
    "- Paste your note\n"
    "- Export a PNG for the feed\n"
    "\n"
    "> Your words, designed \u2014 not screenshotted.";

namespace {

class WebRenderer final : public CardRenderer {
public:
    void render(const std::string& markdown, const std::string& theme, const std::string& font, const Preset& preset,
                bool wordmark, double scale, Completion completion) override {
        engine_.render(markdown, theme, font, preset, wordmark, scale, std::move(completion));
    }

private:
    RenderEngine engine_;
};

}  // namespace

CardRendererFactory webRendererFactory() {
    return [] { return std::make_unique<WebRenderer>(); };
}

struct SelfTestRun {
    SelfTestConfig config;
    std::filesystem::path folder;
};

namespace {
// Storage for an object that is built once and never destroyed, so that nothing of the
// model (its web view above all) is torn down after GTK during exit.
template <typename T>
class Immortal {
public:
    template <typename... Args>
    explicit Immortal(Args&&... args) {
        std::construct_at(reinterpret_cast<T*>(storage_), std::forward<Args>(args)...);
    }
    T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};
}  // namespace

NorvoModel& NorvoModel::shared() {
    static Immortal<NorvoModel> model(webRendererFactory());
    return model.get();
}

NorvoModel::NorvoModel(CardRendererFactory rendererFactory)
    : markdown_(kSampleMarkdown),
      version_(AppInfo::version()),
      rendererFactory_(std::move(rendererFactory)),
      alive_(std::make_shared<NorvoModel*>(this)) {}

template <typename T>
void NorvoModel::publish(T& field, T value) {
    willChange_.emit();
    field = std::move(value);
    changed_.emit();
}

void NorvoModel::setMarkdown(std::string value) { publish(markdown_, std::move(value)); rerender(); }
void NorvoModel::setThemeID(std::string value) { publish(themeID_, std::move(value)); rerender(); }
void NorvoModel::setPresetID(std::string value) { publish(presetID_, std::move(value)); rerender(); }
void NorvoModel::setFontID(std::string value) { publish(fontID_, std::move(value)); rerender(); }
void NorvoModel::setWordmark(bool value) { publish(wordmark_, value); rerender(); }
void NorvoModel::setFontScale(double value) { publish(fontScale_, value); rerender(); }
void NorvoModel::setLastStatus(std::string value) { publish(lastStatus_, std::move(value)); }
void NorvoModel::setPreviewImage(CardImagePtr value) { publish(previewImage_, std::move(value)); }
void NorvoModel::setAvailableUpdate(std::optional<UpdateInfo> value) { publish(availableUpdate_, std::move(value)); }
void NorvoModel::setIsUpdating(bool value) { publish(isUpdating_, value); }
void NorvoModel::setIsCheckingForUpdate(bool value) { publish(isCheckingForUpdate_, value); }

CardRenderer& NorvoModel::engine() {
    if (!engine_) engine_ = rendererFactory_();
    return *engine_;
}

namespace {
const char* tooLong() { return _("Too long to render \u2014 a note may hold up to 1 MiB"); }
}  // namespace

bool NorvoModel::refuseTooLong() {
    if (markdown_.size() <= Card::kMaxMarkdownBytes) {
        if (lastStatus_ == tooLong()) setLastStatus({});
        return false;
    }
    // The editor keeps the text; only rendering is refused.
    if (lastStatus_ != tooLong()) setLastStatus(tooLong());
    return true;
}

void NorvoModel::rerender() {
    if (refuseTooLong()) return;
    CardRenderer& renderer = engine();
    const Preset preset = Presets::by(presetID_);
    std::weak_ptr<NorvoModel*> weak = alive_;
    renderer.render(markdown_, themeID_, fontID_, preset, wordmark_, fontScale_, [weak](CardImagePtr image) {
        if (!image) return;  // a failed render keeps the previous preview
        if (auto model = weak.lock()) (*model)->setPreviewImage(std::move(image));
    });
}

void NorvoModel::runSelfTest() {
    auto run = std::make_shared<SelfTestRun>();
    run->folder = "/tmp/norvo-selftest";
    std::error_code ignored;
    std::filesystem::create_directories(run->folder, ignored);
    run->config = SelfTestConfig::from(std::getenv("NORVO_SELFTEST_SCALE"), std::getenv("NORVO_SELFTEST_FONT"));
    selfTestStep(0, std::move(run));
}

void NorvoModel::selfTestStep(std::size_t index, std::shared_ptr<const SelfTestRun> run) {
    const auto& presets = Presets::all();
    if (index >= presets.size()) {
        std::cout << "SELFTEST DONE" << std::endl;
        if (quit_) quit_();
        return;
    }
    const Preset preset = presets[index];
    std::weak_ptr<NorvoModel*> weak = alive_;
    engine().render(kSampleMarkdown, "paper", run->config.font, preset, true, run->config.scale,
                    [weak, preset, run, index](CardImagePtr image) {
                        auto model = weak.lock();
                        if (!model) return;
                        std::optional<std::vector<std::uint8_t>> png;
                        if (image) png = RenderEngine::png(*image, preset.width, preset.height);
                        if (!png) {
                            std::cout << "SELFTEST " << preset.id << " FAILED" << std::endl;
                        } else {
                            // A failed write is not reported; the line still tells the encoded size.
                            std::ofstream(run->folder / (preset.id + run->config.suffix + ".png"), std::ios::binary)
                                .write(reinterpret_cast<const char*>(png->data()), std::streamsize(png->size()));
                            std::cout << "SELFTEST " << preset.id << " " << preset.width << "x" << preset.height
                                      << " scale=" << run->config.scaleText() << " bytes=" << png->size()
                                      << std::endl;
                        }
                        (*model)->selfTestStep(index + 1, run);
                    });
}

}  // namespace norvo

namespace norvo {

namespace {
const char* exportFailed() { return _("Export failed \u2014 try again"); }
const char* saveFailed() { return _("Couldn't save the PNG"); }
const char* copyFailed() { return _("Copy failed"); }
const char* copied() { return _("Copied \u2713 \u2014 paste it anywhere"); }
const char* shareFailed() { return _("Share failed"); }

// The PNG of a rendered card at exactly its preset's size; nothing without an image.
std::optional<std::vector<std::uint8_t>> exactPng(const CardImagePtr& image, const Preset& preset) {
    if (!image) return std::nullopt;
    return RenderEngine::png(*image, preset.width, preset.height);
}
}  // namespace

void NorvoModel::renderCurrentCard(std::function<void(NorvoModel&, const Preset&, CardImagePtr)> then) {
    if (refuseTooLong()) return;
    const Preset preset = Presets::by(presetID_);
    std::weak_ptr<NorvoModel*> weak = alive_;
    engine().render(markdown_, themeID_, fontID_, preset, wordmark_, fontScale_,
                    [weak, preset, then = std::move(then)](CardImagePtr image) {
                        if (auto alive = weak.lock()) then(**alive, preset, std::move(image));
                    });
}

void NorvoModel::exportPNG() {
    const std::string name = Card::fileName(markdown_, Presets::by(presetID_).id);  // the text at click time
    std::weak_ptr<NorvoModel*> weak = alive_;
    renderCurrentCard([weak, name](NorvoModel& model, const Preset& preset, CardImagePtr image) {
        auto png = exactPng(image, preset);
        if (!png || !model.services_) {
            model.setLastStatus(exportFailed());
            return;
        }
        model.services_->bringToFront();
        model.services_->chooseSaveFile(name, [weak, bytes = std::move(*png)](std::optional<std::filesystem::path> path) {
            auto alive = weak.lock();
            if (!alive || !path) return;  // cancelled: the status line stays as it was
            NorvoModel& model = **alive;
            if (const auto error = writeFileAtomically(*path, bytes)) {
                g_warning("could not save %s: %s", path->c_str(), error.message().c_str());
                model.setLastStatus(saveFailed());
                return;
            }
            model.setLastStatus(_("Saved \u2713 ") + path->filename().string());
        });
    });
}

void NorvoModel::copyPNG() {
    renderCurrentCard([](NorvoModel& model, const Preset&, CardImagePtr image) {
        if (!image || !model.services_) {
            model.setLastStatus(copyFailed());
            return;
        }
        model.services_->copyImage(image);
        model.setLastStatus(copied());
    });
}

void NorvoModel::sharePNG(Gtk::Widget* anchor) {
    renderCurrentCard([anchor](NorvoModel& model, const Preset& preset, CardImagePtr image) {
        const auto png = exactPng(image, preset);
        // Named after the text as it is now, when the render has finished.
        const auto file = model.services_ ? model.services_->temporaryFolder() / Card::fileName(model.markdown_, preset.id)
                                          : std::filesystem::path();
        if (!png || !model.services_ || writeFileAtomically(file, *png)) {
            model.setLastStatus(shareFailed());
            return;
        }
        model.services_->showSharePicker(file, anchor);
    });
}

}  // namespace norvo
