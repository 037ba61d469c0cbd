#include "cli/CardWriterThread.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <glib/gi18n.h>
#include <sys/stat.h>

#include "engine/PageProtocol.hpp"

#include "cli/OutputLines.hpp"
#include "support/StartupTimeline.hpp"

namespace norvo {

void EncoderThread::written(const std::string& line) {
    StartupTimeline::markOnce("card-written");
    if (std::fprintf(setup_.lines, "%s\n", line.c_str()) >= 0 && std::fflush(setup_.lines) == 0) return;
    lost(errno ? errno : EIO);
}

void EncoderThread::lost(int error) {
    int none = 0;
    if (linesLost_.compare_exchange_strong(none, error)) {
        std::fprintf(stderr,
                     setup_.answers ? _("norvo render: --stream: the answers cannot be written: %s\n")
                                    : _("norvo render: the lines naming the cards cannot be written: %s\n"),
                     std::strerror(error));
        ++failures_;
    }
}

// A stream's answer, as a line of its own or to the one who takes them.
void EncoderThread::answer(const StreamAnswer& reply) {
    if (setup_.answerTo) {
        StartupTimeline::markOnce("card-written");
        if (const int error = setup_.answerTo(reply)) lost(error);
        return;
    }
    written(!reply.error.empty()      ? errorAnswer(reply.id, reply.error)
            : reply.files.size() == 1 ? answerLine(reply.id, reply.cards.front())
                                      : setAnswer(reply.id, reply.files, reply.members));
}

// A stream request's failure is its answer; a batch's goes to standard error.
void EncoderThread::failed(const std::string& answerId, const std::filesystem::path& file, const std::error_code& error) {
    ++failures_;
    if (!answerId.empty())
        return answer({.id = answerId, .error = "could not write " + printable(file) + ": " + error.message()});
    std::fprintf(stderr, _("norvo render: could not write %s: %s\n"), printable(file).c_str(), error.message().c_str());
}

// Files the stream's requests wrote, by the file itself: no later request writes one again,
// whatever name (a link, another spelling) it gives.
void EncoderThread::remember(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) answered_.insert({st.st_dev, st.st_ino});
}
bool EncoderThread::wroteBefore(const std::filesystem::path& file) const {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 && answered_.count({st.st_dev, st.st_ino});
}

std::string EncoderThread::cardLine(const std::filesystem::path& file, const Preset& preset,
                                   const LayoutReport& report, bool paged) const {
    return setup_.report ? reportLine(file, preset, report, paged)
                   : printable(file) + "  " + std::to_string(preset.width) + "x" + std::to_string(preset.height);
}

void EncoderThread::write(CardTask& task) {
    const bool answers = !task.answerId.empty();
    if (answers && task.links == WriteRules::Links::WriteThrough && wroteBefore(task.path)) {
        ++failures_;
        return answer({.id = task.answerId, .error = "\"output\" " + printable(task.path) + " is written by an earlier request"});
    }
    if (const std::error_code error =
            writeCard(*task.card.image, task.preset, task.path, task.words, task.format, task.links))
        return failed(task.answerId, task.path, error);
    const Preset shown = writtenSize(*task.card.image, task.preset);
    if (answers)
        answer({.id = task.answerId, .files = {task.path}, .cards = {reportLine(task.path, shown, task.card.report, false)}});
    else
        written(cardLine(task.path, shown, task.card.report, false));
    if (answers) remember(task.path);
    ++filesWritten_;
}

void EncoderThread::write(AnswerTask& task) {
    ++failures_;
    answer({.id = task.id, .error = task.error});
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
        failed(set.answerId, set.writer->failedFile(), error);
        set.failed = true;
        return set.rollBack();
    }
    // The line gives the file's own size: a long picture's card is as tall as it grew.
    const std::filesystem::path file = setCardFile(set.target.base, task.page, task.pages);
    const Preset shown = writtenSize(*task.card.image, set.target.size);
    if (!set.answerId.empty()) {
        set.files.push_back(file);
        set.reports.push_back(PageProtocol::reportMembers(task.card.report, true));
        set.lines.push_back(reportLine(file, shown, task.card.report, true));
    } else if (set.target.pictures) {
        set.lines.push_back(cardLine(file, shown, task.card.report, true));
    }
}

void EncoderThread::write(SetEndTask& task) {
    SetOutput& set = *task.set;
    set.ended = true;
    if (!task.rendered) return set.rollBack();
    if (set.failed || !set.writer) return;
    if (const std::error_code error = set.writer->commit()) {
        failed(set.answerId, set.writer->failedFile(), error);
        set.failed = true;
        return set.rollBack();
    }
    if (!set.answerId.empty()) {
        answer({.id = set.answerId, .files = set.files, .cards = set.lines, .members = set.reports});
        for (const auto& file : set.files) remember(file);
        filesWritten_ += int(set.files.size());
        return;
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
        const bool done = std::holds_alternative<CardTask>(task) || std::holds_alternative<AnswerTask>(task) ||
                          (std::holds_alternative<SetEndTask>(task) && std::get<SetEndTask>(task).rendered);
        MainThread::post(lifetime_.guard([this, done] { onDone_(done); }));
    }
}

}  // namespace norvo
