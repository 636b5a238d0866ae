// `ostrel build PROJECT.PRJ`: runs a project script. The lines the build shows (tool
// command lines, tool output, step messages) go to standard output as they come; the last
// line says how many tools ran and failed and where the project log is. The exit status
// is 0 when the script ran to its end, also when tools failed (their exit codes are in
// the log); it is 1 when the script could not be read, a step raised an error or the build
// was stopped, and the last line on standard error then says why.

#include <iostream>
#include <memory>
#include <string>

#include "base/text.h"
#include "cli/cli_common.h"
#include "project/project.h"

namespace {

// Diagnostics lines of the build to standard output; everything else to the terminal
// user interface.
class TBuildOutput : public ostrel::TNotifier {
 public:
  explicit TBuildOutput(ostrel::cli::TTerminalUi& terminal) : terminal_(terminal) {}

  int Notify(ostrel::NotifyCode code, std::int64_t value) override { return terminal_.Notify(code, value); }
  int Notify(ostrel::NotifyCode code, const std::string& text) override {
    if (code != ostrel::nfLogLineRaw) return terminal_.Notify(code, text);
    std::cout << ostrel::ReplaceAll(text, "\r\n", "\n") << '\n';
    return 0;
  }
  void ProcessMessages() override {
    std::cout.flush();
    terminal_.ProcessMessages();
  }

 private:
  ostrel::cli::TTerminalUi& terminal_;
};

int RunBuildCommand(const std::string& script, const std::string& log_path, const ostrel::cli::TCliContext& context) {
  ostrel::cli::TTerminalUi terminal(context.TerminalOptions());
  TBuildOutput output(terminal);
  const std::string log = log_path.empty() ? ostrel::DefaultProjectLogPath() : log_path;
  std::unique_ptr<ostrel::TProject> project;
  try {
    project = std::make_unique<ostrel::TProject>(ostrel::TUserInterface{&output, &terminal}, log);
    const bool found = project->RunScript(script);
    std::cout << "Build " << (project->Stopped() ? "stopped" : "finished") << ": " << project->ToolRuns()
              << " tool runs, " << project->FailedTools() << " failed";
    if (project->FailedSteps() > 0) std::cout << ", " << project->FailedSteps() << " other steps failed";
    std::cout << "; project log: " << log << std::endl;
    if (!found) {
      std::cerr << "ostrel: the project script " << script << " does not exist: name an existing .PRJ file\n";
      return 1;
    }
    if (project->Stopped()) {
      std::cerr << "ostrel: the build was stopped; run it again to finish it (finished steps are skipped)\n";
      return 1;
    }
    return 0;
  } catch (const std::exception& error) {
    std::cout.flush();
    std::cerr << "ostrel: " << error.what();
    if (project) std::cerr << " (the project log " << log << " shows the lines before)";
    std::cerr << '\n';
    return 1;
  }
}

const ostrel::cli::TCommandRegistration registration{
    "build", "Run a project script (.PRJ): build steps with external tools, logged to the project log",
    [](CLI::App& command, ostrel::cli::TCliContext& context) {
      auto script = std::make_shared<std::string>();
      auto log = std::make_shared<std::string>();
      command.add_option("PROJECT", *script, "Project script")->required();
      command.add_option("--log", *log, "Project log file (default: the program's log file)");
      command.callback([script, log, &context] { context.exit_status = RunBuildCommand(*script, *log, context); });
    }};

}  // namespace
