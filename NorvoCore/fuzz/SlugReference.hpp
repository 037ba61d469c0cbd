#pragma once
#include <string>
#include <string_view>

namespace norvo::reference {
std::string slug(std::string_view text, std::string_view fallback);
}
