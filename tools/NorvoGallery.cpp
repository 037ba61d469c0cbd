// norvo-gallery DIR [CORPUS] [--styles STYLES]: renders every note of the corpus in every
// size and font and writes one contact sheet per theme (DIR/gallery-<theme>.png): a row per
// note, a column per size and font, each card scaled into its cell. Also one sheet per theme
// of the long essay as a set of square cards (DIR/pages-<theme>.png). With --styles, instead
// one sheet per style file in STYLES (DIR/style-<name>.png), a column per size and theme.
// With --bundled, one sheet of the styles that come with Norvo (DIR/bundled-styles.png).
// With --sizes LIST (comma-separated sizes: tall, 1600x900, long...), the corpus sheets take
// those sizes instead of the four. Run it under xvfb-run -a.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <glib.h>
#include <gtk/gtk.h>

#include "image/CairoPtr.hpp"
#include "engine/RenderEngine.hpp"
#include "norvo/Catalogue.hpp"
#include "norvo/Presets.hpp"
#include "support/ResourceBundle.hpp"
#include "support/StyleFiles.hpp"

using namespace norvo;

namespace {

constexpr int kCell = 300, kGap = 16, kLabel = 150, kHeader = 40;
// Every theme of the catalogue, by id.
std::vector<const char*> themeIds() {
    std::vector<const char*> ids;
    for (const Theme& t : Themes::all()) ids.push_back(t.id.c_str());
    return ids;
}
const char* const kFonts[] = {"sans", "serif", "mono"};

// Pictures a note names are looked up beside it, in the corpus folder.
std::filesystem::path corpusFolder;

CardImagePtr renderAndWait(RenderEngine& engine, const std::string& markdown, const char* theme, const char* font,
                           const Preset& preset, const CardStyle& style = {}) {
    CardImagePtr image;
    bool done = false;
    CardRequest card{.markdown = markdown, .settings = {.theme = theme, .font = font, .size = preset, .style = style}};
    card.pictures.noteFolder = corpusFolder.string();
    engine.render(card, [&](CardImagePtr i) {
        image = std::move(i);
        done = true;
    });
    while (!done) g_main_context_iteration(nullptr, TRUE);
    return image;
}

void label(cairo_t* cr, double x, double y, const std::string& text, double size) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, text.c_str());
}

