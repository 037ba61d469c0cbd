#include "cli/CardWriterThread.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <glib/gi18n.h>

#include "cli/OutputLines.hpp"
#include "support/StartupTimeline.hpp"

namespace norvo {

void EncoderThread::written(const std::string& line) {
    StartupTimeline::markOnce("card-written");
    if ((std::fprintf(setup_.lines, "%s\n", line.c_str()) < 0 || std::fflush(setup_.lines) != 0) && !linesLost_.exchange(true)) {
        std::fprintf(stderr, _("norvo render: the lines naming the cards cannot be written: %s\n"), std::strerror(errno));
        ++failures_;
    }
}
void EncoderThread::failed(const std::filesystem::path& file, const std::error_code& error) {
    std::fprintf(stderr, _("norvo render: could not write %s: %s\n"), printable(file).c_str(), error.message().c_str());
    ++failures_;
}

std::string EncoderThread::cardLine(const std::filesystem::path& file, const Preset& preset,
                                   const LayoutReport& report, bool paged) const {
    return setup_.report ? reportLine(file, preset, report, paged)
                   : printable(file) + "  " + std::to_string(preset.width) + "x" + std::to_string(preset.height);
}

void EncoderThread::write(CardTask& task) {
    if (const std::error_code error = writeCard(*task.card.image, task.preset, task.path, task.words, setup_.format, setup_.links))
        return failed(task.path, error);
    written(cardLine(task.path, writtenSize(*task.card.image, task.preset), task.card.report, false));
    ++filesWritten_;
}

void EncoderThread::write(SetPageTask& task) {
    SetOutput& set = *task.set;
    if (task.page <= set.lastPage) {  // drawn again from the start after its page died
        set.rollBack();
        set.failed = false;
    }
    set.lastPage = task.page;
    if (set.failed) return;
    if (!set.writer) set.writer = std::make_unique<SetWriter>(set.target);
    if (const std::error_code error = set.writer->add(task.card.image, task.page, task.pages)) {
        failed(set.writer->failedFile(), error);
        set.failed = true;
        return set.rollBack();
    }
    // The line gives the file's own size: a long picture's card is as tall as it grew.
    if (set.target.pictures)
        set.lines.push_back(cardLine(setCardFile(set.target.base, task.page, task.pages),
                                     writtenSize(*task.card.image, set.target.size), task.card.report, true));
}

void EncoderThread::write(SetEndTask& task) {
    SetOutput& set = *task.set;
    set.ended = true;
    if (!task.rendered) return set.rollBack();
    if (set.failed || !set.writer) return;
    if (const std::error_code error = set.writer->commit()) {
        failed(set.writer->failedFile(), error);
        set.failed = true;
        return set.rollBack();
    }
    if (const auto& pdf = set.target.pdf)
        set.lines.push_back(setup_.report ? pdfReportLine(*pdf, set.lastPage)
                                    : printable(*pdf) + "  " + std::to_string(set.lastPage) +
                                          (set.lastPage == 1 ? " page" : " pages"));
    for (const std::string& line : set.lines) written(line);
    filesWritten_ += int(set.lines.size());
}

void EncoderThread::loop() {
    while (true) {
        EncodeTask task = SetEndTask{};
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return closing_ || !tasks_.empty(); });
            if (tasks_.empty()) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        std::visit([this](auto& t) { write(t); }, task);
        {
            std::lock_guard lock(mutex_);
            --backlog_;
        }
        // A card or a set is done; a set's single card or failed end is not one more. Either
        // way there is room for the next.
        const bool done = std::holds_alternative<CardTask>(task) ||
                          (std::holds_alternative<SetEndTask>(task) && std::get<SetEndTask>(task).rendered);
        MainThread::post(lifetime_.guard([this, done] { onDone_(done); }));
    }
}

}  // namespace norvo
