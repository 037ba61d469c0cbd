#include "ThemeTable.hpp"

#include <cstdlib>
#include <string_view>

#include <nlohmann/json.hpp>

namespace norvo::ThemeTable {

namespace {

constexpr std::string_view kThemes =
#include "ThemeTable.inc"
    ;

Rgb hex(const std::string& c) {
    const unsigned long v = std::strtoul(c.c_str() + 1, nullptr, 16);
    return {double((v >> 16) & 0xff), double((v >> 8) & 0xff), double(v & 0xff)};
}

Rgb rgb(const nlohmann::json& c) { return {c.at(0).get<double>(), c.at(1).get<double>(), c.at(2).get<double>()}; }

}  // namespace

const std::vector<Entry>& all() {
    // The table is the build's own file: a mistake in it is the build's, found by every test.
    static const std::vector<Entry> themes = [] {
        std::vector<Entry> out;
        for (const auto& t : nlohmann::json::parse(kThemes)) {
            Entry e;
            e.id = t.at("id").get<std::string>();
            e.label = t.at("label").get<std::string>();
            e.dark = t.at("dark").get<bool>();
            const auto& b = t.at("backdrop");
            e.angle = b.at("angle").get<double>();
            for (const auto& s : b.at("stops")) e.stops.push_back({s.at(0).get<double>(), hex(s.at(1).get<std::string>())});
            for (const auto& g : b.at("glows"))
                e.glows.push_back({g.at("rx").get<double>(), g.at("ry").get<double>(), g.at("cx").get<double>(),
                                   g.at("cy").get<double>(), rgb(g.at("color")), g.at("alpha").get<double>(),
                                   g.at("end").get<double>()});
            out.push_back(std::move(e));
        }
        return out;
    }();
    return themes;
}

}  // namespace norvo::ThemeTable
