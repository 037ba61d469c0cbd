#include "cli/CardWriterThread.hpp"

#include <cstdio>

#include "cli/OutputLines.hpp"
#include "support/StartupTimeline.hpp"

namespace norvo {

void EncoderThread::written(const std::string& line) {
    StartupTimeline::markOnce("card-written");
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}
void EncoderThread::failed(const std::filesystem::path& file, const std::error_code& error) {
    std::fprintf(stderr, "norvo render: could not write %s: %s\n", printable(file).c_str(), error.message().c_str());
    ++failures_;
}

std::string EncoderThread::cardLine(const std::filesystem::path& file, const Preset& preset,
                                   const LayoutReport& report, bool paged) const {
    return report_ ? reportLine(file, preset, report, paged)
                   : printable(file) + "  " + std::to_string(preset.width) + "x" + std::to_string(preset.height);
}

void EncoderThread::write(CardTask& task) {
    const auto png =
        CardFormats::encodeAt(*task.card.image, task.preset.width, task.preset.height, format_, task.words);
    const std::error_code error =
        png ? writeFileAtomically(task.path, *png) : CardFormats::encodeFailed();
    if (error) return failed(task.path, error);
    written(cardLine(task.path, task.preset, task.card.report, false));
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
    auto fail = [&](const std::filesystem::path& file, const std::error_code& error) {
        failed(file, error);
        set.failed = true;
        set.rollBack();
    };
    if (set.pngs) {
        const auto file = pagePath(set.path, task.page, task.pages);
        const auto png =
            CardFormats::encodeAt(*task.card.image, set.preset.width, set.preset.height, format_, set.words);
        const std::error_code error =
            png ? writeFileAtomically(file, *png) : CardFormats::encodeFailed();
        if (error) return fail(file, error);
        set.written.push_back(file);
        set.lines.push_back(cardLine(file, set.preset, task.card.report, true));
    }
    if (set.pdf) {
        if (!set.pdfWriter) {
            set.pdfFile = std::make_unique<AtomicFileWriter>(*set.pdf);
            AtomicFileWriter* file = set.pdfFile.get();
            set.pdfWriter = std::make_unique<PdfWriter>(
                [file](const std::uint8_t* data, std::size_t size) { return file->write(data, size); }, set.words);
        }
        if (!set.pdfWriter->addPage(task.card.image)) {
            const std::error_code error = set.pdfFile->error();
            return fail(*set.pdf, error ? error : std::make_error_code(std::errc::io_error));
        }
    }
}

void EncoderThread::write(SetEndTask& task) {
    SetOutput& set = *task.set;
    set.ended = true;
    if (!task.rendered) return set.rollBack();
    if (set.failed) return;
    if (set.pdf) {
        std::error_code error;
        if (!set.pdfWriter || !set.pdfWriter->finish())
            error = set.pdfFile && set.pdfFile->error() ? set.pdfFile->error() : std::make_error_code(std::errc::io_error);
        if (!error) error = set.pdfFile->commit();
        if (error) {
            failed(*set.pdf, error);
            set.failed = true;
            return set.rollBack();
        }
        set.lines.push_back(report_ ? pdfReportLine(*set.pdf, set.lastPage)
                                    : printable(*set.pdf) + "  " + std::to_string(set.lastPage) +
                                          (set.lastPage == 1 ? " page" : " pages"));
    }
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
        room_.notify_all();
        // A card or a set is done; a set's single card or failed end is not one more.
        const bool done = std::holds_alternative<CardTask>(task) ||
                          (std::holds_alternative<SetEndTask>(task) && std::get<SetEndTask>(task).rendered);
        if (done) MainThread::post(lifetime_.guard([this] { onDone_(); }));
    }
}

}  // namespace norvo
