#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <jpeglib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "image/CardFormats.hpp"
#include "image/Pictures.hpp"
#include "support/GPtr.hpp"
#include "TestSupport.hpp"

using namespace norvo;
namespace fs = std::filesystem;
using Folder = norvo::testing::TempFolder;
using norvo::testing::writeFile;

namespace {

std::string pixbufBytes(int w, int h, guint32 rgba, const char* type) {
    GObjectPtr<GdkPixbuf> p(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h));
    gdk_pixbuf_fill(p.get(), rgba);
    gchar* buffer = nullptr;
    gsize size = 0;
    EXPECT_TRUE(gdk_pixbuf_save_to_buffer(p.get(), &buffer, &size, type, nullptr, nullptr));
    GCharPtr owned(buffer);
    return std::string(buffer, size);
}

// A JPEG that says, in its EXIF, that it is turned a quarter (orientation 6).
std::string turnedJpeg(int w, int h) {
    const std::string jpeg = pixbufBytes(w, h, 0x3366ccff, "jpeg");
    const std::string tiff = std::string("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 26);
    const std::string app1 = std::string("Exif\0\0", 6) + tiff;
    const std::size_t length = app1.size() + 2;
    return jpeg.substr(0, 2) + "\xff\xe1" + char(length >> 8) + char(length & 0xff) + app1 + jpeg.substr(2);
}

// A progressive JPEG of `w` x `h` whose last scan is repeated until it has `scans` scans: a few
// hundred kilobytes that cost a decoder a pass over the whole picture per scan.
std::string manyScanJpeg(int w, int h, int scans) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<unsigned char> row(std::size_t(w) * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) row[std::size_t(x) * 3] = static_cast<unsigned char>((x * y) & 0xff);
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    std::string jpeg(reinterpret_cast<char*>(out), size);
    free(out);
    jpeg_destroy_compress(&c);
    // The smallest scan (with the tables before it) is the one repeated.
    const std::size_t end = jpeg.rfind("\xff\xd9");
    std::string scan;
    for (std::size_t at = jpeg.find("\xff\xda"); at < end;) {
        const std::size_t next = std::min(jpeg.find("\xff\xda", at + 2), end);
        if (scan.empty() || next - at < scan.size()) scan = jpeg.substr(at, next - at);
        at = next;
    }
    std::string repeated = jpeg.substr(0, end);
    for (int i = 0; i < scans - 10; ++i) repeated += scan;
    return repeated + "\xff\xd9";
}

