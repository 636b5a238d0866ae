// The run loop of the patch interpreter: the report of a run, lines that are no
// command, variables, and what becomes of the target when a run fails.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "base/error.h"
#include "base/paramlist.h"
#include "patch/patcher.h"
#include "patch/script_numbers.h"
#include "patch_fixture.h"

namespace ostrel::testing {
namespace {

using ::testing::ElementsAre;

TEST_F(PatchTest, EmptyScriptReportsStartCountAndReady) {
  EXPECT_TRUE(Run(""));
  EXPECT_THAT(Reports(), ElementsAre("Start! script.psc", "0 lines processed.\r\nReady! script.psc <time>"));
}

TEST_F(PatchTest, MissingTargetWithoutSourceStopsAtTheFirstLine) {
  EXPECT_FALSE(Run("TARGETFILE=@DIR@x.bin\r\nGOTO=0\r\n"));
  EXPECT_THAT(Reports(), ElementsAre("Start! script.psc",
                                     "Error at lineNo: 1\r\nTarget missing and Source not defined!\r\n@DIR@x.bin\r\n"
                                     "Ready! script.psc <time>"));
  EXPECT_EQ(patcher_->ErrorText(), "Target missing and Source not defined!\r\n" + Dir() + "x.bin");
}

}  // namespace
}  // namespace ostrel::testing
