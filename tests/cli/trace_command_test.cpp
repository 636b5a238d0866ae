// `ostrel --trace FILE`: a link command writes every packet into FILE, with time,
// direction, hex and readable form, for a bug report.

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/program_run.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace {

using ostrel::testing::ProgramRun;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(TraceCommand, EveryPacketOfASessionIsTracedBothWays) {
  ostrel::testing::TemporaryFolder folder;
  for (const char* order : {"--trace t.txt info --simulate", "info --simulate=serial --trace t.txt"}) {
    const ProgramRun r = ostrel::testing::RunProgramIn(folder.Path(), OSTREL_PROGRAM, order);
    ASSERT_EQ(r.status, 0) << order << "\n" << r.err;
    const std::vector<std::string> lines = Lines(ostrel::testing::ReadFileText(folder / "t.txt"));
    ASSERT_GE(lines.size(), 5u) << order;
    EXPECT_TRUE(lines[0].starts_with("# ostrel packet trace, started ")) << lines[0];
    const std::regex line_form(R"(\+\d{4}\.\d{6} (PC>calc|calc>PC|dropped) +\d+ bytes: [0-9A-F]{2}( [0-9A-F]{2})*  \|.*\|)");
    for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_TRUE(std::regex_match(lines[i], line_form)) << lines[i];
    // The session opens with the check packet, which the calculator acknowledges.
    EXPECT_NE(lines[1].find(" PC>calc     6 bytes: 05 30 30 30 37 30  |<05>00070|"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(" calc>PC     6 bytes: 06 30 30 30 37 30  |<06>00070|"), std::string::npos) << lines[2];
    // The device information answer comes whole, as one packet with its data field.
    bool device_info = false;
    for (const std::string& line : lines) device_info |= line.find(" calc>PC ") != std::string::npos &&
                                                         line.find("|<06>021") != std::string::npos;
    EXPECT_TRUE(device_info) << order;
  }
}

TEST(TraceCommand, ATraceFileThatCannotBeCreatedEndsTheCommandWithTheReason) {
  ostrel::testing::TemporaryFolder folder;
  const ProgramRun r =
      ostrel::testing::RunProgramIn(folder.Path(), OSTREL_PROGRAM, "--trace no/such/folder/t.txt info --simulate");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ostrel::testing::LastLine(r.err),
            "ostrel: Cannot create the trace file no/such/folder/t.txt: No such file or directory; name another file");
}

}  // namespace
