// The patch interpreter: scripts from the input run against a small target in the
// scratch folder. Lines that hold "/", "\" or "%" are left out, and so are lines naming
// the target, the source or the directory, so that every file a script names lies in
// the scratch folder (the current directory while a script runs) and the harness alone
// chooses the target. File writes beyond 8 MiB fail as a full disk would.
//
// Input: the first byte chooses how the target is opened (patched in place, or made by
// copying a source over an older file of the target's name); the rest is the script.
//
// What must hold: a run ends with a result or with one of the system's errors, never
// another exception; a target made by copying exists after a run without error and,
// after a failed run, the older file of its name is still as it was and no temporary
// copy is left; the source is never changed by a copy; every report line is one line.

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "fuzz_support.h"
#include "patch/patcher.h"

namespace {

constexpr rlim_t kFileSizeLimit = 8 << 20;
const char* const kHarnessCommands[] = {"TARGETFILE", "SOURCEFILE", "DIRECTORY"};

bool Allowed(const std::string& line) {
  if (line.find_first_of("/\\%") != std::string::npos) return false;
  const std::string upper = ostrel::UpperCase(ostrel::Trim(line));
  for (const char* command : kHarnessCommands) {
    if (upper.find(command) != std::string::npos) return false;
  }
  // A harness file named anywhere may be written by the script itself.
  return upper.find("T.BIN") == std::string::npos && upper.find("S.BIN") == std::string::npos;
}

const std::vector<std::uint8_t> kSource = [] {
  std::vector<std::uint8_t> bytes(4096);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
  return bytes;
}();
const std::vector<std::uint8_t> kOlder(100, 0x0D);

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (::chdir(ostrel::fuzz::ScratchFolder().c_str()) != 0) std::abort();
  const rlimit limit{kFileSizeLimit, kFileSizeLimit};
  ::setrlimit(RLIMIT_FSIZE, &limit);
  ::signal(SIGXFSZ, SIG_IGN);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ostrel::fuzz::InputReader input(std::span(data, size));
  const bool copy = input.Byte() & 1;
  const auto rest = input.Rest();
  const std::string text(rest.begin(), rest.end());

  ostrel::fuzz::ClearScratchFolder();
  std::string script = copy ? "SOURCEFILE=s.bin\nTARGETFILE=t.bin\n" : "TARGETFILE=t.bin\n";
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (Allowed(line)) script += line + "\n";
    start = end + 1;
  }
  ostrel::fuzz::WriteFileBytes("script.psc", std::span(reinterpret_cast<const std::uint8_t*>(script.data()), script.size()));
  ostrel::fuzz::WriteFileBytes("s.bin", kSource);
  ostrel::fuzz::WriteFileBytes("t.bin", copy ? kOlder : kSource);

  bool succeeded = false;
  bool raised = false;
  {
    ostrel::TPatcher patcher;
    patcher.SetOnReport([](const std::string& text, bool) {
      FUZZ_CHECK(text.ends_with("\r\n"), text);
    });
    try {
      succeeded = patcher.RunPatchScript("script.psc");
    } catch (const ostrel::Error&) {
      raised = true;
    }
    FUZZ_CHECK(succeeded == ostrel::IsBlank(patcher.ErrorText()) || raised, patcher.ErrorText());
  }

  FUZZ_CHECK(ostrel::fuzz::ReadFileBytes("s.bin") == kSource, "the source is never changed");
  for (const std::string& name : ostrel::fuzz::ScratchEntries()) {
    // The interpreter's copy in progress is "<target>.ostrel-<pid>.tmp"; other names are
    // the script's own outputs.
    FUZZ_CHECK(name.find(".ostrel-") == std::string::npos, "a temporary copy is left: " + name);
  }
  if (copy) {
    FUZZ_CHECK(ostrel::fuzz::FileExists("t.bin"), "the target's name stays taken");
    if (raised || !succeeded) {
      FUZZ_CHECK(ostrel::fuzz::ReadFileBytes("t.bin") == kOlder, "a failed run keeps the older file");
    }
  }
  return 0;
}
