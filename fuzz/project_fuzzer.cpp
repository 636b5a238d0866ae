// The project interpreter: project scripts from the input run in a folder of the scratch
// folder, with a tool runner in place that starts nothing (every second tool "fails").
//
// So that every file a script names lies in the scratch folder, lines that hold "..",
// "\", "%" or a "/" anywhere but right after $(PROJECTDIR) or $(SDKDIR), or that name
// those two otherwise, are left out; file writes beyond 8 MiB fail as a full disk would.
//
// What must hold: a build ends with a result or with one of the system's errors, never
// another exception; it counts exactly the tools it asked for and the failures they
// reported; its nesting depth is back where it began.

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "fuzz_support.h"
#include "project/project.h"

namespace {

constexpr rlim_t kFileSizeLimit = 8 << 20;

bool Allowed(std::string line) {
  for (const char* root : {"$(PROJECTDIR)/", "$(SDKDIR)/"}) line = ostrel::ReplaceAll(line, root, "");
  if (line.find_first_of("/\\%") != std::string::npos || line.find("..") != std::string::npos) return false;
  const std::string upper = ostrel::UpperCase(line);
  return upper.find("PROJECTDIR") == std::string::npos && upper.find("SDKDIR") == std::string::npos;
}

std::string ProjectFolder() { return ostrel::fuzz::ScratchFile("sdk/project"); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const rlimit limit{kFileSizeLimit, kFileSizeLimit};
  ::setrlimit(RLIMIT_FSIZE, &limit);
  ::signal(SIGXFSZ, SIG_IGN);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ostrel::fuzz::ClearScratchFolder();
  std::filesystem::create_directories(ProjectFolder());
  if (::chdir(ProjectFolder().c_str()) != 0) std::abort();

  std::string script;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (Allowed(line)) script += line + "\n";
    start = end + 1;
  }
  const std::string script_path = ProjectFolder() + "/fuzz.PRJ";
  ostrel::fuzz::WriteFileBytes(script_path, std::span(reinterpret_cast<const std::uint8_t*>(script.data()), script.size()));

  int tools = 0;
  int failures = 0;
  ostrel::TProject project({}, ostrel::fuzz::ScratchFile("project.LOG"));
  project.SetToolRunner([&](const std::string&, const std::string&, const std::vector<std::string>*,
                            const ostrel::TUserInterface&) {
    ostrel::TToolRun run;
    run.exit_code = static_cast<std::uint32_t>(tools++ % 2);
    failures += static_cast<int>(run.exit_code);
    return run;
  });
  try {
    project.RunScript(script_path);
  } catch (const ostrel::Error&) {
    // an unreadable include, an expansion loop, a patch run's exception, a full disk
  }
  FUZZ_CHECK(project.ToolRuns() == tools, std::to_string(project.ToolRuns()));
  FUZZ_CHECK(project.FailedTools() == failures, std::to_string(project.FailedTools()));
  FUZZ_CHECK(project.Depth() == -1, std::to_string(project.Depth()));
  return 0;
}
