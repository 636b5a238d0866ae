#include "link/usb_device.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "link/connection_string.h"
#include "link/hardware.h"
#include "link_test_support.h"

namespace ostrel {
namespace {

using testing::Bytes;
using testing::Contains;
using testing::ReadBytes;
using testing::TSocketEndpoint;

std::string Connection(const std::string& device_name) {
  return std::string(kSystemUsbConnection) + "DEVICENAME=" + device_name;
}

TEST(UsbDevice, StreamSocketCarriesBytesBothWays) {
  TSocketEndpoint calculator(TSocketEndpoint::Mode::Listening);
  THardware link(LinkKind::Usb, Connection(calculator.Path()));
  ASSERT_GE(link.Handle(), 0);
  EXPECT_EQ(link.DevicePath(), calculator.Path());
  ASSERT_TRUE(calculator.Accept());

  const auto out = Bytes({0x05, 0x30, 0x30, 0x30, 0x37, 0x30, 0x00, 0xFF});
  EXPECT_EQ(link.Write(out.data(), static_cast<std::uint32_t>(out.size())), out.size());
  EXPECT_EQ(calculator.Receive(out.size()), out);
}

TEST(UsbDevice, ABlockIsHandedOutByteByByteThenTheNextBlockIsRead) {
  TSocketEndpoint calculator(TSocketEndpoint::Mode::Listening);
  TUSB usb(Connection(calculator.Path()));
  ASSERT_GE(usb.Handle(), 0);
  ASSERT_TRUE(calculator.Accept());

  calculator.Send(Bytes({0xA1, 0xB2, 0xC3}));
  ASSERT_EQ(ReadBytes(usb, 1), Bytes({0xA1}));
  // The rest of the block comes at once, without another read of the device.
  std::uint8_t byte = 0;
  ASSERT_EQ(usb.ReadByte(byte), 1);
  EXPECT_EQ(byte, 0xB2);
  ASSERT_EQ(usb.ReadByte(byte), 1);
  EXPECT_EQ(byte, 0xC3);
  // The block is used up: the next call reads the device, which is silent now.
  EXPECT_EQ(usb.ReadByte(byte), 0);

  calculator.Send(Bytes({0xD4, 0xE5}));
  ASSERT_EQ(ReadBytes(usb, 1), Bytes({0xD4}));
  ASSERT_EQ(usb.ReadByte(byte), 1);
  EXPECT_EQ(byte, 0xE5);
}

TEST(UsbDevice, ALargeWriteArrivesWholeWhileThePeerReadsSlowly) {
  TSocketEndpoint calculator(TSocketEndpoint::Mode::Listening);
  TUSB usb(Connection(calculator.Path()));
  ASSERT_TRUE(calculator.Accept());
  std::vector<std::uint8_t> data(300000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  std::vector<std::uint8_t> received;
  std::thread reader([&] { received = calculator.Receive(data.size()); });
  EXPECT_EQ(usb.Write(data.data(), static_cast<std::uint32_t>(data.size())), data.size());
  reader.join();
  EXPECT_EQ(received, data);
}

TEST(UsbDevice, ASocketThatRefusesIsPresentButNotOpenable) {
  TSocketEndpoint calculator(TSocketEndpoint::Mode::Refusing);
  TUSB usb(Connection(calculator.Path()));
  EXPECT_EQ(usb.DevicePath(), calculator.Path());
  EXPECT_EQ(usb.Handle(), -1);
  std::uint8_t byte = 0;
  EXPECT_EQ(usb.ReadByte(byte), 0);
  const auto out = Bytes({1});
  EXPECT_EQ(usb.Write(out.data(), 1), 0u);
  EXPECT_TRUE(Contains(usb.TakeDiagnostics(), "receive mode"));
}

TEST(UsbDevice, AMissingPathIsNoDevice) {
  testing::TemporaryFolder folder;
  TUSB usb(Connection(folder.File("calculator.sock")));
  EXPECT_EQ(usb.DevicePath(), "");
  EXPECT_EQ(usb.Handle(), -1);
  std::uint8_t byte = 0;
  EXPECT_EQ(usb.ReadByte(byte), 0);
}

TEST(UsbDevice, PathsThatAreNeitherDeviceNorEndpointAreNotOpened) {
  testing::TemporaryFolder folder;
  std::string plain_file = folder.File("image.bin");
  std::ofstream(plain_file) << "keep";
  // /dev/null stands for any character device that is not a terminal or a USB node.
  for (const std::string& path : {plain_file, std::string("/dev/null"), folder.Path()}) {
    TUSB usb(Connection(path));
    EXPECT_EQ(usb.DevicePath(), path);
    EXPECT_EQ(usb.Handle(), -1) << path;
    const auto out = Bytes({1, 2});
    EXPECT_EQ(usb.Write(out.data(), 2), 0u);
  }
  std::ifstream check(plain_file);
  std::string content;
  check >> content;
  EXPECT_EQ(content, "keep");
}

TEST(UsbDevice, ABlankDeviceNameSearchesByVendorId) {
  // No device with these ids exists, so the search finds nothing; a blank name is never
  // taken as a path.
  const std::string search = "NAME=USB;VENDORID=VID_FFFF&PID_FFFE;";
  for (const std::string& name : {std::string(), std::string("DEVICENAME="), std::string("DEVICENAME= \t ")}) {
    TUSB usb(search + name);
    EXPECT_EQ(usb.DevicePath(), "") << name;
    EXPECT_EQ(usb.Handle(), -1) << name;
    EXPECT_TRUE(Contains(usb.TakeDiagnostics(), "USB search")) << name;
  }
  TSocketEndpoint calculator(TSocketEndpoint::Mode::Listening);
  TUSB direct(search + "DEVICENAME=" + calculator.Path());
  EXPECT_GE(direct.Handle(), 0);
  EXPECT_FALSE(Contains(direct.TakeDiagnostics(), "USB search"));
}

TEST(UsbDevice, AnEmptyVendorIdMatchesNothing) {
  TUSB usb("NAME=USB;BUFFERSIZE=4096;");
  EXPECT_EQ(usb.DevicePath(), "");
  EXPECT_EQ(usb.Handle(), -1);
  EXPECT_TRUE(Contains(usb.TakeDiagnostics(), "VENDORID"));
}

TEST(UsbDevice, APseudoTerminalServesAsStreamEndpoint) {
  testing::TPtyPair pty;
  TUSB usb(Connection(pty.SlavePath()));
  ASSERT_GE(usb.Handle(), 0);
  const auto out = Bytes({0x0D, 0x0A, 0x11, 0x13, 0x03});
  EXPECT_EQ(usb.Write(out.data(), static_cast<std::uint32_t>(out.size())), out.size());
  EXPECT_EQ(pty.Receive(out.size()), out);
  pty.Send(Bytes({0x0D, 0x13}));
  ASSERT_EQ(ReadBytes(usb, 1), Bytes({0x0D}));
  std::uint8_t byte = 0;
  ASSERT_EQ(usb.ReadByte(byte), 1);
  EXPECT_EQ(byte, 0x13);
}

TEST(UsbDevice, APeerThatGoesAwayLeavesASilentLineSaidOnce) {
  TSocketEndpoint calculator(TSocketEndpoint::Mode::Listening);
  TUSB usb(Connection(calculator.Path()));
  ASSERT_TRUE(calculator.Accept());
  calculator.Send(Bytes({0x42}));
  ASSERT_EQ(ReadBytes(usb, 1), Bytes({0x42}));
  calculator.CloseConnection();
  std::uint8_t byte = 0;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(usb.ReadByte(byte), 0);
  const auto out = Bytes({1, 2});
  EXPECT_EQ(usb.Write(out.data(), 2), 0u);
  auto lines = usb.TakeDiagnostics();
  EXPECT_EQ(lines.size(), 1u);
  EXPECT_TRUE(Contains(lines, "gone"));
  EXPECT_EQ(usb.ReadByte(byte), 0);
  EXPECT_TRUE(usb.TakeDiagnostics().empty());
}

TEST(UsbDevice, ReadingASilentDeviceDoesNotSpin) {
  TSocketEndpoint calculator(TSocketEndpoint::Mode::Listening);
  TUSB usb(Connection(calculator.Path()));
  ASSERT_TRUE(calculator.Accept());
  TUSB absent(Connection("/nonexistent/calculator.sock"));
  for (TUSB* device : {&usb, &absent}) {
    const testing::TReadCost cost = testing::MeasureReads(*device, 30);
    EXPECT_EQ(cost.bytes, 0);
    EXPECT_LT(cost.cpu_us * 4, cost.wall_us) << "cpu " << cost.cpu_us << " us, wall " << cost.wall_us << " us";
  }
}

}  // namespace
}  // namespace ostrel
