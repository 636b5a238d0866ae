#pragma once
// The image repository of a folder of flash images: "IMAGEINFO.INI" records the image
// information of every checked image (one section per image file name), and two copies of
// it sorted by OS date and by BIOS date are regenerated on every registration.

#include <string>

#include "env/operation_status.h"

namespace ostrel {

inline constexpr const char* kRepositoryFileName = "IMAGEINFO.INI";
inline constexpr const char* kSortedByOsDateFileName = "IMAGEINFO_SORT_OSDATE.INI";
inline constexpr const char* kSortedByBiosDateFileName = "IMAGEINFO_SORT_BIOSDATE.INI";

// Registers an image with its information (KEY=value lines ended by CR LF): removes the
// sections of images that no longer exist, records the image in full or as a clone of an
// image with the same contents, and rewrites both sorted copies. With `list_unregistered`
// it returns the full paths (each ended by CR LF) of the ".G1S" and ".FLS" images of the
// folder that have no section yet; otherwise the empty text. File errors raise IoError.
std::string SaveImageInfo(const std::string& image_file, const std::string& image_info,
                          bool list_unregistered, TUserInterface ui);

}  // namespace ostrel
