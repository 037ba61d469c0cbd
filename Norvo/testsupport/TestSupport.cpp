#include "TestSupport.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include <csignal>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>

namespace norvo::testing {

namespace {
// A launcher with the test's environment and `extraEnv` (NAME=value) on top.
GObjectPtr<GSubprocessLauncher> launcher(GSubprocessFlags flags, const std::vector<std::string>& extraEnv = {}) {
    GObjectPtr<GSubprocessLauncher> l(g_subprocess_launcher_new(flags));
    for (const std::string& kv : extraEnv) {
        const auto eq = kv.find('=');
        g_subprocess_launcher_setenv(l.get(), kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), TRUE);
    }
    return l;
}

// Starts argv, or throws GLib's reason.
GObjectPtr<GSubprocess> spawn(GSubprocessLauncher* l, const std::vector<std::string>& argv) {
    std::vector<const char*> args;
    for (const std::string& a : argv) args.push_back(a.c_str());
    args.push_back(nullptr);
    GError* error = nullptr;
    GObjectPtr<GSubprocess> p(g_subprocess_launcher_spawnv(l, args.data(), &error));
    const GErrorPtr failed(error);
    if (!p) throw std::runtime_error(failed->message);
    return p;
}

int statusOf(GSubprocess* p) {
    g_subprocess_wait(p, nullptr, nullptr);
    return g_subprocess_get_if_exited(p) ? g_subprocess_get_exit_status(p) : 128 + g_subprocess_get_term_sig(p);
}

bool poll(const std::function<bool()>& done, std::chrono::milliseconds limit, bool mainLoop) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        if (!mainLoop || !g_main_context_iteration(nullptr, FALSE)) g_usleep(mainLoop ? 1000 : 20000);
    }
    return true;
}
}  // namespace

bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) { return poll(done, limit, true); }
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) { return poll(done, limit, false); }

std::string pdfInfo(const std::filesystem::path& pdf, const std::string& field) {
    const auto info = runProcess({"pdfinfo", pdf.string()});
    const std::string text = "\n" + info.out;
    const auto at = text.find("\n" + field + ":");
    if (info.exitStatus != 0 || at == std::string::npos) return {};
    const auto from = text.find_first_not_of(' ', at + field.size() + 2);
    return text.substr(from, text.find('\n', from) - from);
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& out,
                           const std::filesystem::path& err) {
    pid_ = fork();
    if (pid_ != 0) return;
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, STDOUT_FILENO);
    dup2(e, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

int ChildProcess::wait() {
    if (pid_ > 0) {
        int status = 0;
        waitpid(pid_, &status, 0);
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
    }
    return status_;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) kill(pid_, SIGTERM);
    wait();
}

BusyCores::BusyCores() {
    for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i)
        loops_.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{"sh", "-c", "while :; do :; done"},
                                                        "/dev/null", "/dev/null"));
}

void runFor(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    runUntil([&] { return std::chrono::steady_clock::now() > end; }, span + std::chrono::seconds(1));
}

TempFolder::TempFolder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "norvo-test-XXXXXX").string();
    if (!g_mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    path_ = tmpl;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

PngInfo readPngHeader(const std::vector<std::uint8_t>& bytes) {
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PngInfo info;
    if (bytes.size() < 26 || !std::equal(signature, signature + 8, bytes.begin())) return info;
    auto be32 = [&](std::size_t at) {
        return std::uint32_t(bytes[at]) << 24 | std::uint32_t(bytes[at + 1]) << 16 | std::uint32_t(bytes[at + 2]) << 8 |
               bytes[at + 3];
    };
    info.width = be32(16);
    info.height = be32(20);
    info.colorType = bytes[25];
    return info;
}

std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string readText(const std::filesystem::path& path) {
    const auto bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

bool writeSolidPng(const std::filesystem::path& path, int width, int height, std::uint32_t rgba) {
    GObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height));
    gdk_pixbuf_fill(pixbuf.get(), rgba);
    return gdk_pixbuf_save(pixbuf.get(), path.c_str(), "png", nullptr, nullptr);
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                         const std::string& stdinText) {
    auto l = launcher(GSubprocessFlags(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                       G_SUBPROCESS_FLAGS_STDERR_PIPE), extraEnv);
    auto p = spawn(l.get(), argv);
    GBytesPtr in(g_bytes_new(stdinText.data(), stdinText.size()));
    GBytes *out = nullptr, *err = nullptr;
    // Both pipes are read while the input is written, so none can fill up and stall the child;
    // a child that stops reading its input early is no error here.
    g_subprocess_communicate(p.get(), in.get(), nullptr, &out, &err, nullptr);
    ProcessResult result;
    for (auto [bytes, into] : {std::pair{out, &result.out}, std::pair{err, &result.err}}) {
        if (!bytes) continue;
        gsize size = 0;
        const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
        into->assign(data ? data : "", size);
        g_bytes_unref(bytes);
    }
    result.exitStatus = statusOf(p.get());
    return result;
}

std::vector<int> descendantsNamed(int root, const std::string& name) {
    std::vector<int> out;
    std::error_code ec;  // a process gone meanwhile has no children
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(root) + "/task", ec)) {
        std::ifstream children(task.path() / "children");
        for (int child = 0; children >> child;) {
            if (readText("/proc/" + std::to_string(child) + "/comm").rfind(name, 0) == 0) out.push_back(child);
            for (const int below : descendantsNamed(child, name)) out.push_back(below);
        }
    }
    return out;
}

ServerProcess::ServerProcess(const std::vector<std::string>& argv) {
    process_ = spawn(launcher(G_SUBPROCESS_FLAGS_STDOUT_PIPE).get(), argv);
    GObjectPtr<GDataInputStream> out(g_data_input_stream_new(g_subprocess_get_stdout_pipe(process_.get())));
    const GCharPtr line(g_data_input_stream_read_line(out.get(), nullptr, nullptr, nullptr));
    if (!line || std::sscanf(line.get(), "READY %d", &port_) != 1) throw std::runtime_error("helper server did not start");
}

ServerProcess::~ServerProcess() {
    g_subprocess_send_signal(process_.get(), SIGTERM);
    statusOf(process_.get());
}

}  // namespace norvo::testing