// Paints `image` scaled to fit a `box`-pixel square at (x, y), centred across.
void paintCard(cairo_t* cr, const CardImage& image, double x, double y, double box) {
    CairoSurfacePtr card(cairo_image_surface_create_for_data(const_cast<unsigned char*>(image.data()), CAIRO_FORMAT_ARGB32,
                                                             image.width(), image.height(), image.stride()));
    const double scale = std::min(box / image.width(), box / image.height());
    cairo_save(cr);
    cairo_translate(cr, x + (box - image.width() * scale) / 2, y);
    cairo_scale(cr, scale, scale);
    cairo_set_source_surface(cr, card.get(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_restore(cr);
}

}  // namespace

int main(int argc, char** argv) {
    norvo::ResourceBundle::useBuildTree(NORVO_BUILD_BUNDLE_DIR);
    if (argc < 2) {
        std::fprintf(stderr, "usage: norvo-gallery DIR [CORPUS] [--styles STYLES | --bundled]\n");
        return 2;
    }
    if (!gtk_init_check()) {
        std::fprintf(stderr, "norvo-gallery: no display; run it under xvfb-run -a\n");
        return 1;
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    std::filesystem::path styles;  // --styles DIR: a sheet per style file there instead
    bool bundled = false;          // --bundled: one sheet of the bundled styles instead
    std::vector<Preset> sizes = Presets::all();  // --sizes tall,1600x900: the corpus in these sizes
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--sizes") {
            sizes.clear();
            std::string list = args[i + 1] + ",";
            for (std::size_t start = 0, comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1)
                if (const auto size = Presets::parse(list.substr(start, comma - start))) sizes.push_back(*size);
            args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
            break;
        }
    if (const auto it = std::find(args.begin(), args.end(), "--bundled"); it != args.end()) {
        bundled = true;
        args.erase(it);
    }
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--styles") {
            styles = args[i + 1];
            args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
            break;
        }
    const std::filesystem::path out = args.at(0);
    const std::filesystem::path corpus = args.size() > 1 ? args[1] : NORVO_GALLERY_CORPUS;
    corpusFolder = corpus;
    std::filesystem::create_directories(out);

    std::map<std::string, std::string> notes;  // sorted by file name
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (entry.path().extension() != ".md") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        notes[entry.path().stem().string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }

    RenderEngine engine;
    int failures = 0;
    // A sheet: a row per note, a column per cell (a size with a font or a theme).
    struct Cell {
        const char* theme;
        const char* font;
        Preset preset;
        std::string label;
    };
    struct Row {
        std::string label, markdown;
        CardStyle style;
    };
    auto rowsOf = [&](const CardStyle& style) {
        std::vector<Row> rows;
        for (const auto& [name, markdown] : notes) rows.push_back({name, markdown, style});
        return rows;
    };
    auto writeSheet = [&](const std::filesystem::path& file, const std::vector<Cell>& cells, const std::vector<Row>& rows,
                          int cellSize) {
        const int width = kLabel + int(cells.size()) * (cellSize + kGap);
        const int height = kHeader + int(rows.size()) * (cellSize + kGap);
        CairoSurfacePtr sheet(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
        CairoPtr cr(cairo_create(sheet.get()));
        cairo_set_source_rgb(cr.get(), 0.16, 0.16, 0.17);
        cairo_paint(cr.get());
        for (std::size_t c = 0; c < cells.size(); ++c) label(cr.get(), kLabel + double(c * (cellSize + kGap)), 26, cells[c].label, 16);
        int row = 0;
        for (const Row& r : rows) {
            const double y = kHeader + row * (cellSize + kGap);
            label(cr.get(), 8, y + 20, r.label, 13);
            int column = 0;
            for (const Cell& cell : cells) {
                const CardImagePtr image = renderAndWait(engine, r.markdown, cell.theme, cell.font, cell.preset, r.style);
                const double x = kLabel + column++ * (cellSize + kGap);
                if (image) paintCard(cr.get(), *image, x, y, cellSize);
                else ++failures;
            }
            ++row;
        }
        cr.reset();
        if (cairo_surface_write_to_png(sheet.get(), file.c_str()) != CAIRO_STATUS_SUCCESS) ++failures;
        std::printf("%s\n", file.c_str());
    };

    if (bundled) {
        // The styles that come with Norvo: a row each, on the sheet's notes (the corpus's
        // "styles-*" notes, one a row in turn), on square, portrait and story.
        std::vector<Cell> cells;
        for (const char* id : {"square", "portrait", "story"})
            for (const Preset& preset : Presets::all())
                if (preset.id == id) cells.push_back({"paper", "sans", preset, preset.id});
        std::vector<std::string> sample;
        for (const auto& [name, markdown] : notes)
            if (name.rfind("styles-", 0) == 0) sample.push_back(markdown);
        if (sample.empty()) sample.push_back(notes.begin()->second);
        std::vector<Row> rows;
        for (const std::string& name : StyleFiles::bundledNames()) {
            const StyleRead read = StyleFiles::loadSaved(name);
            if (read.problem) {
                std::fprintf(stderr, "norvo-gallery: %s\n", read.problem->message.c_str());
                ++failures;
                continue;
            }
            rows.push_back({name, sample[rows.size() % sample.size()], read.style});
        }
        writeSheet(out / "bundled-styles.png", cells, rows, 460);
        // And one square card a style, four to a row, named: the README's picture.
        constexpr int kTile = 270, kPerRow = 4, kName = 28;
        const int tileRows = (int(rows.size()) + kPerRow - 1) / kPerRow;
        CairoSurfacePtr grid(cairo_image_surface_create(CAIRO_FORMAT_RGB24, kPerRow * (kTile + kGap) + kGap,
                                                        tileRows * (kTile + kName + kGap) + kGap));
        CairoPtr cr(cairo_create(grid.get()));
        cairo_set_source_rgb(cr.get(), 0.16, 0.16, 0.17);
        cairo_paint(cr.get());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const double x = kGap + double(i % kPerRow) * (kTile + kGap), y = kGap + double(i / kPerRow) * (kTile + kName + kGap);
            const CardImagePtr image = renderAndWait(engine, rows[i].markdown, "paper", "sans", cells.front().preset, rows[i].style);
            if (image) paintCard(cr.get(), *image, x, y, kTile);
            else ++failures;
            label(cr.get(), x, y + kTile + 20, rows[i].label, 15);
        }
        cr.reset();
        if (cairo_surface_write_to_png(grid.get(), (out / "bundled-styles-grid.png").c_str()) != CAIRO_STATUS_SUCCESS)
            ++failures;
        return failures ? 1 : 0;
    }

    if (!styles.empty()) {
        // A sheet per style: every size in every theme, sans.
        std::vector<Cell> cells;
        for (const Preset& preset : Presets::all())
            for (const char* theme : themeIds()) cells.push_back({theme, "sans", preset, preset.id + " / " + theme});
        for (const auto& entry : std::filesystem::directory_iterator(styles)) {
            if (entry.path().extension() != ".json") continue;
            const StyleRead read = StyleFiles::load(entry.path().string());
            if (read.problem) {
                std::fprintf(stderr, "norvo-gallery: %s\n", read.problem->message.c_str());
                ++failures;
                continue;
            }
            writeSheet(out / ("style-" + entry.path().stem().string() + ".png"), cells, rowsOf(read.style), kCell);
        }
        return failures ? 1 : 0;
    }

    for (const char* theme : themeIds()) {
        std::vector<Cell> cells;
        for (const Preset& preset : sizes)
            for (const char* font : kFonts) cells.push_back({theme, font, preset, preset.id + " / " + font});
        writeSheet(out / (std::string("gallery-") + theme + ".png"), cells, rowsOf({}), kCell);
    }

    // The long essay as a set of cards, one sheet per theme.
    const auto essay = notes.find("long-6000");
    for (const char* theme : themeIds()) {
        if (essay == notes.end()) break;
        std::vector<CardImagePtr> set;
        bool done = false;
        engine.renderPages(CardRequest{.markdown = essay->second, .settings = {.theme = theme}},
                           [&](std::vector<RenderedCard> cards) {
                               for (RenderedCard& c : cards) set.push_back(std::move(c.image));
                               done = true;
                           });
        while (!done) g_main_context_iteration(nullptr, TRUE);
        if (set.empty()) {
            ++failures;
            continue;
        }
        constexpr int kPageCell = 540;
        const int sheetWidth = int(set.size()) * (kPageCell + kGap) + kGap;
        CairoSurfacePtr sheet(cairo_image_surface_create(CAIRO_FORMAT_RGB24, sheetWidth, kPageCell + 2 * kGap));
        CairoPtr cr(cairo_create(sheet.get()));
        cairo_set_source_rgb(cr.get(), 0.16, 0.16, 0.17);
        cairo_paint(cr.get());
        for (std::size_t i = 0; i < set.size(); ++i) {
            const CardImage& image = *set[i];
            CairoSurfacePtr card(cairo_image_surface_create_for_data(const_cast<unsigned char*>(image.data()),
                                                                     CAIRO_FORMAT_ARGB32, image.width(),
                                                                     image.height(), image.stride()));
            cairo_save(cr.get());
            cairo_translate(cr.get(), kGap + double(i) * (kPageCell + kGap), kGap);
            cairo_scale(cr.get(), double(kPageCell) / image.width(), double(kPageCell) / image.height());
            cairo_set_source_surface(cr.get(), card.get(), 0, 0);
            cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_GOOD);
            cairo_paint(cr.get());
            cairo_restore(cr.get());
        }
        const auto file = out / (std::string("pages-") + theme + ".png");
        cr.reset();
        if (cairo_surface_write_to_png(sheet.get(), file.c_str()) != CAIRO_STATUS_SUCCESS) ++failures;
        std::printf("%s\n", file.c_str());
    }
    return failures ? 1 : 0;
}
