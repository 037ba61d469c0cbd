#include <cstdint>
#include <string_view>

#include "norvo/Updater.hpp"

// Any body: no crash, and whatever comes out is https and newer than the current version.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const auto info = norvo::Updater::parseManifest(body, "1.2.3");
    if (info) {
        if (info->downloadURL.rfind("https://", 0) != 0) __builtin_trap();
        if (!norvo::Updater::isNewer(info->version, "1.2.3")) __builtin_trap();
    }
    return 0;
}
