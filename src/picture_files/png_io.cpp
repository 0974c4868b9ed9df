// PNG file functions over TPngImage.
#include "picture_files/png_io.h"

#include "base/files.h"

namespace tessaly {
namespace {

constexpr int kSaveCompressionLevel = 4;
constexpr std::uint32_t kSaveFilters = 0x98;  // none, sub and Paeth

TPngImage& PrepareForSave(TPngImage& image, const Bitmap& bitmap, const std::string& author,
                          const std::string& description, const std::string& software,
                          const std::string& title, const PngProgressHandler& on_progress) {
  image.CopyFromBitmap(bitmap);
  image.CompressionLevel = kSaveCompressionLevel;
  image.FilterFlags = kSaveFilters;
  image.Author = author;
  image.Description = description;
  image.Software = software;
  image.Title = title;
  image.OnProgress = on_progress;
  return image;
}

}  // namespace

bool LoadPNGFromMemory(Bitmap& bitmap, std::span<const std::uint8_t> data, bool expand_to_rgb) {
  TPngImage image;
  image.ExpandToRGB = expand_to_rgb;
  image.LoadFromMemory(data);
  bitmap.SetHeight(0);
  bitmap.SetWidth(0);
  image.CopyToBitmap(bitmap, 0, 0);
  return true;
}

bool LoadPNGIntoBitmap(Bitmap& bitmap, const std::filesystem::path& file_name, bool expand_to_rgb) {
  return LoadPNGFromMemory(bitmap, ReadFileBytes(file_name), expand_to_rgb);
}

std::vector<std::uint8_t> EncodeBitmapAsPNG(const Bitmap& bitmap, const std::string& author,
                                            const std::string& description,
                                            const std::string& software, const std::string& title,
                                            const PngProgressHandler& on_progress) {
  TPngImage image;
  return PrepareForSave(image, bitmap, author, description, software, title, on_progress)
      .SaveToMemory();
}

bool SaveBitmapAsPNG(const Bitmap& bitmap, const std::filesystem::path& file_name,
                     const std::string& author, const std::string& description,
                     const std::string& software, const std::string& title,
                     const PngProgressHandler& on_progress) {
  TPngImage image;
  PrepareForSave(image, bitmap, author, description, software, title, on_progress)
      .SaveToFile(file_name);
  return true;
}

}  // namespace tessaly
