// One tool run of a build step: logged, started through the tool runner, its output
// shown less the lines the script hides.


#include "base/files.h"
#include "base/path_map.h"
#include "base/text.h"
#include "project/project.h"
#include "project/tool_runner.h"

namespace ostrel {

namespace {

struct TOutputFilter {
  std::string text;
  bool active;
};

}  // namespace

void TProject::RunTool(const std::string& command_line) {
  // After a stop no further tool starts, also not the rest of the current step.
  if (StopRequested()) return;
  const std::string working_dir = Value("WORKDIR");
  Log("--- --- ---\r\n", false);
  Log("cmd: " + command_line + "\r\n", false);
  Log("wd: " + working_dir + "\r\n", false);
  ui_.Notify(nfLogLineRaw, command_line + " " + tool_label_ + " " + IntToHex(step_counter_, 8));
  tool_label_.clear();

  const TOptionList* setenv_list = OptionList(olSetEnv);
  std::vector<std::string> environment;
  if (setenv_list) {
    std::string text = "ENV: \r\n";
    for (const std::string& entry : setenv_list->Entries()) text += entry + "\r\n";
    Log(text + "\r\n", false);
    environment = ToolEnvironment(setenv_list->Entries());
  }

  const TToolRun run = tool_runner_(command_line, working_dir, setenv_list ? &environment : nullptr, ui_);
  ++tool_runs_;
  if (run.start_error != 0 || run.exit_code != 0) ++failed_tools_;
  if (run.refused_too_long) {
    Log("Not started: the command line with its output redirection is longer than " +
            std::to_string(kMaxCommandLineLength) + " characters.\r\n",
        true);
  }
  Log("result: " + std::to_string(run.start_error) + " " + std::to_string(run.exit_code) + "\r\n", false);
  if (run.stopped) {
    stopped_ = true;
    Log("Build stopped: the tool was ended by a stop request.\r\n", true);
  }
  const std::string output = working_dir.empty() ? kToolOutputFileName : working_dir + "/" + kToolOutputFileName;
  ShowFileFiltered(output);
  ui_.ProcessMessages();
}

void TProject::ShowFileFiltered(const std::string& path) {
  std::vector<TOutputFilter> filters;
  if (const TOptionList* list = OptionList(olMessageToIgnore)) {
    for (const std::string& entry : list->Entries()) {
      const std::string filter = variables_.Expand(entry, true);
      filters.push_back({GetToken(filter, 1, ";"), UpperCase(GetToken(filter, 2, ";")) != "OFF"});
    }
  }
  TTextFile output(MapScriptPath(path), kModeRead);
  if (!output.POpen()) return;
  std::string line;
  while (output.ReadLine(line)) {
    bool hidden = false;
    for (const TOutputFilter& filter : filters) {
      if (filter.active && !filter.text.empty() && line.find(filter.text) != std::string::npos) hidden = true;
    }
    if (!hidden) ui_.Notify(nfLogLineRaw, line);
  }
}

}  // namespace ostrel
