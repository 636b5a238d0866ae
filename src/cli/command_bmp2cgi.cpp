// `ostrel bmp2cgi SPEC`: converts a 92x64 bitmap (8-bit palette or 24-bit colour) into a
// CGI picture. SPEC is the bitmap, optionally followed by ";" and the picture's path;
// without one the picture is the bitmap's name in upper case with ".BMP" turned into
// ".CGI", beside it. The exit status is 0 only when the picture was written.

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "base/path_map.h"
#include "cli/cli_common.h"
#include "imaging/bmp_to_cgi.h"

namespace {

int RunBmp2CgiCommand(const std::string& spec) {
  const ostrel::TCgiSpec parts = ostrel::ParseCgiSpec(spec);
  if (ostrel::ConvertBmpToCgi(spec)) {
    std::cout << "Written: " << parts.target << '\n';
    return 0;
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(ostrel::MapScriptPath(parts.source), ec)) {
    std::cerr << "ostrel: " << parts.source << " does not exist: name an existing bitmap file\n";
  } else if (std::filesystem::equivalent(ostrel::MapScriptPath(parts.source), ostrel::MapScriptPath(parts.target),
                                         ec)) {
    std::cerr << "ostrel: the picture would replace the bitmap itself: give the picture's path after \";\"\n";
  } else {
    std::cerr << "ostrel: " << parts.source
              << " is not a 92x64 bitmap with an 8-bit palette (6966 bytes) or 24-bit colours (17720 bytes): "
                 "nothing was written; save the picture in one of these two forms\n";
  }
  return 1;
}

const ostrel::cli::TCommandRegistration registration{
    "bmp2cgi", "Convert a 92x64 bitmap (8-bit palette or 24-bit) into a CGI picture",
    [](CLI::App& command, ostrel::cli::TCliContext& context) {
      auto spec = std::make_shared<std::string>();
      command.add_option("SPEC", *spec, "Bitmap file, optionally followed by \";\" and the picture's path")
          ->required();
      command.callback([spec, &context] { context.exit_status = RunBmp2CgiCommand(*spec); });
    }};

}  // namespace
