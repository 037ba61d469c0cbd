#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "image/CardImage.hpp"
#include "image/PngEncoder.hpp"

namespace norvo::CardFormats {

// The picture formats a card is saved in: PNG (the default), JPEG at quality 92 with full
// colour resolution (sharp coloured text), and lossless WebP. Each carries the note's words
// where its format has a place for them: PNG in iTXt chunks, JPEG and WebP as XMP
// (dc:title, dc:description).
enum class Format { Png, Jpeg, WebP };

// "png", "jpeg" (or "jpg"), "webp"; nothing for anything else.
std::optional<Format> byName(std::string_view name);
// By a file name's extension (.png, .jpg, .jpeg, .webp, any case); PNG for others.
Format byExtension(std::string_view fileName);
// The format a file name's ending names, if it names one.
std::optional<Format> namedBy(const std::filesystem::path& file);
// ".png", ".jpg", ".webp".
const char* extension(Format format);

// The error of a card that could not be encoded (its own category: never mistaken for the
// system's "Cannot allocate memory" or a file error).
std::error_code encodeFailed();

// The card in `format` at exactly width x height pixels (stretched when its size differs),
// or nothing. A card with transparency is flattened on white for JPEG.
std::optional<std::vector<std::uint8_t>> encodeAt(const CardImage& image, std::int64_t width, std::int64_t height,
                                                  Format format, const PngEncoder::Words& words = {});

}  // namespace norvo::CardFormats
