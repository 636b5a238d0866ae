// The ostrel-sim program: endpoints on stdout, faults and the packet log from the command
// line, a clean end on SIGTERM.

#ifdef FXSIM_PROGRAM

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "support/temporary_folder.h"
#include "test_client.h"

extern char** environ;

namespace fxsim::testing {
namespace {

// Runs the program with its stdout on a pipe.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    args.insert(args.begin(), FXSIM_PROGRAM);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, FXSIM_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    if (rc != 0) throw std::runtime_error("posix_spawn");
    out_ = fdopen(pipe_fds[0], "r");
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    fclose(out_);
  }

  std::string ReadLine() {
    char line[512];
    if (fgets(line, sizeof(line), out_) == nullptr) return "";
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  std::string ReadAll() {
    std::string text;
    char chunk[512];
    while (fgets(chunk, sizeof(chunk), out_) != nullptr) text += chunk;
    return text;
  }
  void Signal(int number) { kill(pid_, number); }
  // The exit code, or -1 when it did not exit normally.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
};

TEST(Program, ServesBothEndpointsAndWritesTheLogOnSigterm) {
  const ostrel::testing::TemporaryFolder folder;
  const std::string log = folder.File("packets.log");
  Program program({"--usb", "--serial", "--fault", "bad-checksum@packet:2", "--log", log});
  const std::string usb = program.ReadLine();
  const std::string serial = program.ReadLine();
  ASSERT_EQ(usb.rfind("usb: ", 0), 0u) << usb;
  ASSERT_EQ(serial.rfind("serial: ", 0), 0u) << serial;
  {
    Client pc(ConnectUsb(usb.substr(5)));
    const auto answer = pc.Exchange(CheckPacket());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->Header(), "06000");
  }
  {
    Client pc(OpenSerial(serial.substr(8), 9600));
    const auto answer = pc.Exchange(CheckPacket("01"));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->bytes, ToBytes("\x06" "00071"));  // the injected wrong checksum
  }
  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(), 0);
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "usb 05 30 30 30 37 30\nserial 05 30 31 30 36 46\n");
}

// Uploads a 48-byte program loaded and started at 0x88024000, which the unit takes for its
// recovery program, and asks it for the OS/BIOS record: the record's bytes in hex, or an
// empty text when an answer did not come.
std::string OsBiosRecord(Client& pc) {
  Bytes upload = Frame(0x01, "56", ToBytes("00000030" "88024000" "88024000"));
  upload.push_back(0x00);
  if (!pc.Exchange(upload)) return "";
  Bytes data = ToBytes("00010001");
  const Bytes escaped = EscapeData(Bytes(48, 0x09));
  data.insert(data.end(), escaped.begin(), escaped.end());
  const auto block = pc.Exchange(Frame(0x02, "56", data));
  if (!block || block->Header() != "06000") return "";
  pc.Send(Frame(0x01, "76"));
  const auto ack = pc.Read();
  const auto record = pc.Read();
  return ack && record ? HexDump(UnescapeData(record->data)) : "";
}

TEST(Program, RecoveryProgramOptionsReachTheRecord) {
  Program program({"--usb", "--unknown-sh4", "--caller-code", "0", "--bios-id", "0123456789ABCDEF", "--prr", "0x2C01"});
  const std::string usb = program.ReadLine();
  ASSERT_EQ(usb.rfind("usb: ", 0), 0u) << usb;
  Client pc(ConnectUsb(usb.substr(5)));
  EXPECT_EQ(OsBiosRecord(pc),
            "00 00 00 07 09 09 09 09 80 00 1A 40 88 07 FE C0 01 23 45 67 89 AB CD EF 00 40 00 00 "
            "00 00 DF 1E 00 00 00 1F 10 30 0B 00 00 00 2C 01");
  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(), 0);
}

