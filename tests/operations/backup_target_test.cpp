// The names a backup writes beside its target, also for names at the longest a folder
// entry takes.

#include <gtest/gtest.h>

#include <filesystem>

#include "backup_fixture.h"
#include "operations/backup.h"
#include "operations/backup_target.h"

namespace ostrel::testing {
namespace {

struct SiblingCase {
  const char* name;
  std::string target;
  std::string suffix;
  std::string expected;
};

void PrintTo(const SiblingCase& c, std::ostream* os) { *os << c.name; }

class SiblingNameTest : public ::testing::TestWithParam<SiblingCase> {};

TEST_P(SiblingNameTest, FitsAFolderEntry) {
  const SiblingCase& c = GetParam();
  const std::string name = SiblingFileName(c.target, c.suffix);
  EXPECT_EQ(name, c.expected);
  EXPECT_LE(std::filesystem::path(name).filename().string().size(), 255u);
}

const std::string k250(250, 'a');
// 126 two-byte characters: 252 bytes; cutting at byte 246 would split one.
std::string TwoByteName() {
  std::string name;
  for (int i = 0; i < 126; ++i) name += "\xC3\xA9";
  return name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, SiblingNameTest,
    ::testing::Values(SiblingCase{"ShortNameKeepsItAll", "/tmp/x/flash.bin", ".partial", "/tmp/x/flash.bin.partial"},
                      SiblingCase{"NoFolder", "flash.bin", ".unverified", "flash.bin.unverified"},
                      SiblingCase{"LongNameShortened", "/d/" + k250, ".partial", "/d/" + std::string(247, 'a') + ".partial"},
                      SiblingCase{"FolderIsNeverShortened", "/" + k250 + "/" + k250, ".partial",
                                  "/" + k250 + "/" + std::string(247, 'a') + ".partial"},
                      SiblingCase{"CutAtACharacterBoundary", "/d/" + TwoByteName(), ".incomplete-123456",
                                  "/d/" + TwoByteName().substr(0, 236) + ".incomplete-123456"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BackupTest, ATargetNameOfTheLongestLengthIsBackedUp) {
  fxsim::Simulator sim({});
  const std::string file = File(std::string(255, 'r'));

  const TRamBackupOutcome outcome = RunRamBackup(file, OPT_USB, ui_.Ui(), UsbTarget(sim));

  EXPECT_TRUE(outcome.Succeeded()) << (ui_.dialogs.empty() ? "" : ui_.dialogs.front().text);
  EXPECT_EQ(ReadFileBytes(file), sim.Ram());
  // Nothing but the image is left in the folder.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(file).parent_path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

}  // namespace
}  // namespace ostrel::testing
