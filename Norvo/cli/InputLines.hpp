#pragma once
// Standard input cut into lines as it comes, read on the main loop without ever blocking it:
// what `--stream` and `norvo mcp` read their requests from. Main thread.
#include <cstddef>
#include <deque>
#include <functional>
#include <string>

namespace norvo {

class InputLines {
public:
    struct Line {
        std::string text{};
        bool tooLong = false;  // cut off at the longest a line may be; the rest of it was dropped
    };

    // `arrived` is called whenever lines came or the input ended. Reading pauses while
    // `mostHeld` lines wait to be taken, so a writer far ahead of its answers is held back by
    // the pipe, not by memory.
    InputLines(std::size_t longest, std::function<void()> arrived, std::size_t mostHeld = 16);
    ~InputLines();
    InputLines(const InputLines&) = delete;
    InputLines& operator=(const InputLines&) = delete;

    // Watches standard input from now on.
    void start();
    // Nothing more is read, and what was read is dropped.
    void stop();
    bool empty() const { return lines_.empty(); }
    Line take();
    // The input ended (or stop() was called).
    bool ended() const { return ended_; }

private:
    void watch();
    void readable();

    std::size_t longest_;
    std::size_t mostHeld_;
    std::function<void()> arrived_;
    std::string pending_;       // what was read after the last whole line
    std::deque<Line> lines_;    // read, not yet taken
    bool ended_ = false, skipping_ = false;
    unsigned watch_ = 0;
};

}  // namespace norvo