// A model sets what the unit reports: its device information and the OS/BIOS record its
// recovery program sends (here an SH4 fx-9750GII-2 started from its OS).
TEST(Program, ModelSetsTheDeviceInformationAndTheRecord) {
  Program program({"--usb", "--model", "fx-9750GII-2"});
  const std::string usb = program.ReadLine();
  ASSERT_EQ(usb.rfind("usb: ", 0), 0u) << usb;
  Client pc(ConnectUsb(usb.substr(5)));
  const auto info = pc.Exchange(Frame(0x01, "01"));
  ASSERT_TRUE(info);
  const Bytes record_info = UnescapeData(info->data);
  ASSERT_EQ(record_info.size(), 164u);
  EXPECT_EQ(std::string(record_info.begin(), record_info.begin() + 8), "Gy362007");
  EXPECT_EQ(std::string(record_info.begin() + 32, record_info.begin() + 48), "0000409600000512");

  const std::string fields = OsBiosRecord(pc);
  ASSERT_GT(fields.size(), 59u);
  EXPECT_EQ(fields.substr(0, 11), "00 02 00 07");  // fx-9750GII OS, GII-2 BIOS
  EXPECT_EQ(fields.substr(fields.size() - 59), "00 40 00 00 00 7E 0A 00 00 00 00 01 10 30 0B 00 00 00 2C 00");
  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(), 0);
}

TEST(Program, HelpNamesEveryOption) {
  Program program({"--help"});
  const std::string help = program.ReadAll();
  EXPECT_EQ(program.Wait(), 0);
  for (const char* option : {"--usb", "--serial", "--flash", "--ram", "--baud", "--throttle",
                             "--latency", "--receive-delay", "--fault", "--log", "SIGTERM", "--unknown-sh4",
                             "--caller-code", "--bios-type", "--bios-id", "--flash-device", "--flash-manufacturer",
                             "--pvr", "--prr", "--erase-ms", "--write-ms", "--restart-ms", "--usb-reconnect",
                             "--os-version", "--no-contrast-driver", "erase[:SECTOR]", "--model",
                             "fx-9860GII: SH3", "fx-9860G: SH3", "fx-7400GII: SH3 (SH7355), 2 MiB flash, 512 KiB RAM, 3-pin serial only",
                             "fx-9860GII-2: SH4", "fx-9750GII-2: SH4"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
}

// A 4 KiB file in `folder`, a flash size no model has.
std::string SmallFile(const ostrel::testing::TemporaryFolder& folder) {
  const std::string path = folder.File("small-flash.bin");
  std::ofstream(path, std::ios::binary) << std::string(4096, '\x5A');
  return path;
}

TEST(Program, RejectsBadArguments) {
  const ostrel::testing::TemporaryFolder folder;
  for (std::vector<std::string> args : {std::vector<std::string>{"--usb", "--fault", "explode"},
                                        std::vector<std::string>{"--serial", "--baud", "4800"},
                                        std::vector<std::string>{"--flash", "/nonexistent", "--usb"},
                                        std::vector<std::string>{"--usb", "--bios-id", "0011223344556677FF"},
                                        std::vector<std::string>{"--usb", "--pvr", "0x100000000"},
                                        std::vector<std::string>{"--usb", "--bios-type", "seven"},
                                        std::vector<std::string>{"--usb", "--fault", "stall@erase:x"},
                                        std::vector<std::string>{"--usb", "--model", "fx-7400GII"},
                                        std::vector<std::string>{"--serial", "--model", "fx-9999"},
                                        std::vector<std::string>{"--serial", "--model", "fx-7400GII", "--flash", SmallFile(folder)},
                                        std::vector<std::string>{"--serial", "--ram", "/dev/zero"},
                                        std::vector<std::string>{}}) {
    Program program(args);
    EXPECT_NE(program.Wait(), 0) << (args.empty() ? "(no arguments)" : args.back());
  }
}

}  // namespace
}  // namespace fxsim::testing

#endif
