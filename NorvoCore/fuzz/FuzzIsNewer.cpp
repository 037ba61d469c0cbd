#include <cstdint>
#include <string_view>

#include "norvo/Updater.hpp"

// Splits the input at the first NUL into two versions; "newer" must be a strict order.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = in.find('\0');
    const std::string_view a = in.substr(0, cut);
    const std::string_view b = cut == std::string_view::npos ? std::string_view() : in.substr(cut + 1);
    if (norvo::Updater::isNewer(a, a)) __builtin_trap();
    if (norvo::Updater::isNewer(a, b) && norvo::Updater::isNewer(b, a)) __builtin_trap();
    return 0;
}
