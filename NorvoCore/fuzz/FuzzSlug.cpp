#include <cstdint>
#include <string_view>

#include "SlugReference.hpp"
#include "norvo/Card.hpp"

// Checks the slug's promises on arbitrary bytes: no "-" at either end, never "--",
// no path characters, the fallback exactly when nothing usable remains, and the same
// answer as the reference that reads the whole note.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string s = norvo::Card::slug(text, "\x01");
    if (s != norvo::reference::slug(text, "\x01")) __builtin_trap();
    if (s == "\x01") return 0;
    if (s.empty() || s.front() == '-' || s.back() == '-') __builtin_trap();
    if (s.find("--") != std::string::npos) __builtin_trap();
    if (s.find_first_of("/. \t\n\r:") != std::string::npos) __builtin_trap();
    return 0;
}
