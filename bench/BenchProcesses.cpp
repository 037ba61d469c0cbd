#include "BenchProcesses.hpp"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <glib.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace norvo::bench {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const std::size_t i = std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}
double median(const std::vector<double>& v) { return percentile(v, 0.5); }

long treePssKb(pid_t root) {
    std::map<pid_t, pid_t> parent;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            const pid_t pid = atoi(e->d_name);
            if (pid <= 0) continue;
            std::ifstream stat("/proc/" + std::string(e->d_name) + "/stat");
            std::string line;
            std::getline(stat, line);
            const auto close = line.rfind(')');
            if (close == std::string::npos) continue;
            std::istringstream rest(line.substr(close + 2));
            char state;
            pid_t ppid;
            rest >> state >> ppid;
            parent[pid] = ppid;
        }
        closedir(d);
    }
    long total = 0;
    for (const auto& [pid, ppid] : parent) {
        pid_t p = pid;
        while (p > 1 && p != root) p = parent.count(p) ? parent[p] : 0;
        if (p != root) continue;
        std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps_rollup");
        for (std::string key; smaps >> key;) {
            long kb;
            if (key == "Pss:" && smaps >> kb) {
                total += kb;
                break;
            }
        }
    }
    return total;
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& input) {
    const pid_t pid = fork();
    if (pid == 0) {
        for (const auto& kv : env) putenv(const_cast<char*>(kv.c_str()));
        if (!input.empty()) {
            const int in = open(input.c_str(), O_RDONLY);
            dup2(in, 0);
        }
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

std::pair<double, long> runMeasured(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                                    const std::string& input) {
    const auto t0 = Clock::now();
    const pid_t pid = spawn(argv, env, input);
    long peak = 0;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        peak = std::max(peak, treePssKb(pid));
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    return {ms(Clock::now() - t0), peak};
}

double runTimed(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& input) {
    const auto t0 = Clock::now();
    const pid_t pid = spawn(argv, env, input);
    int status = 0;
    waitpid(pid, &status, 0);
    return ms(Clock::now() - t0);
}

long long monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

std::map<std::string, double> timelineOf(const std::vector<std::string>& argv, std::vector<std::string> env,
                                         const std::string& cache, const char* until) {
    char tmpl[] = "/tmp/norvo-timeline-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    const std::string file = dir + "/timeline";
    env.push_back("NORVO_TIMELINE=" + file);
    // A start with no settings and no draft; the caches (fonts, the compiled network filter)
    // are the bench's own, warmed by a first start that is not counted, as on every start
    // but a machine's first.
    for (const char* var : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"})
        env.push_back(std::string(var) + "=" + dir + "/" + var);
    env.push_back("XDG_CACHE_HOME=" + cache);
    env.push_back("GSETTINGS_BACKEND=memory");
    const long long t0 = monotonicNs();
    const pid_t pid = spawn(argv, env);
    auto read = [&] {
        std::map<std::string, double> phases;
        std::ifstream in(file);
        std::string phase;
        long long ns = 0;
        while (in >> phase >> ns) phases.emplace(phase, double(ns - t0) / 1e6);
        return phases;
    };
    int status = 0;
    if (until) {
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (!read().count(until) && Clock::now() < deadline && waitpid(pid, &status, WNOHANG) == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        kill(pid, SIGKILL);
    }
    waitpid(pid, &status, 0);
    const double end = double(monotonicNs() - t0) / 1e6;
    auto phases = read();
    if (until && phases.count(until)) phases["exit"] = phases[until];
    if (!phases.count("exit")) phases["exit"] = end;
    std::filesystem::remove_all(dir);
    return phases;
}

std::vector<std::pair<std::string, long long>> marksOf(const std::vector<std::string>& argv, double* wall) {
    char tmpl[] = "/tmp/norvo-timeline-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    const std::string file = dir + "/timeline";
    const long long t0 = monotonicNs();
    *wall = runTimed(argv, {"NORVO_TIMELINE=" + file});
    std::vector<std::pair<std::string, long long>> marks;
    std::ifstream in(file);
    std::string phase;
    long long ns = 0;
    while (in >> phase >> ns) marks.emplace_back(phase, ns - t0);
    std::filesystem::remove_all(dir);
    return marks;
}

std::vector<double> spans(const std::vector<std::pair<std::string, long long>>& marks, const char* from,
                          const char* to) {
    std::vector<double> out;
    long long open = -1;
    for (const auto& [phase, ns] : marks) {
        if (phase == from) open = ns;
        else if (phase == to && open >= 0) {
            out.push_back(double(ns - open) / 1e6);
            open = -1;
        }
    }
    return out;
}

SessionBus::SessionBus() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) return;
    const char* argv[] = {"dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1", nullptr};
    gchar* out = nullptr;
    gint status = 0;
    if (!g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out,
                      nullptr, &status, nullptr) ||
        !g_spawn_check_wait_status(status, nullptr)) {
        g_free(out);
        return;
    }
    std::istringstream lines(out ? out : "");
    g_free(out);
    std::string busAddress, pid;
    if (std::getline(lines, busAddress) && std::getline(lines, pid) && !busAddress.empty()) {
        setenv("DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), 1);
        daemon_ = pid_t(std::atol(pid.c_str()));
    }
}

SessionBus::~SessionBus() {
    if (daemon_ > 0) kill(daemon_, SIGTERM);
}

}  // namespace norvo::bench
