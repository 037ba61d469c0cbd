#include "engine/PageProtocol.hpp"

#include <cmath>

#include <glib.h>
#include <nlohmann/json.hpp>

#include "norvo/Catalogue.hpp"

namespace norvo::PageProtocol {

namespace {

using nlohmann::json;

// The page's answer, turned into text so that a ticket of any size survives.
std::string answerTail(std::uint64_t ticket) {
    return "return JSON.stringify({ticket:'" + std::to_string(ticket) +
           "',pages:a.pages,report:a.report,pending:a.pending===true,height:a.height});})()";
}

// JSON text of `value`; throws on text that is not UTF-8.
std::string dumped(const json& value) { return value.dump(); }

// JSON text of a number; non-finite scales become null, which the page reads as normal.
json number(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

// The style as the page's style.js reads it.
json styleOptions(const ServedStyle& served) {
    const CardStyle& s = served.style;
    json style = json::object();
    if (!s.accent.empty()) style["accent"] = s.accent;
    switch (s.background) {
    case CardStyle::Background::Theme: break;
    case CardStyle::Background::Solid: style["background"] = {{"kind", "solid"}, {"colors", s.colors}}; break;
    case CardStyle::Background::Gradient:
        style["background"] = {{"kind", "gradient"}, {"colors", s.colors}, {"angle", number(s.angle)}};
        break;
    case CardStyle::Background::Image:
        style["background"] = {{"kind", "image"},
                               {"image", {{"uri", served.image.uri}, {"width", served.image.width},
                                          {"height", served.image.height}, {"gridWidth", served.gridWidth},
                                          {"gridHeight", served.gridHeight}, {"darkest", served.darkest},
                                          {"lightest", served.lightest}}}};
        break;
    }
    json fonts = json::object();
    const std::pair<const char*, const std::string*> roles[] = {
        {"body", &s.bodyFont}, {"heading", &s.headingFont}, {"code", &s.codeFont}};
    for (const auto& [role, family] : roles) {
        if (const auto uri = served.fontUris.find(role); uri != served.fontUris.end())
            fonts[role] = {{"uri", uri->second}};
        else if (!family->empty())
            fonts[role] = *family;
    }
    if (!fonts.empty()) style["fonts"] = fonts;
    if (!s.signatureName.empty() || !s.signatureHandle.empty())
        style["signature"] = {{"name", s.signatureName}, {"handle", s.signatureHandle},
                              {"avatar", served.avatarUri.empty() ? json(nullptr) : json(served.avatarUri)}};
    return style;
}

}  // namespace

std::optional<std::string> drawScript(const CardRequest& card, const PageDraw& how, std::uint64_t ticket) {
    json options = {{"markdown", card.markdown},
                    {"width", card.settings.size.width},
                    {"height", card.drawnSize().height / card.density},
                    {"report", how.report},
                    {"plainLayout", how.plainLayout}};
    for (const CardSettingRow& row : cardSettingRows())
        if (row.onPage == CardSettingRow::OnPage::Always || (row.onPage == CardSettingRow::OnPage::InSets && how.pages))
            options[std::string(row.key)] = jsonSettingValue(row, card.settings);
    if (how.pages) options["pages"] = true;
    if (card.settings.size.grows) options["grows"] = true;
    if (card.density != 1) options["density"] = card.density;
    if (!how.pictures.empty()) {
        json pictures = json::object();
        for (const auto& [target, picture] : how.pictures)
            pictures[target] = {{"uri", picture.uri}, {"width", picture.width}, {"height", picture.height}};
        options["pictures"] = std::move(pictures);
    }
    if (how.style) options["style"] = styleOptions(*how.style);
    if (how.backdrop) options["backdrop"] = *how.backdrop;
    std::string optionsText, fontText;
    try {
        optionsText = dumped(options);
        fontText = dumped(json(Fonts::by(card.settings.font).stack));
    } catch (const json::exception& e) {  // invalid UTF-8
        g_warning("the card cannot be drawn: its text is not UTF-8 (%s)", e.what());
        return std::nullopt;
    }
    return "(function(){document.getElementById('card').style.fontFamily=" + fontText +
           ";var a=window.tazuCardDraw(" + optionsText + ");" + answerTail(ticket);
}

bool needsPreparing(const std::string& markdown, const std::optional<ServedStyle>& style) {
    return markdown.find('$') != std::string::npos || markdown.find("![") != std::string::npos ||
           (style && !style->fontUris.empty());
}

std::optional<std::string> prepareScript(const CardRequest& card, const std::optional<ServedStyle>& style) {
    try {
        json options = {{"markdown", card.markdown}};
        if (style) options["style"] = styleOptions(*style);
        return "return await window.tazuCardPrepare(" + dumped(options) + ");";
    } catch (const json::exception& e) {  // invalid UTF-8
        g_warning("the card cannot be drawn: its text is not UTF-8 (%s)", e.what());
        return std::nullopt;
    }
}

std::optional<Prepared> parsePrepared(std::string_view text) {
    const json answer = json::parse(text, nullptr, false);
    if (!answer.is_object() || !answer.contains("pictures") || !answer["pictures"].is_array()) return std::nullopt;
    Prepared prepared;
    for (const json& target : answer["pictures"])
        if (target.is_string()) prepared.pictures.push_back(target.get<std::string>());
    if (const auto fonts = answer.find("failedFonts"); fonts != answer.end() && fonts->is_array())
        for (const json& role : *fonts)
            if (role.is_string()) prepared.failedFonts.push_back(role.get<std::string>());
    return prepared;
}

std::string picturesReadyScript(std::int64_t viewHeight) {
    return "return await window.tazuCardPicturesReady(" + std::to_string(viewHeight) + ");";
}

std::string showPageScript(std::size_t page, bool report, std::uint64_t ticket) {
    return "(function(){var a=window.tazuCardDraw({showPage:" + std::to_string(page) +
           ",report:" + (report ? "true" : "false") + "});" + answerTail(ticket);
}

std::optional<PageAnswer> parseAnswer(std::string_view text, std::uint64_t ticket) {
    const json answer = json::parse(text, nullptr, false);
    if (!answer.is_object() || answer.value("ticket", std::string()) != std::to_string(ticket)) return std::nullopt;
    const json& pages = answer["pages"];
    if (!pages.is_number_integer() || pages.get<long long>() < 1) return std::nullopt;
    PageAnswer out;
    out.pages = std::size_t(pages.get<long long>());
    out.pending = answer.value("pending", false);
    if (const auto it = answer.find("height"); it != answer.end() && it->is_number()) out.height = it->get<double>();
    const json& r = answer["report"];
    if (r.is_object()) {
        LayoutReport report;
        try {
            report.bodyPx = r.at("bodyPx").get<double>();
            report.minPx = r.at("minPx").get<double>();
            report.cut = r.at("cut").get<bool>();
            report.overflowX = r.at("overflowX").get<bool>();
            report.brokenWords = r.at("brokenWords").get<int>();
            report.page = r.at("page").get<std::size_t>();
            report.pages = r.at("pages").get<std::size_t>();
            report.minContrast = r.value("minContrast", 0.0);
            report.cover = r.value("cover", false);
            report.brokenTokens = r.value("brokenTokens", 0);
            report.busyness = r.value("busyness", 0.0);
        } catch (const json::exception&) {
            return std::nullopt;  // a report that is not one is a page that went wrong
        }
        out.report = report;
    }
    return out;
}

std::string reportMembers(const LayoutReport& report, bool paged) {
    // Numbers read as the page wrote them: whole pixels without a fraction.
    auto px = [](double v) {
        return std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15 ? std::to_string((long long)v)
                                                                            : json(v).dump();
    };
    std::string out = "\"bodyPx\":" + px(report.bodyPx) + ",\"minPx\":" + px(report.minPx) +
                      ",\"cut\":" + (report.cut ? "true" : "false") +
                      ",\"overflowX\":" + (report.overflowX ? "true" : "false") +
                      ",\"brokenWords\":" + std::to_string(report.brokenWords) +
                      ",\"minContrast\":" + px(report.minContrast);
    if (paged) out += ",\"page\":" + std::to_string(report.page) + ",\"pages\":" + std::to_string(report.pages);
    if (report.cover) out += ",\"cover\":true";
    // Only a card with code split inside a name says so: every other line reads as before.
    if (report.brokenTokens > 0) out += ",\"brokenTokens\":" + std::to_string(report.brokenTokens);
    if (report.busyness > 0) out += ",\"busyness\":" + px(report.busyness);
    // What the card was drawn without (a picture, a style's font), each with its reason.
    if (!report.refusedPictures.empty()) {
        json leftOut = json::array();
        for (const RefusedPicture& refused : report.refusedPictures)
            leftOut.push_back({{"target", refused.target}, {"reason", refused.reason}});
        out += ",\"leftOut\":" + leftOut.dump(-1, ' ', false, json::error_handler_t::replace);
    }
    return out;
}

}  // namespace norvo::PageProtocol
