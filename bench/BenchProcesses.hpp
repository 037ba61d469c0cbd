#pragma once
// What the benchmarks share: medians, and commands run and timed as a user runs them, with
// the memory of their whole process tree and the phases they mark on their timeline.
#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace norvo::bench {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d);
double percentile(std::vector<double> v, double p);
double median(const std::vector<double>& v);

// Sum of PSS over a process and all its descendants, in kB.
long treePssKb(pid_t root);
// Starts a command with extra environment variables and `input` (a file) on its standard
// input, its output thrown away.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& input = {});
// Runs a command to its end; returns wall ms and the peak PSS of its process tree.
std::pair<double, long> runMeasured(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                                    const std::string& input = {});

// Runs a command to its end and returns its wall ms, nothing sampled meanwhile (reading a web
// process's memory map takes its lock, and slows it).
double runTimed(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& input = {});

long long monotonicNs();
// Starts a command with a timeline file and reads the phases it marked, in ms since the
// exec. With `until`, the command is stopped once it has marked that phase.
std::map<std::string, double> timelineOf(const std::vector<std::string>& argv, std::vector<std::string> env,
                                         const std::string& cache, const char* until = nullptr);
// Every mark of a run with a timeline file, in the order written: a batch marks each card.
std::vector<std::pair<std::string, long long>> marksOf(const std::vector<std::string>& argv, double* wall);
// The time between each `from` mark and the next `to` mark after it, in ms: one per card.
std::vector<double> spans(const std::vector<std::pair<std::string, long long>>& marks, const char* from,
                          const char* to);

// One session bus for the whole bench, as a desktop has one. Without it, every app started
// under a bare X server launches a bus of its own and leaves it running, with its inotify
// instances, until the machine has none left. Nothing is started when a bus is already set.
class SessionBus {
public:
    SessionBus();
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

private:
    pid_t daemon_ = 0;
};

}  // namespace norvo::bench
