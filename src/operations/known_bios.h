#pragma once
// The BIOS builds this system knows, and the names of the BIOS types.
//
// Header-only; the names of the type numbers are BiosTypeName of the protocol object.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ostrel {

// BIOS type number of an image whose BIOS build is not known.
inline constexpr std::int32_t kBiosTypeUnknown = -1;
// BIOS type number of the fx-7400GII BIOS (it selects its own OS layout).
inline constexpr std::int32_t kBiosTypeFx7400GII = 5;

// Width of the BIOS date text (YYYY.MMDD.hhmm).
inline constexpr std::size_t kBiosDateLength = 14;

struct KnownBios {
  std::uint32_t checksum;  // the BIOS checksum stored at 0xFFFC of an image
  std::string_view date;   // the BIOS date stored at 0xFFB0 (14 characters)
  std::int32_t type;       // BIOS type number
};

// The known BIOS builds, in search order.
inline constexpr std::array<KnownBios, 11> KnownBiosTable = {{
    {0x0060DD16, "2005.0623.1652", 0},
    {0x0060DD19, "2006.0516.0942", 0},
    {0x0062DAEC, "2005.0511.1748", 4},
    {0x0060BE46, "2007.0206.1914", 1},
    {0x005E8147, "2007.1122.1619", 3},
    {0x005E8143, "2007.1211.1553", 3},
    {0x006B2CE3, "2009.0203.1852", 2},
    {0x006B2CE6, "2009.0204.0855", 2},
    {0x006B2CDE, "2009.0203.1910", 2},
    {0x006902BC, "2009.0327.1515", 5},
    {0x0058A781, "2011.0525.1010", 7},
}};

// The BIOS type of an image. The first row whose date equals the image's BIOS date decides:
// its type counts only when its checksum equals the image's too; the search never goes on
// to a later row.
inline std::int32_t FindBiosImageType(std::uint32_t bios_checksum, std::string_view bios_date) {
  for (const KnownBios& row : KnownBiosTable) {
    if (row.date == bios_date) {
      return row.checksum == bios_checksum ? row.type : kBiosTypeUnknown;
    }
  }
  return kBiosTypeUnknown;
}

}  // namespace ostrel