// Runs `f` in a child process limited to `megabytes` of address space; its exit status (-1:
// killed, for instance by an allocation the limit refused).
int underMemoryLimit(std::size_t megabytes, const std::function<bool()>& f) {
    const pid_t child = fork();
    if (child == 0) {
        const rlimit limit{megabytes << 20, megabytes << 20};
        setrlimit(RLIMIT_AS, &limit);
        _exit(f() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(Pictures, HeadersAreReadBeforeAnyDecoderAllocatesOrSpendsTime) {
    Folder f;
    // 29 bytes of GIF declaring a 65535 x 65535 screen and frame; a PNG header of 30000 x 30000.
    writeFile(f.path() / "screen.gif",
              std::string("GIF89a\xff\xff\xff\xff\0\0\0,\0\0\0\0\xff\xff\xff\xff\0\x02\x02" "D\x01\0;", 29));
    const std::string ihdr("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x75\x30\0\0\x75\x30\x08\x02\0\0\0\0\0\0\0", 33);
    writeFile(f.path() / "header.png", ihdr + std::string("\0\0\0\0IEND\xae" "B`\x82", 12));
    for (const char* bomb : {"screen.gif", "header.png"}) {
        const auto header = peekPictureHeader(f.path() / bomb);
        ASSERT_TRUE(header) << bomb;
        EXPECT_GE(header->pixels(), 900'000'000u) << bomb;
        // Refused by its header within 300 MB, where a decoder would ask for gigabytes.
        EXPECT_EQ(underMemoryLimit(300, [&] {
                      auto decoded = decodePicture(f.path() / bomb, 1080);
                      return decoded.index() == 1 && std::get<1>(decoded).find("megapixels") != std::string::npos;
                  }),
                  0)
            << bomb;
    }
    // A picture with thousands of scans is refused by count, and one under a deadline stops there.
    writeFile(f.path() / "scans.jpg", manyScanJpeg(1200, 900, 2000));
    const auto scans = decodePicture(f.path() / "scans.jpg", 1080);
    ASSERT_EQ(scans.index(), 1u);
    EXPECT_NE(std::get<1>(scans).find("2000 scans"), std::string::npos) << std::get<1>(scans);
    PictureLimits late;
    late.maxScans = 5000;
    late.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    const auto slow = decodePicture(f.path() / "scans.jpg", 1080, late);
    ASSERT_EQ(slow.index(), 1u);
    EXPECT_NE(std::get<1>(slow).find("too long"), std::string::npos) << std::get<1>(slow);

    // Hard links share one decoding; a FIFO or a folder is refused without blocking.
    writeFile(f.path() / "photo.png", pixbufBytes(300, 200, 0x20a050ff, "png"));
    fs::create_hard_link(f.path() / "photo.png", f.path() / "again.png");
    PictureCache cache;
    const auto first = std::get<0>(cache.get(f.path() / "photo.png", 200));
    EXPECT_EQ(cache.knownSize(f.path() / "again.png", 200), std::make_pair(300, 200));
    EXPECT_EQ(std::get<0>(cache.get(f.path() / "again.png", 200)), first);
    ASSERT_EQ(mkfifo((f.path() / "pipe.png").c_str(), 0600), 0);
    fs::create_directories(f.path() / "folder.png");
    EXPECT_NE(std::get<1>(decodePicture(f.path() / "pipe.png", 200)).find("FIFO"), std::string::npos);
    EXPECT_NE(std::get<1>(decodePicture(f.path() / "folder.png", 200)).find("folder"), std::string::npos);
    EXPECT_NE(std::get<1>(readFontFile(f.path() / "pipe.png")).find("FIFO"), std::string::npos);
}

TEST(Pictures, FontsWithDamagedTablesAreRefused) {
    Folder f;
    const char* good = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    std::string font = norvo::testing::readText(good);
    ASSERT_GT(font.size(), 100'000u);
    writeFile(f.path() / "good.ttf", font);
    ASSERT_EQ(readFontFile(f.path() / "good.ttf").index(), 0u) << std::get<1>(readFontFile(f.path() / "good.ttf"));
    // 2% of the bytes changed past the table directory, the header intact.
    for (std::size_t i = 1024; i < font.size(); i += 50) font[i] = char(font[i] ^ 0x5a);
    writeFile(f.path() / "damaged.ttf", font);
    const auto damaged = readFontFile(f.path() / "damaged.ttf");
    ASSERT_EQ(damaged.index(), 1u);
    EXPECT_NE(std::get<1>(damaged).find("damaged"), std::string::npos);
}

TEST(Pictures, FoundOnlyInsideTheNotesFolders) {
    Folder note, shared, outside;
    writeFile(note.path() / "cat.png", "x");
    writeFile(shared.path() / "dog.png", "x");
    writeFile(outside.path() / "secret.png", "x");
    fs::create_directories(note.path() / "sub");
    fs::create_symlink(outside.path() / "secret.png", note.path() / "link.png");
    fs::create_symlink(note.path() / "cat.png", note.path() / "sub" / "inner.png");
    const PictureFolders folders{note.path().string(), {shared.path().string()}};

    auto found = findPictureFile(folders, "cat.png");
    ASSERT_EQ(found.index(), 0u);
    EXPECT_EQ(std::get<0>(found), fs::canonical(note.path() / "cat.png"));
    EXPECT_EQ(std::get<0>(findPictureFile(folders, "dog.png")), fs::canonical(shared.path() / "dog.png"));
    EXPECT_EQ(std::get<0>(findPictureFile(folders, "sub/inner.png")), fs::canonical(note.path() / "cat.png"));
    EXPECT_EQ(std::get<0>(findPictureFile(folders, "sub/../cat.png")), fs::canonical(note.path() / "cat.png"));
    // Links and ".." that leave the folders, folders themselves and nothing at all are refused.
    const std::string up = "../" + outside.path().filename().string() + "/secret.png";
    for (const std::string& refused : {std::string("link.png"), up, std::string("sub"), std::string("none.png")})
        EXPECT_EQ(findPictureFile(folders, refused).index(), 1u) << refused;
    EXPECT_NE(std::get<1>(findPictureFile(folders, "link.png")).find("outside"), std::string::npos);
    EXPECT_EQ(findPictureFile(PictureFolders{}, "cat.png").index(), 1u);
}

TEST(Pictures, DecodedUprightWithinTheirLimits) {
    Folder f;
    writeFile(f.path() / "photo.jpg", pixbufBytes(800, 600, 0x20a050ff, "jpeg"));
    writeFile(f.path() / "turned.jpg", turnedJpeg(300, 100));
    writeFile(f.path() / "picture.png", pixbufBytes(40, 30, 0xff0000ff, "png"));
    const auto webp = CardFormats::encodeAt(CardImage(64, 32), 64, 32, CardFormats::Format::WebP);
    ASSERT_TRUE(webp);
    writeFile(f.path() / "art.webp", std::string(webp->begin(), webp->end()));
    writeFile(f.path() / "dot.gif",
              std::string("GIF89a\x01\0\x01\0\x80\0\0\xff\0\0\0\0\0!\xf9\x04\0\0\0\0\0,\0\0\0\0\x01\0\x01\0\0\x02\x02"
                          "D\x01\0;", 43));
    const std::string photo = pixbufBytes(800, 600, 0x20a050ff, "jpeg");
    writeFile(f.path() / "cut.jpg", photo.substr(0, photo.size() / 2));
    writeFile(f.path() / "text.png", "not a picture\n");

    const struct {
        const char* name;
        int width, height;
    } good[] = {{"photo.jpg", 800, 600}, {"turned.jpg", 100, 300}, {"picture.png", 40, 30}, {"art.webp", 64, 32},
                {"dot.gif", 1, 1}};
    for (const auto& g : good) {
        auto decoded = decodePicture(f.path() / g.name, 200);
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
    for (const char* bad : {"cut.jpg", "text.png"}) EXPECT_EQ(decodePicture(f.path() / bad, 200).index(), 1u) << bad;
    // The file's bytes are limited too (the pixels are, in the header test).
    EXPECT_NE(std::get<1>(decodePicture(f.path() / "photo.jpg", 200, PictureLimits{1000})).find("larger than"),
              std::string::npos);

    // Kept decoded until the file changes.
    PictureCache cache;
    const auto first = std::get<0>(cache.get(f.path() / "picture.png", 200));
    EXPECT_EQ(std::get<0>(cache.get(f.path() / "picture.png", 200)), first);
    writeFile(f.path() / "picture.png", pixbufBytes(50, 30, 0xff0000ff, "png"));
    const auto picture = f.path() / "picture.png";
    fs::last_write_time(picture, fs::last_write_time(picture) + std::chrono::seconds(2));
    EXPECT_EQ(std::get<0>(cache.get(f.path() / "picture.png", 200))->width, 50);
}
