// The recovery program on the USB-level calculator: it runs after an upload over libusb,
// and a restart or a USB re-initialisation takes the calculator off the bus and back.

#include <chrono>
#include <thread>

#include "fxsim/packet.h"
#include "link/usb_device.h"
#include "usb_fixture.h"

namespace ostrel::testing {
namespace {

constexpr std::uint32_t kLoad = 0x88024000;

fxsim::Bytes Text(const std::string& text) { return fxsim::Bytes(text.begin(), text.end()); }

// Reads one whole packet (type, subtype, flag, optional size and data, checksum).
fxsim::Bytes ReadPacket(TPort& port) {
  fxsim::Bytes packet;
  std::size_t want = 4;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (packet.size() < want && std::chrono::steady_clock::now() < deadline) {
    std::uint8_t byte = 0;
    if (port.ReadByte(byte) != 1) continue;
    packet.push_back(byte);
    if (packet.size() == 4) want = packet[3] == '1' ? 8 : 6;
    if (packet.size() == 8 && want == 8) {
      want = 10 + std::stoul(std::string(packet.begin() + 4, packet.begin() + 8), nullptr, 16);
    }
  }
  return packet;
}

std::string Header(const fxsim::Bytes& packet) {
  return packet.size() < 4 ? "" : fxsim::Hex(packet[0], 2) + std::string(packet.begin() + 1, packet.begin() + 4);
}

// Uploads a 300-byte program that starts at its load address; true when every part was
// acknowledged.
bool UploadProgram(TPort& port) {
  const fxsim::Bytes image = fxsim::GeneratePattern(300, 9);
  auto send = [&](const fxsim::Bytes& packet) {
    port.Write(packet.data(), static_cast<std::uint32_t>(packet.size()));
    return Header(ReadPacket(port)) == "06000";
  };
  if (!send(fxsim::BuildPacket(0x01, "56", Text("0000012C" + fxsim::Hex(kLoad, 8) + fxsim::Hex(kLoad, 8))))) {
    return false;
  }
  for (int n = 1; n <= 2; ++n) {
    fxsim::Bytes data = Text("0002" + fxsim::Hex(static_cast<std::uint32_t>(n), 4));
    const fxsim::Bytes part(image.begin() + (n - 1) * 256, n == 1 ? image.begin() + 256 : image.end());
    const fxsim::Bytes escaped = fxsim::Escape(part);
    data.insert(data.end(), escaped.begin(), escaped.end());
    if (!send(fxsim::BuildPacket(0x02, "56", data))) return false;
  }
  return true;
}

// The caller code of the OS/BIOS record, or -1 when the query fails.
int QueryCaller(TPort& port) {
  const fxsim::Bytes query = fxsim::BuildPacket(0x01, "76");
  port.Write(query.data(), static_cast<std::uint32_t>(query.size()));
  if (Header(ReadPacket(port)) != "06000") return -1;
  const fxsim::Bytes record = ReadPacket(port);
  if (Header(record) != "02761") return -1;
  const fxsim::Bytes raw = fxsim::Unescape(std::span(record).subspan(8, record.size() - 10));
  return raw.size() == fxsim::kOsBiosRecordSize ? raw[0] << 8 | raw[1] : -1;
}

bool WaitFor(const std::function<bool()>& condition) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

struct LeaveCase {
  const char* name;
  const char* command;  // sent to the running program; empty: none (the program re-initialises USB)
  int caller_after;     // of the program uploaded once the calculator is back; -1: still running
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const LeaveCase& c, std::ostream* os) { *os << c.name; }

class UsbProgramTest : public ::testing::TestWithParam<LeaveCase> {};

TEST_P(UsbProgramTest, TheCalculatorLeavesTheBusAndComesBack) {
  fxsim::UsbCalculatorConfig config = QuickUsbCalculator();
  config.program.restart_ms = 200;
  config.program.usb_reconnect_on_start = std::string(GetParam().command).empty();
  fxsim::UsbCalculator calculator(config);
  {
    TUSB usb{UsbConnection()};
    ASSERT_GE(usb.Handle(), 0);
    ASSERT_TRUE(UploadProgram(usb));
    if (!std::string(GetParam().command).empty()) {
      const fxsim::Bytes command = fxsim::BuildPacket(0x01, GetParam().command);
      usb.Write(command.data(), static_cast<std::uint32_t>(command.size()));
    }
    EXPECT_TRUE(WaitFor([&] { return !calculator.Plugged(); }));
  }
  ASSERT_TRUE(WaitFor([&] { return calculator.Plugged(); }));
  TUSB usb{UsbConnection()};
  ASSERT_GE(usb.Handle(), 0);
  if (GetParam().caller_after < 0) {
    EXPECT_EQ(QueryCaller(usb), 1);  // the same program, still running
    return;
  }
  EXPECT_EQ(calculator.Status().restarts, 1);
  EXPECT_EQ(Exchange(usb, kCheckPacket, kAcknowledgePacket.size()), kAcknowledgePacket);
  ASSERT_TRUE(UploadProgram(usb));
  EXPECT_EQ(QueryCaller(usb), GetParam().caller_after);
}

INSTANTIATE_TEST_SUITE_P(Leaves, UsbProgramTest,
                         ::testing::Values(LeaveCase{"BiosStartup", "77", 0}, LeaveCase{"Reboot", "79", 1},
                                           LeaveCase{"UsbReinitialisation", "", -1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UsbProgram, ErasesAndWritesTheFlash) {
  fxsim::UsbCalculatorConfig config = QuickUsbCalculator();
  config.program.erase_ms = 0;
  config.program.write_ms = 0;
  fxsim::UsbCalculator calculator(config);
  TUSB usb{UsbConnection()};
  ASSERT_GE(usb.Handle(), 0);
  ASSERT_TRUE(UploadProgram(usb));
  const auto command = [&](const std::string& subtype, const fxsim::Bytes& raw) {
    const fxsim::Bytes packet = fxsim::BuildPacket(0x01, subtype, fxsim::Escape(raw));
    usb.Write(packet.data(), static_cast<std::uint32_t>(packet.size()));
    return Header(ReadPacket(usb));
  };
  EXPECT_EQ(command("72", {0xA0, 0x05, 0x00, 0x00}), "06000");
  EXPECT_EQ(command("70", {0x88, 0x03, 0x00, 0x00, 0, 0, 0, 4, 0x12, 0x00, 0x5C, 0xFF}), "06000");
  EXPECT_EQ(command("71", {0xA0, 0x05, 0x00, 0x00, 0, 0, 0, 4, 0x88, 0x03, 0x00, 0x00}), "06000");
  const fxsim::Bytes flash = calculator.Flash();
  EXPECT_EQ(fxsim::Bytes(flash.begin() + 0x50000, flash.begin() + 0x50006), (fxsim::Bytes{0x12, 0x00, 0x5C, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(calculator.Status().sectors[5].erases, 1);
  EXPECT_EQ(calculator.Status().nor_violations, 0u);
}

}  // namespace
}  // namespace ostrel::testing
