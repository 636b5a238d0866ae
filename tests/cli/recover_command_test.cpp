// `ostrel recover` and `ostrel upload-run` as a user runs them: the built program against
// its own simulated calculator, without a terminal. The exit status is 0 only when the
// flash was rewritten completely (upload-run: the program was started), and a failed run
// ends with a line on standard error that says why.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fxsim/models.h"
#include "fxsim/simulator.h"
#include "imagegen/image_generator.h"
#include "protocol/program_file.h"
#include "refused_images.h"
#include "support/program_run.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace {

using ostrel::testing::LastLine;
using ostrel::testing::ReadFileText;

class RecoverCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ostrel::WriteImageFile(ostrel::GenerateTestProgram(), File("helper.bin"));
    ostrel::WriteTestImage({}, File("os.fls"));
  }
  std::string File(const std::string& name) const { return folder_.File(name); }

  // An fx-9860GII with another flash whose ID fits os.fls; its flash erases and writes in a
  // millisecond and it restarts in 0.2 s, so that a whole rewrite stays short.
  static fxsim::SimConfig QuickCalculator() {
    fxsim::SimConfig config = fxsim::ConfigFor(fxsim::CalculatorModelNamed("fx-9860GII"));
    ostrel::TestImageSpec old_flash;
    old_flash.size = 0x400000;
    old_flash.seed = 99;
    config.flash = ostrel::GenerateTestImage(old_flash);
    config.program.erase_ms = 1;
    config.program.write_ms = 1;
    config.program.restart_ms = 200;
    return config;
  }

  // Runs the program with its own settings file and `arguments`, standard input from
  // /dev/null.
  ostrel::testing::ProgramRun Run(const std::string& arguments) const {
    return ostrel::testing::RunProgramIn(folder_.Path(), OSTREL_PROGRAM, "'IF=" + File("settings.INI") + "' " + arguments);
  }

  ostrel::testing::TemporaryFolder folder_;
};

TEST_F(RecoverCommandTest, QuestionsDecideBetweenRewriteAndCancel) {
  // The simulated calculator runs its OS, so the recovery restarts it into its boot code and
  // asks whether the OS ERROR screen shows. Without a terminal and without --yes every
  // question is answered No.
  const std::string recover = "recover '" + File("os.fls") + "' --helper '" + File("helper.bin") + "' --simulate";
  const ostrel::testing::ProgramRun declined = Run(recover);
  EXPECT_EQ(declined.status, 1);
  EXPECT_EQ(LastLine(declined.err), "ostrel: flash not rewritten: cancelled: no OS ERROR screen");

  // The same calculator, whose flash erases and writes in a millisecond and which restarts
  // in 0.2 s, so that the whole rewrite stays short.
  fxsim::Simulator simulator(QuickCalculator());
  const std::string device = simulator.StartUsb();
  const ostrel::testing::ProgramRun accepted =
      Run("recover '" + File("os.fls") + "' --helper '" + File("helper.bin") + "' --device " + device +
          " --yes --lcd-contrast 160");
  EXPECT_EQ(accepted.status, 0) << accepted.err;
  EXPECT_EQ(accepted.out, "Flash rewritten from: " + File("os.fls") + "\n");
  EXPECT_NE(ReadFileText(File("settings.INI")).find("[LCD_CONTRAST]\nANY_MACHINE=160\n"), std::string::npos)
      << "the contrast is kept as the window keeps it";
  simulator.Stop();
  const std::vector<std::uint8_t> image = ostrel::GenerateTestImage({});
  EXPECT_TRUE(std::equal(image.begin() + 0x10000, image.end(), simulator.Flash().begin() + 0x10000))
      << "the OS area holds the image";
}

