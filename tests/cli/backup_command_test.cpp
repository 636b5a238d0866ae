// The link commands of the `ostrel` program (backup-flash, backup-ram, info) run as a user
// runs them: the built program against its own simulated calculator, without a terminal.

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cstdio>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "env/operation_status.h"
#include "fxsim/simulator.h"
#include "imagegen/image_generator.h"
#include "operations/image_check.h"
#include "support/program_run.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace {

using ostrel::testing::LastLine;
using ostrel::testing::ReadFileText;

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

class CommandTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name) const { return folder_.File(name); }

  // Runs the program with `arguments` (words without quotes or spaces), standard input
  // from /dev/null.
  RunResult Run(const std::string& arguments) const {
    const std::string out = File("stdout.txt");
    const std::string err = File("stderr.txt");
    const std::string command =
        std::string("'") + OSTREL_PROGRAM + "' " + arguments + " </dev/null >'" + out + "' 2>'" + err + "'";
    RunResult result;
    const int raw = std::system(command.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadFileText(out);
    result.err = ReadFileText(err);
    return result;
  }

  // Starts the program like Run, without waiting for it; returns its process id.
  pid_t Start(const std::string& arguments) const {
    const std::string command = std::string("exec '") + OSTREL_PROGRAM + "' " + arguments + " </dev/null >'" +
                                File("stdout.txt") + "' 2>'" + File("stderr.txt") + "'";
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid;
  }

  ostrel::testing::TemporaryFolder folder_;
};

ostrel::ImageCheckResult Check(const std::string& file) {
  std::string info;
  std::int32_t type = -1;
  return ostrel::FXCheckImage(file, 0, nullptr, false, false, nullptr, info, type, nullptr, {});
}

struct FlashCommandCase {
  const char* name;
  const char* options;
  std::uintmax_t size;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const FlashCommandCase& c, std::ostream* os) { *os << c.name; }

class FlashCommandTest : public CommandTest, public ::testing::WithParamInterface<FlashCommandCase> {};

