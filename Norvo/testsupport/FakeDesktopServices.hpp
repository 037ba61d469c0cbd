#pragma once
#include <filesystem>
#include <optional>
#include <vector>

#include "model/DesktopServices.hpp"

namespace norvo::testing {

// Records what the model asks of the desktop; the test answers the save dialog.
class FakeDesktopServices final : public DesktopServices {
public:
    explicit FakeDesktopServices(std::filesystem::path temp) : temp_(std::move(temp)) {}

    void bringToFront() override { ++broughtToFront; }
    void chooseSaveFile(const std::string& suggestedName, SaveChoice done) override {
        suggestedNames.push_back(suggestedName);
        pendingSave = std::move(done);
    }
    void chooseFileToOpen(OpenChoice done) override { pendingOpen = std::move(done); }
    // A card's dialog is answered like any save dialog, at density 1 unless `answerDensity`.
    void chooseCardFile(const std::string& suggestedName, CardFileChoice done) override {
        chooseSaveFile(suggestedName, [this, done = std::move(done)](std::optional<std::filesystem::path> path) {
            done(path ? std::optional(CardFile{*path, answerDensity}) : std::nullopt);
        });
    }
    int answerDensity = 1;
    void copyCard(const CardImagePtr& image, const std::string& altText) override {
        copied.push_back(image);
        copiedTexts.push_back(altText);
    }
    void showSharePicker(const std::vector<std::filesystem::path>& files, const std::string& altText,
                         Anchor anchor) override {
        sharedAltTexts.push_back(altText);
        shared.push_back({files, anchor});
    }
    std::filesystem::path temporaryFolder() override { return temp_; }
    void showAlert(const Alert& alert, AlertAnswer answered) override {
        alerts.push_back(alert);
        pendingAlert = std::move(answered);
    }
    // Answers the open alert with the button at `index`.
    void answerAlert(std::size_t index) {
        auto answer = std::move(pendingAlert);
        pendingAlert = nullptr;
        answer(index);
    }
    std::vector<Alert> alerts;
    AlertAnswer pendingAlert;

    // Answers the open save dialog with a path, or cancels it.
    void answerSave(std::optional<std::filesystem::path> path) {
        auto done = std::move(pendingSave);
        pendingSave = nullptr;
        done(std::move(path));
    }

    // Answers the open dialog with a path, or cancels it.
    void answerOpen(std::optional<std::filesystem::path> path) {
        auto done = std::move(pendingOpen);
        pendingOpen = nullptr;
        done(std::move(path));
    }
    OpenChoice pendingOpen;

    int broughtToFront = 0;
    std::vector<std::string> suggestedNames;
    SaveChoice pendingSave;
    std::vector<CardImagePtr> copied;
    std::vector<std::string> copiedTexts, sharedAltTexts;
    std::vector<std::pair<std::vector<std::filesystem::path>, Anchor>> shared;

private:
    std::filesystem::path temp_;
};

}  // namespace norvo::testing
