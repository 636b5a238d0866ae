// `ostrel bugfix SCRIPT`: applies a patch script in console mode. The script's report
// lines go to standard output, the summary last. The exit status is 0 only when the run
// ended without an error; otherwise the last line, on standard error, says where the
// script stopped and why.

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "cli/cli_common.h"
#include "patch/fx9860g_file.h"

namespace {

std::string ScriptName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Advice for the exceptions a script raises most often.
std::string Advice(const std::string& text) {
  if (text == "TargetFile not open") return ": a TARGETFILE line must open the target before this line";
  if (text.starts_with("Not a number") || text.starts_with("Number beyond 32 bits")) {
    return ": write the number in decimal or with a hex prefix ($, 0x, x)";
  }
  return {};
}

int RunBugfixCommand(const std::string& script) {
  if (script.empty()) {
    std::cerr << "ostrel: no script was named: name the patch script (.PSC) to apply\n";
    return 1;
  }
  const ostrel::TFX9860GFile bugfix(script);
  int line_no = 0;
  std::string error_text;
  try {
    if (bugfix.RunBugfix({}, true, &line_no, &error_text)) return 0;
  } catch (const std::exception& error) {
    std::cout.flush();
    std::cerr << "ostrel: " << error.what();
    if (line_no > 0) std::cerr << " (line " << line_no << " of " << ScriptName(script) << ")";
    std::cerr << Advice(error.what()) << '\n';
    return 1;
  }
  std::cout.flush();
  // The error as the report showed it, on one line: its text, then the names it lists.
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= error_text.size()) {
    const std::size_t end = std::min(error_text.find('\n', start), error_text.size());
    const std::string line = ostrel::Trim(error_text.substr(start, end - start));
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  std::string error = lines.empty() ? std::string("an error ended it") : lines.front();
  for (std::size_t i = 1; i < lines.size(); ++i) error += (i == 1 ? " (" : ", ") + lines[i];
  if (lines.size() > 1) error += ")";
  std::cerr << "ostrel: the script stopped at line " << line_no << " of " << ScriptName(script) << ": " << error
            << "; a target made by copying was not written, a target patched in place keeps what the lines "
               "before did\n";
  return 1;
}

const ostrel::cli::TCommandRegistration registration{
    "bugfix", "Apply a patch script (.PSC) to its target file; the report goes to standard output",
    [](CLI::App& command, ostrel::cli::TCliContext& context) {
      auto script = std::make_shared<std::string>();
      command.add_option("SCRIPT", *script, "Patch script")->required();
      command.callback([script, &context] { context.exit_status = RunBugfixCommand(*script); });
    }};

}  // namespace
