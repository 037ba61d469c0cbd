#include "support/StartupTimeline.hpp"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string>
#include <unistd.h>

namespace norvo::StartupTimeline {

namespace {
int timelineFile() {
    static const int fd = [] {
        const char* path = std::getenv("NORVO_TIMELINE");
        return path && *path ? ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600) : -1;
    }();
    return fd;
}
}  // namespace

void mark(const char* phase) {
    const int fd = timelineFile();
    if (fd < 0) return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char line[128];
    const int n = std::snprintf(line, sizeof line, "%s %lld\n", phase,
                                static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec);
    // One write per line: O_APPEND keeps lines of several threads or processes whole. A
    // line that cannot be written is left out: the timeline is for measuring only.
    if (n > 0 && ::write(fd, line, std::size_t(n)) < 0) return;
}

void markOnce(const char* phase) {
    if (timelineFile() < 0) return;
    static std::mutex mutex;
    static std::set<std::string> marked;
    {
        std::lock_guard lock(mutex);
        if (!marked.insert(phase).second) return;
    }
    mark(phase);
}

}  // namespace norvo::StartupTimeline
