#include <cstdint>
#include <string>

#include "updater/BundleSeal.hpp"
#include "updater/RelativePath.hpp"

// Any seal text: no crash, and what parses keeps the seal's promises: sorted, unique,
// clean relative paths and only the two modes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto seal = norvo::BundleSeal::parse(text);
    if (!seal) return 0;
    if (seal->version.empty()) __builtin_trap();
    const std::string* previous = nullptr;
    for (const auto& e : seal->files) {
        if (!norvo::RelativePath::isClean(e.path) || (e.mode != 0644 && e.mode != 0755)) __builtin_trap();
        if (previous && !(*previous < e.path)) __builtin_trap();
        previous = &e.path;
    }
    return 0;
}
