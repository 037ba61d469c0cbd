#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gio/gio.h>

#include "support/GPtr.hpp"

namespace norvo::testing {

// The one way tests wait: polls `done` until it holds or the time is up, running the GLib
// main loop meanwhile (runUntil) or not (waitFor, for what other processes do). Returns
// `done()`. The limit is a deadline against hangs, never a speed requirement.
bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20));
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5));
// Runs the main loop for a while.
void runFor(std::chrono::milliseconds span);

// A fresh empty folder, removed when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

struct PngInfo {
    std::uint32_t width = 0, height = 0;
    int colorType = -1;
};
// Width, height and colour type from a PNG's header; nothing valid when it is not a PNG.
PngInfo readPngHeader(const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readFile(const std::filesystem::path& path);
std::string readText(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& text);
// A PNG of one colour (0xRRGGBBAA), `width` x `height`; false when it could not be written.
bool writeSolidPng(const std::filesystem::path& path, int width, int height, std::uint32_t rgba);

struct ProcessResult {
    int exitStatus = -1;
    std::string out, err;
};
// Runs a program to its end with extra environment variables and optional stdin text.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
                         const std::string& stdinText = {});

// One field of what `pdfinfo` says of a PDF ("Pages", "Title", "Page size"), or "".
std::string pdfInfo(const std::filesystem::path& pdf, const std::string& field);

// A program running beside the test, its standard output and error going to files; waited
// for (and stopped, if still running) when the object goes.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& out,
                 const std::filesystem::path& err);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    int pid() const { return pid_; }
    int wait();  // the exit status

private:
    int pid_ = -1;
    int status_ = -1;
};

// Every core of the machine kept busy by a spinning shell while the object lives.
class BusyCores {
public:
    BusyCores();
    BusyCores(const BusyCores&) = delete;
    BusyCores& operator=(const BusyCores&) = delete;

private:
    std::vector<std::unique_ptr<ChildProcess>> loops_;
};

// The pids of the processes below `root` whose name starts with `name`.
std::vector<int> descendantsNamed(int root, const std::string& name);

// A helper process's "READY <port>" server, stopped with the object.
class ServerProcess {
public:
    explicit ServerProcess(const std::vector<std::string>& argv);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    int port() const { return port_; }

private:
    GObjectPtr<GSubprocess> process_;
    int port_ = 0;
};

}  // namespace norvo::testing