TEST_F(RecoverCommandTest, EarlyEndsExitNonZeroWithTheReason) {
  struct Case {
    const char* name;
    std::string arguments;
    std::string last_line;
  };
  ostrel::testing::WriteRefusedImages(folder_);
  ostrel::WriteImageFile({}, File("empty.bin"));
  ostrel::WriteImageFile({}, File("huge.bin"));
  std::filesystem::resize_file(File("huge.bin"), std::uintmax_t{5} << 30);  // sparse
  const std::string check_failed = "ostrel: flash not rewritten: the image check failed: ";
  const Case cases[] = {
      {"missing image", "recover '" + File("none.fls") + "' --simulate",
       check_failed + File("none.fls") + ": no such file: name a flash image file (.fls, .G1S, .bin)"},
      {"folder for an image", "recover '" + File("dir.fls") + "' --simulate",
       check_failed + File("dir.fls") + ": a folder, not a file: name a flash image file (.fls, .G1S, .bin)"},
      {"damaged image", "recover '" + File("damaged.fls") + "' --simulate",
       check_failed + File("damaged.fls") + ": the OS checksum is wrong (stored 11F2A9CF, computed 11F2A9CE): the "
       "image is damaged; take a new backup or use another image"},
      {"unknown OS version", "recover '" + File("unknown.fls") + "' --simulate",
       check_failed + File("unknown.fls") + ": unknown OS version 09.99.0000 at 0x10020: the image cannot be "
       "checked or recovered (known OS versions: 01.xx.xxxx, 02.00.0000 to 03.01.0000); use an image of a known OS"},
      {"short image", "recover '" + File("short.fls") + "' --simulate",
       check_failed + File("short.fls") + ": the file is 10240 bytes (0x002800) long, too short for a flash image "
       "(a flash image is 0x200000, 0x270000 or, with the storage memory, 0x400000 bytes long); take a new backup "
       "or use another image"},
      {"no program in this build", "recover '" + File("os.fls") + "' --simulate",
       "ostrel: flash not rewritten: @@MEMFILE@@ missing! This build carries no calculator program: build it with "
       "the SuperH cross tools installed (scripts/install-deps.sh), or name a program file with --helper FILE."},
      {"unreadable program file", "recover '" + File("os.fls") + "' --helper '" + File("none.bin") + "' --simulate",
       "ostrel: flash not rewritten: " + File("none.bin") +
           " missing! The calculator program file cannot be read: name a readable one with --helper FILE or in the "
           "settings (PROGRAM, RECOVERY_HELPER)."},
      {"unreadable upload file", "upload-run '" + File("none.bin") + "' --simulate",
       "ostrel: program not started: " + File("none.bin") + " missing! The file cannot be read: check its name."},
      {"unreadable upload file, told before the calculator is looked for",
       "upload-run '" + File("none.bin") + "' --device '" + File("no-calculator-here") + "'",
       "ostrel: program not started: " + File("none.bin") + " missing! The file cannot be read: check its name."},
      {"folder to upload", "upload-run '" + File("dir.fls") + "' --simulate",
       "ostrel: program not started: " + File("dir.fls") +
           " is a folder, not a file. Name a readable program file (.BIN, .SH3, .SH4)."},
      {"folder as the calculator program", "recover '" + File("os.fls") + "' --helper '" + File("dir.fls") +
           "' --simulate",
       "ostrel: flash not rewritten: " + File("dir.fls") +
           " is a folder, not a file. The calculator program file cannot be read: name a readable one with --helper "
           "FILE or in the settings (PROGRAM, RECOVERY_HELPER)."},
      {"empty upload file", "upload-run '" + File("empty.bin") + "' --simulate",
       "ostrel: filesize 0:" + File("empty.bin") +
           ": the file is empty, and an upload sends 1 to 4294967295 bytes; name the program file itself (.BIN, "
           ".SH3, .SH4)"},
      {"upload file beyond 4 GiB", "upload-run '" + File("huge.bin") + "' --simulate",
       "ostrel: filesize too large:" + File("huge.bin") +
           ": an upload sends at most 4294967295 bytes (and the calculator's RAM holds far less); name the program "
           "file itself (.BIN, .SH3, .SH4)"},
  };
  for (const Case& c : cases) {
    if (c.last_line.find("@@MEMFILE@@ missing!") != std::string::npos && !ostrel::BuiltInProgramRecord().empty()) {
      continue;
    }
    const ostrel::testing::ProgramRun run = Run(c.arguments);
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(LastLine(run.err), c.last_line) << c.name << "\n" << run.err;
  }
}

