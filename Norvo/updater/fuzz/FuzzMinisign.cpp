#include <cstdint>
#include <string_view>

#include "updater/Minisign.hpp"

// Any signature file against a fixed message and key: no crash, no undefined behaviour,
// and never accepted (nobody but the key's owner can sign).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = in.find('\0');
    const std::string_view signature = in.substr(0, cut);
    const std::string_view key = cut == std::string_view::npos
                                     ? std::string_view("RWRrgXVqnMwtO/Ez0ctfYtbyCxCX/GtTPRtVUuEJ/MdqSve/BOnUKLSR")
                                     : in.substr(cut + 1);
    if (norvo::Minisign::verify("norvo-seal 1\nversion 2.0\n", signature, key)) __builtin_trap();
    return 0;
}