TEST_P(FlashCommandTest, WritesAVerifiedImage) {
  const std::string file = File("flash.bin");
  const RunResult r = Run("backup-flash " + file + " " + GetParam().options);

  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(std::filesystem::file_size(file), GetParam().size);
  EXPECT_EQ(Check(file), ostrel::icrOK);
  EXPECT_NE(r.out.find("Transfer-speed: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Backup: " + file + " (" + std::to_string(GetParam().size) + " of "), std::string::npos);
  EXPECT_NE(r.out.find("Verification: OK\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("HardwareIdentifier: "), std::string::npos) << "the device information is shown";
}

INSTANTIATE_TEST_SUITE_P(Links, FlashCommandTest,
                         ::testing::Values(FlashCommandCase{"Usb", "--simulate", 0x270000},
                                           FlashCommandCase{"Serial", "--simulate=serial", 0x270000},
                                           FlashCommandCase{"StorageMemory", "--simulate --include-smem", 0x400000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandTest, AnImageThatFailsItsCheckNeverReplacesAnOlderBackup) {
  ostrel::TestImageSpec spec;
  spec.size = 0x400000;
  spec.correct_checksum = false;
  ostrel::WriteTestImage(spec, File("damaged-flash.bin"));
  fxsim::SimConfig config;
  config.flash = ostrel::GenerateTestImage(spec);
  fxsim::Simulator simulator(std::move(config));
  const std::string device = simulator.StartUsb();
  const std::string file = File("flash.bin");
  ostrel::WriteImageFile({'o', 'l', 'd'}, file);

  const RunResult r = Run("backup-flash " + file + " --device " + device);

  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFileText(file), "old");
  EXPECT_EQ(std::filesystem::file_size(file + ".unverified"), 0x270000u);
  EXPECT_NE(r.out.find("Verification: CHECKSUM_ERROR\n"), std::string::npos) << r.out;
  const std::string last = LastLine(r.err);
  EXPECT_TRUE(last.starts_with("ostrel: the flash image read from the calculator failed its check: the OS checksum is "
                               "wrong (stored "))
      << r.err;
  EXPECT_NE(last.find("; it was saved as " + file + ".unverified and " + file + " was left as it was; repeat the "
                      "backup"),
            std::string::npos)
      << last;
}

TEST_F(CommandTest, ReadOnlyTargetIsKeptWithoutATerminalUnlessYesIsGiven) {
  const std::string file = File("kept.bin");
  ostrel::testing::WriteFileText(file, "old");
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);

  const RunResult declined = Run("backup-flash " + file + " --simulate");
  EXPECT_NE(declined.status, 0);
  EXPECT_EQ(ReadFileText(file), "old");
  EXPECT_NE(declined.err.find("is readonly!"), std::string::npos) << declined.err;

  const RunResult accepted = Run("--yes backup-flash " + file + " --simulate");
  EXPECT_EQ(accepted.status, 0) << accepted.err;
  EXPECT_EQ(std::filesystem::file_size(file), 0x270000u);
}

TEST_F(CommandTest, RamBackupWritesTheWholeRam) {
  const std::string file = File("memory.RAM");
  const RunResult r = Run("backup-ram " + file + " --simulate");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(std::filesystem::file_size(file), 0x80000u);
  EXPECT_EQ(r.out.find("Verification"), std::string::npos);
}

TEST_F(CommandTest, InfoPrintsTheDeviceInformation) {
  const RunResult r = Run("info --simulate");
  ASSERT_EQ(r.status, 0) << r.err;
  // The OS fields are those of the OS in the simulated calculator's flash.
  // The product ID is the calculator ID in the flash; the OS size that of the OS area in KiB.
  const char* labels[] = {"HardwareIdentifier: Gy363006", "ProcessorIdentifier: RENESAS SH735501",
                          "FlashROMcapacity: 00004096",   "OScodeversion: 02.00.0000",
                          "OScodeoffset: 00010000",       "OScodesize: 00002432",
                          "Protocolversion: 7.00",        "ProductID1: OSTREL01",
                          "NamesetbyuserinSYSTEM: OSTREL"};
  for (const char* label : labels) EXPECT_NE(r.out.find(std::string(label) + "\n"), std::string::npos) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 16);
  EXPECT_EQ(r.out.find('\r'), std::string::npos);
}

TEST_F(CommandTest, CtrlCEndsTheBackupThroughItsCleanUp) {
  const std::string file = File("flash.bin");
  const pid_t pid = Start("backup-flash " + file + " --simulate=serial");
  ASSERT_GT(pid, 0);
  // Interrupt once the transfer is under way (generous limit for a loaded machine).
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ReadFileText(File("stderr.txt")).find("Progress: 10%") == std::string::npos &&
         std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  int raw = 0;
  ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
  const std::string err = ReadFileText(File("stderr.txt"));

  ASSERT_TRUE(WIFEXITED(raw)) << err;
  EXPECT_EQ(WEXITSTATUS(raw), 130) << err;
  EXPECT_FALSE(std::filesystem::exists(file)) << "only a complete image takes the target's name";
  const std::string partial = file + ".partial";
  const auto held = std::filesystem::file_size(partial);
  EXPECT_LT(held, 0x270000u);
  EXPECT_NE(err.find("Backup incomplete: " + partial + "\nholds " + std::to_string(held) + " of 2555904 bytes."),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("Warning: Manually cancelled!"), std::string::npos) << err;
  EXPECT_NE(err.find("You should reset your calculator!"), std::string::npos) << "stopped within the transfer";
  EXPECT_NE(ReadFileText(File("stdout.txt")).find("Verification: FILESIZE_ERROR"), std::string::npos);
}

TEST_F(CommandTest, CtrlCWhileWaitingForTheCalculatorSaysThatTheUserStoppedIt) {
  fxsim::SimConfig config;
  config.receive_mode_delay_ms = -1;  // never takes the link
  fxsim::Simulator simulator(std::move(config));
  const pid_t pid = Start("info --device " + simulator.StartUsb());
  ASSERT_GT(pid, 0);
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ReadFileText(File("stderr.txt")).find("Waiting for the calculator") == std::string::npos &&
         std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  int raw = 0;
  ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
  const std::string err = ReadFileText(File("stderr.txt"));
  ASSERT_TRUE(WIFEXITED(raw)) << err;
  EXPECT_EQ(WEXITSTATUS(raw), 130) << err;
  EXPECT_TRUE(LastLine(err).starts_with("ostrel: stopped (Ctrl-C): no device information")) << err;
}

// A device path that can never reach a calculator ends the command at once, with the
// cause and the remedy as the last line, and leaves an older file at the target alone.
TEST_F(CommandTest, DevicePathsThatCanNeverWorkEndAtOnceWithTheCause) {
  const std::string regular = File("regular");
  ostrel::testing::WriteFileText(regular, "");
  std::filesystem::create_directory(File("folder"));
  const auto bind_socket = [](const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path.c_str());
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0) << path;
    return fd;
  };
  // A socket whose program has ended: the file stays, nobody listens. Another program's
  // socket of the same name elsewhere stays open meanwhile, as a second simulator's would.
  const std::string stale = File("usb");
  ::close(bind_socket(stale));
  std::filesystem::create_directory(File("other"));
  const int other = bind_socket(File("other/usb"));
  ASSERT_EQ(::listen(other, 1), 0);
  const struct {
    std::string path;
    std::string cause;
  } cases[] = {
      {regular, "it is a regular file, neither a device node nor a socket. Name the calculator's node"},
      {File("folder"), "it is a folder, neither a device node nor a socket."},
      {"/dev/null", "it is neither a USB device node nor a terminal."},
      {stale, "is a socket that no program serves (left behind by a simulator that ended): start the simulator "
              "again, or remove the file."},
  };
  const std::string target = File("older.bin");
  ostrel::testing::WriteFileText(target, "an older backup");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const RunResult info = Run("info --device " + c.path);
    EXPECT_EQ(info.status, 1);
    const std::string last = LastLine(info.err);
    EXPECT_TRUE(last.starts_with("ostrel: no device information from the calculator: no session with the "
                                 "calculator: USB device " + c.path))
        << info.err;
    EXPECT_NE(last.find(c.cause), std::string::npos) << last;

    const RunResult backup = Run("backup-flash " + target + " --device " + c.path);
    EXPECT_EQ(backup.status, 1);
    EXPECT_TRUE(LastLine(backup.err).starts_with("ostrel: no backup made: no session with the calculator: USB device"))
        << backup.err;
    EXPECT_EQ(ReadFileText(target), "an older backup");
  }
  ::close(other);
}

