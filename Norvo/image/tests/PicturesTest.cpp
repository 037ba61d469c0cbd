#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "image/CardFormats.hpp"
#include "image/Pictures.hpp"
#include "support/GPtr.hpp"

using namespace norvo;
namespace fs = std::filesystem;

namespace {

// A fresh folder of its own, gone with the test.
struct Folder {
    fs::path path = fs::temp_directory_path() / ("norvo-pictures-" + std::to_string(::getpid()) + "-" +
                                                 std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    Folder() { fs::create_directories(path); }
    ~Folder() { fs::remove_all(path); }
};

std::string pixbufBytes(int w, int h, guint32 rgba, const char* type) {
    GObjectPtr<GdkPixbuf> p(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h));
    gdk_pixbuf_fill(p.get(), rgba);
    gchar* buffer = nullptr;
    gsize size = 0;
    EXPECT_TRUE(gdk_pixbuf_save_to_buffer(p.get(), &buffer, &size, type, nullptr, nullptr));
    GCharPtr owned(buffer);
    return std::string(buffer, size);
}

void write(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

// A JPEG that says, in its EXIF, that it is turned a quarter (orientation 6).
std::string turnedJpeg(int w, int h) {
    const std::string jpeg = pixbufBytes(w, h, 0x3366ccff, "jpeg");
    const std::string tiff = std::string("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 26);
    const std::string app1 = std::string("Exif\0\0", 6) + tiff;
    const std::size_t length = app1.size() + 2;
    return jpeg.substr(0, 2) + "\xff\xe1" + char(length >> 8) + char(length & 0xff) + app1 + jpeg.substr(2);
}

}  // namespace

TEST(Pictures, FoundOnlyInsideTheNotesFolders) {
    Folder note, shared, outside;
    write(note.path / "cat.png", "x");
    write(shared.path / "dog.png", "x");
    write(outside.path / "secret.png", "x");
    fs::create_directories(note.path / "sub");
    fs::create_symlink(outside.path / "secret.png", note.path / "link.png");
    fs::create_symlink(note.path / "cat.png", note.path / "sub" / "inner.png");
    const PictureFolders folders{note.path.string(), {shared.path.string()}};

    auto found = findPictureFile(folders, "cat.png");
    ASSERT_EQ(found.index(), 0u);
    EXPECT_EQ(std::get<0>(found), fs::canonical(note.path / "cat.png"));
    EXPECT_EQ(std::get<0>(findPictureFile(folders, "dog.png")), fs::canonical(shared.path / "dog.png"));
    EXPECT_EQ(std::get<0>(findPictureFile(folders, "sub/inner.png")), fs::canonical(note.path / "cat.png"));
    EXPECT_EQ(std::get<0>(findPictureFile(folders, "sub/../cat.png")), fs::canonical(note.path / "cat.png"));
    // Links and ".." that leave the folders, folders themselves and nothing at all are refused.
    const std::string up = "../" + outside.path.filename().string() + "/secret.png";
    for (const std::string& refused : {std::string("link.png"), up, std::string("sub"), std::string("none.png")})
        EXPECT_EQ(findPictureFile(folders, refused).index(), 1u) << refused;
    EXPECT_NE(std::get<1>(findPictureFile(folders, "link.png")).find("outside"), std::string::npos);
    EXPECT_EQ(findPictureFile(PictureFolders{}, "cat.png").index(), 1u);
}

TEST(Pictures, DecodedUprightWithinTheirLimits) {
    Folder f;
    write(f.path / "photo.jpg", pixbufBytes(800, 600, 0x20a050ff, "jpeg"));
    write(f.path / "turned.jpg", turnedJpeg(300, 100));
    write(f.path / "picture.png", pixbufBytes(40, 30, 0xff0000ff, "png"));
    const auto webp = CardFormats::encodeAt(CardImage(64, 32), 64, 32, CardFormats::Format::WebP);
    ASSERT_TRUE(webp);
    write(f.path / "art.webp", std::string(webp->begin(), webp->end()));
    write(f.path / "dot.gif", std::string("GIF89a\x01\0\x01\0\x80\0\0\xff\0\0\0\0\0!\xf9\x04\0\0\0\0\0,\0\0\0\0\x01\0\x01\0\0\x02\x02"
                                          "D\x01\0;", 43));
    const std::string photo = pixbufBytes(800, 600, 0x20a050ff, "jpeg");
    write(f.path / "cut.jpg", photo.substr(0, photo.size() / 2));
    write(f.path / "text.png", "not a picture\n");

    const struct {
        const char* name;
        int width, height;
    } good[] = {{"photo.jpg", 800, 600}, {"turned.jpg", 100, 300}, {"picture.png", 40, 30}, {"art.webp", 64, 32},
                {"dot.gif", 1, 1}};
    for (const auto& g : good) {
        auto decoded = decodePicture(f.path / g.name, 200);
        ASSERT_EQ(decoded.index(), 0u) << g.name << ": " << std::get<1>(decoded);
        const PicturePtr& p = std::get<0>(decoded);
        EXPECT_EQ(p->width, g.width) << g.name;  // its own size, upright
        EXPECT_EQ(p->height, g.height) << g.name;
        // What the page gets is no larger than it can be shown, upright too.
        GObjectPtr<GdkPixbufLoader> loader(gdk_pixbuf_loader_new_with_mime_type(p->mimeType.c_str(), nullptr));
        ASSERT_TRUE(loader) << p->mimeType;
        ASSERT_TRUE(gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(p->bytes.data()), p->bytes.size(), nullptr));
        ASSERT_TRUE(gdk_pixbuf_loader_close(loader.get(), nullptr));
        GdkPixbuf* served = gdk_pixbuf_loader_get_pixbuf(loader.get());
        EXPECT_LE(std::max(gdk_pixbuf_get_width(served), gdk_pixbuf_get_height(served)), 200) << g.name;
        EXPECT_EQ(gdk_pixbuf_get_width(served) > gdk_pixbuf_get_height(served), g.width > g.height) << g.name;
    }
    for (const char* bad : {"cut.jpg", "text.png"}) EXPECT_EQ(decodePicture(f.path / bad, 200).index(), 1u) << bad;
    // Limits: the file's bytes, and the pixels its header declares (refused before decoding).
    EXPECT_NE(std::get<1>(decodePicture(f.path / "photo.jpg", 200, PictureLimits{1000, 50'000'000})).find("MB"),
              std::string::npos);
    EXPECT_NE(std::get<1>(decodePicture(f.path / "photo.jpg", 200, PictureLimits{25u << 20, 400'000})).find("megapixels"),
              std::string::npos);

    // Kept decoded until the file changes.
    PictureCache cache;
    const auto first = std::get<0>(cache.get(f.path / "picture.png", 200));
    EXPECT_EQ(std::get<0>(cache.get(f.path / "picture.png", 200)), first);
    write(f.path / "picture.png", pixbufBytes(50, 30, 0xff0000ff, "png"));
    fs::last_write_time(f.path / "picture.png", fs::last_write_time(f.path / "picture.png") + std::chrono::seconds(2));
    EXPECT_EQ(std::get<0>(cache.get(f.path / "picture.png", 200))->width, 50);
}
