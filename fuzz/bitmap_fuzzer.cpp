// The bitmap conversion: the input is the bitmap file; it is converted over an older
// picture of the target's name.
//
// What must hold, decoded here once more from the two bitmap forms (8 bits with a colour
// table, 24 bits; 92x64 pixels stored bottom row first): a file with the header of a form
// and all its pixels converts, and every pixel of the picture is the RGB565 value of the
// pixel it comes from; a file with the header of a form but fewer pixels raises an I/O
// error; any other file converts to nothing. When nothing converts the older picture is
// still as it was.

#include <string>
#include <vector>

#include "base/error.h"
#include "fuzz_support.h"
#include "imaging/bmp_to_cgi.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Field(const Bytes& file, std::size_t offset) {
  if (file.size() < offset + 4) return 0;
  return file[offset] | file[offset + 1] << 8 | file[offset + 2] << 16 | static_cast<std::uint32_t>(file[offset + 3]) << 24;
}

bool HasHeaderOf(const Bytes& file, const ostrel::TBitmapForm& form) {
  return file.size() >= form.header_size && Field(file, 2) == form.file_size && Field(file, 22) == 64 &&
         Field(file, 34) == form.image_size;
}

// Blue, green, red of a pixel (stored row, column).
std::array<std::uint8_t, 3> Pixel(const Bytes& file, const ostrel::TBitmapForm& form, std::size_t row, std::size_t column) {
  const std::size_t at = form.header_size + row * form.row_size + column * form.pixel_size;
  const std::size_t colour = form.pixel_size == 1 ? 54 + 4 * static_cast<std::size_t>(file[at]) : at;
  return {file[colour], file[colour + 1], file[colour + 2]};
}

const Bytes kOlder(100, 0x42);

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes file(data, data + size);
  ostrel::fuzz::ClearScratchFolder();
  const std::string source = ostrel::fuzz::ScratchFile("in.bmp");
  const std::string target = ostrel::fuzz::ScratchFile("out.cgi");
  ostrel::fuzz::WriteFileBytes(source, file);
  ostrel::fuzz::WriteFileBytes(target, kOlder);

  const ostrel::TBitmapForm* form = HasHeaderOf(file, ostrel::kBitmap8)    ? &ostrel::kBitmap8
                                    : HasHeaderOf(file, ostrel::kBitmap24) ? &ostrel::kBitmap24
                                                                           : nullptr;
  const bool complete = form && file.size() >= form->header_size + form->row_size * 64;
  bool converted = false;
  try {
    converted = ostrel::ConvertBmpToCgi(source + ";" + target);
  } catch (const ostrel::IoError& error) {
    FUZZ_CHECK(form && !complete, error.Text());
    FUZZ_CHECK(ostrel::fuzz::ReadFileBytes(target) == kOlder, "a failed conversion keeps the older picture");
    return 0;
  }
  FUZZ_CHECK(converted == (form != nullptr), "converted " + std::to_string(converted));
  FUZZ_CHECK(complete || !converted, "a short bitmap converted");
  const Bytes picture = ostrel::fuzz::ReadFileBytes(target);
  if (!converted) {
    FUZZ_CHECK(picture == kOlder, "no conversion keeps the older picture");
    return 0;
  }
  FUZZ_CHECK(picture.size() == ostrel::kCgiSize, std::to_string(picture.size()));
  for (std::size_t row = 0; row < 64; ++row) {
    for (std::size_t column = 0; column < 92; ++column) {
      const auto [blue, green, red] = Pixel(file, *form, 63 - row, column);
      const std::uint16_t expected = static_cast<std::uint16_t>((red >> 3) << 11 | (green >> 2) << 5 | blue >> 3);
      const std::size_t at = 2 * (row * 92 + column);
      FUZZ_CHECK(picture[at] == expected >> 8 && picture[at + 1] == (expected & 0xFF),
                 "pixel " + std::to_string(row) + "," + std::to_string(column));
    }
  }
  return 0;
}