// An error answer that carries data ends the command with "Error: " and the code; the last
// line says what the code means and what to do, and an older file at the target is kept.
TEST_F(CommandTest, ErrorAnswerWithDataEndsWithItsMeaningAsTheLastLine) {
  const struct {
    const char* fault;
    const char* command;  // the older file's path follows where the command writes one
    const char* meaning;
  } cases[] = {
      {"error+data:04@check", "info", "error 04 (Overwrite impossible/requested file does not exist)"},
      {"error+data:05@request", "backup-ram", "error 05 (Memory is full)"},
      {"error+data:01@block:3", "backup-flash", "error 01 (Resend request)"},
  };
  const std::string target = File("older.bin");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    ostrel::testing::WriteFileText(target, "an older backup");
    fxsim::SimConfig config;
    config.faults.push_back(fxsim::FaultSpec::Parse(c.fault));
    fxsim::Simulator simulator(std::move(config));
    const std::string socket = simulator.StartUsb();
    const std::string file = std::string(c.command) == "info" ? "" : " " + target;
    const RunResult r = Run(std::string(c.command) + file + " --device " + socket);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(LastLine(r.err), std::string("ostrel: Error: ") + std::string(c.fault).substr(11, 2) +
                                   ": the calculator ended the transfer with " + c.meaning +
                                   "; put it into receive mode again and repeat the command")
        << r.err;
    EXPECT_EQ(ReadFileText(target), "an older backup");
  }
}