TEST_F(RecoverCommandTest, ARefusedUploadEndsWithItsCauseAndWhatToDo) {
  struct Case {
    const char* fault;
    std::string cause;  // what the last line says after "...did not accept the upload: "
    std::string advice;
  };
  const std::string again = "; put it into receive mode again and repeat the command";
  const Case cases[] = {
      {"error:05@upload", "the calculator answered command 56 with error 05 (Memory is full)",
       "; the calculator has no room for the program where its header says to load it: upload a program built for "
       "this calculator (.BIN, .SH3, .SH4) that fits its RAM"},
      {"disconnect@upload", "the link to the calculator was lost (unplugged, or the simulator ended) while waiting "
                            "for the answer to command 56: ", again},
      {"no-answer@upload-block:2", "no answer from the calculator within 5 s to packet <02>561", again},
  };
  for (const Case& c : cases) {
    fxsim::SimConfig config;
    config.faults.push_back(fxsim::FaultSpec::Parse(c.fault));
    fxsim::Simulator simulator(std::move(config));
    const std::string device = simulator.StartUsb();
    const ostrel::testing::ProgramRun run = Run("upload-run '" + File("helper.bin") + "' --device " + device);
    simulator.Stop();
    const std::string last = LastLine(run.err);
    EXPECT_EQ(run.status, 1) << c.fault;
    EXPECT_TRUE(last.starts_with("ostrel: program not started: the calculator did not accept the upload: " + c.cause))
        << c.fault << "\n" << run.err;
    EXPECT_TRUE(last.ends_with(c.advice)) << c.fault << "\n" << last;
  }
}

TEST_F(RecoverCommandTest, AFlashLeftPartlyErasedEndsWithHowToRecoverIt) {
  fxsim::SimConfig config = QuickCalculator();
  config.faults.push_back(fxsim::FaultSpec::Parse("disconnect@erase:0x10"));
  fxsim::Simulator simulator(std::move(config));
  const std::string device = simulator.StartUsb();
  const ostrel::testing::ProgramRun run =
      Run("--yes recover '" + File("os.fls") + "' --helper '" + File("helper.bin") + "' --device " + device);
  simulator.Stop();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(LastLine(run.err),
            "ostrel: flash not rewritten: the erase of sector A0100000 was not acknowledged; the flash is now "
            "incomplete: reset the calculator, put it into receive mode (the boot code's OS update mode) and run the "
            "same recover command again")
      << run.err;
}

TEST_F(RecoverCommandTest, AQuestionDeclinedWhileTheProgramRunsSaysToResetTheCalculator) {
  // An image with the storage memory, without --include-smem: the truncation question
  // comes once the recovery program runs on the calculator, and no terminal answers it.
  ostrel::TestImageSpec large;
  large.size = 0x400000;
  ostrel::WriteTestImage(large, File("large.fls"));
  const ostrel::testing::ProgramRun run =
      Run("recover '" + File("large.fls") + "' --helper '" + File("helper.bin") + "' --simulate");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(LastLine(run.err),
            "ostrel: flash not rewritten: the truncation of the image was declined; the recovery program is still "
            "running on the calculator and answers no link command until the calculator is reset: press its RESTART "
            "button (or the P button on the back), then put it into receive mode again")
      << run.err;
}

TEST_F(RecoverCommandTest, TheContrastIsStoredOnlyWhenInRangeAndTheRecoveryStarts) {
  struct Case {
    const char* name;
    std::string arguments;
    int status;
    std::string said;  // on standard error
  };
  const std::string recover = "recover '" + File("os.fls") + "' --helper '" + File("helper.bin") + "' --simulate";
  const Case cases[] = {
      {"below the range", recover + " --lcd-contrast 31", 2, "--lcd-contrast: Value 31 not in range 32 to 240"},
      {"above the range", recover + " --lcd-contrast 500", 2, "--lcd-contrast: Value 500 not in range 32 to 240"},
      {"an end before the recovery", "--trace '" + File("none/trace.txt") + "' " + recover + " --lcd-contrast 160",
       1, "ostrel: "},
  };
  for (const Case& c : cases) {
    const ostrel::testing::ProgramRun run = Run(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.name << "\n" << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << c.name << "\n" << run.err;
    EXPECT_FALSE(std::filesystem::exists(File("settings.INI")) &&
                 ReadFileText(File("settings.INI")).find("LCD_CONTRAST") != std::string::npos)
        << c.name << ": the settings hold a contrast of a recovery that did not start";
  }
}

TEST_F(RecoverCommandTest, UploadRunStartsTheProgram) {
  const ostrel::testing::ProgramRun run = Run("upload-run '" + File("helper.bin") + "' --simulate");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Uploaded and started: " + File("helper.bin") + "\n");
}

}  // namespace