// A read-out that ends before its first block leaves no file, and no message names one.
TEST_F(CommandTest, ABackupThatReadNothingNamesNoFile) {
  fxsim::SimConfig config;
  config.faults.push_back(fxsim::FaultSpec::Parse("error:05@block:1"));
  fxsim::Simulator sim(config);
  const std::string file = File("none.RAM");
  const RunResult r = Run("backup-ram " + file + " --device " + sim.StartUsb());
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("Backup: no file written (0 of 524288 bytes)"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Backup incomplete: no file was written (0 of 524288 bytes read)."), std::string::npos) << r.err;
  EXPECT_EQ((r.out + r.err).find(".partial"), std::string::npos) << r.out << r.err;
  EXPECT_TRUE(LastLine(r.err).ends_with("; " + file + " was not created")) << r.err;
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_FALSE(std::filesystem::exists(file + ".partial"));
}

// A backup the link breaks off says what became of the target: an older file there is
// unchanged, and a target that did not exist is not claimed to be kept.
TEST_F(CommandTest, AnIncompleteBackupSaysWhatBecameOfTheTarget) {
  for (const bool existed : {false, true}) {
    SCOPED_TRACE(existed ? "older file at the target" : "no file at the target");
    fxsim::SimConfig config;
    config.faults.push_back(fxsim::FaultSpec::Parse("error:05@block:5"));
    fxsim::Simulator sim(config);
    const std::string device = sim.StartUsb();
    const std::string file = File(existed ? "kept.RAM" : "new.RAM");
    if (existed) ostrel::testing::WriteFileText(file, "older backup");
    const RunResult r = Run("backup-ram " + file + " --device " + device);
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string last = LastLine(r.err);
    EXPECT_TRUE(last.starts_with("ostrel: backup incomplete: ")) << last;
    EXPECT_TRUE(last.ends_with("; the 1024 bytes read are in " + file + ".partial; " + file +
                               (existed ? " was not changed" : " was not created")))
        << last;
    if (existed) {
      EXPECT_EQ(ReadFileText(file), "older backup");
    } else {
      EXPECT_FALSE(std::filesystem::exists(file));
    }
  }
}

// The last line explains a sync error and a read-out the calculator ended early.
TEST_F(CommandTest, LinkFailuresAreExplainedOnTheLastLine) {
  const struct {
    const char* fault;
    std::size_t ram_size;
    std::string last_line;
  } cases[] = {
      {"no-roleswap", 0x400,
       "ostrel: sync error: the calculator sent more than the 4 blocks it announced, and no role swap; put it "
       "into receive mode again and repeat the command"},
      {"", 0x400,
       "ostrel: backup incomplete: the calculator ended the read-out after 1024 of the 524288 bytes of a complete "
       "image (4 blocks); the 1024 bytes read are in " + File("r.RAM") + ".partial; " + File("r.RAM") +
           " was not created"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    fxsim::SimConfig config;
    config.ram = fxsim::GeneratePattern(c.ram_size, 7);
    if (*c.fault) config.faults.push_back(fxsim::FaultSpec::Parse(c.fault));
    fxsim::Simulator sim(config);
    const RunResult r = Run("backup-ram " + File("r.RAM") + " --device " + sim.StartUsb());
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(LastLine(r.err), c.last_line) << r.err;
    std::filesystem::remove(File("r.RAM.partial"));
  }
}

TEST_F(CommandTest, CablesExcludeEachOther) {
  const RunResult r = Run("info --simulate --serial /dev/null");
  EXPECT_EQ(r.status, 2) << r.err;
}

}  // namespace
