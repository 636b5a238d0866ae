// The USB device through libusb against a calculator emulated on the USB level: finding
// it, opening it, and the ways opening it can fail.

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "link/usb_device.h"
#include "usb_fixture.h"

namespace ostrel::testing {
namespace {

using Kind = fxsim::UsbRequest::Kind;

long IndexOf(const std::vector<fxsim::UsbRequest>& requests, Kind kind) {
  for (std::size_t i = 0; i < requests.size(); ++i) {
    if (requests[i].kind == kind) return static_cast<long>(i);
  }
  return -1;
}

TEST(UsbDevice, WithoutADeviceNameTheCalculatorIsFoundByItsIds) {
  fxsim::UsbCalculator calculator(QuickUsbCalculator());
  for (const std::string& name : {std::string(), std::string("DEVICENAME="), std::string("DEVICENAME= \t")}) {
    TUSB usb(kSystemUsbConnection + name);
    EXPECT_EQ(usb.DevicePath(), calculator.NodePath()) << name;
    ASSERT_GE(usb.Handle(), 0) << name;
    EXPECT_EQ(Exchange(usb, kCheckPacket, kAcknowledgePacket.size()), kAcknowledgePacket) << name;
  }
}

TEST(UsbDevice, ANamedNodeIsOpenedWithoutASearch) {
  fxsim::UsbCalculator calculator(QuickUsbCalculator());
  // Ids that match nothing: only the node can have been used.
  TUSB usb("NAME=USB;VENDORID=VID_FFFF&PID_FFFE;DEVICENAME=" + calculator.NodePath());
  EXPECT_EQ(usb.DevicePath(), calculator.NodePath());
  ASSERT_GE(usb.Handle(), 0);
  EXPECT_EQ(Exchange(usb, kCheckPacket, kAcknowledgePacket.size()), kAcknowledgePacket);
  EXPECT_FALSE(AnyContains(usb.TakeDiagnostics(), "USB search"));
}

TEST(UsbDevice, TheSessionRequestGoesOutOnceAfterTheClaimAndBeforeAnyTransfer) {
  fxsim::UsbCalculator calculator(QuickUsbCalculator());
  {
    TUSB usb{UsbConnection()};
    ASSERT_EQ(Exchange(usb, kCheckPacket, kAcknowledgePacket.size()), kAcknowledgePacket);
    ASSERT_EQ(Exchange(usb, kCheckPacket, kAcknowledgePacket.size()), kAcknowledgePacket);
  }
  const std::vector<fxsim::UsbRequest> requests = calculator.Requests();
  const auto is_session_request = [](const fxsim::UsbRequest& r) {
    return r.kind == Kind::kControl && r.request_type == 0x41 && r.request == 0x01;
  };
  EXPECT_EQ(std::count_if(requests.begin(), requests.end(), is_session_request), 1);
  const long session_request = std::find_if(requests.begin(), requests.end(), is_session_request) - requests.begin();
  EXPECT_LT(IndexOf(requests, Kind::kClaim), session_request);
  EXPECT_LT(session_request, IndexOf(requests, Kind::kBulkOut));
  EXPECT_LT(session_request, IndexOf(requests, Kind::kBulkIn));
  // Closing the device releases the interface.
  EXPECT_EQ(requests.back().kind, Kind::kRelease);
}

TEST(UsbDevice, ZeroLengthPacketsFromTheCalculatorAreSkipped) {
  fxsim::UsbCalculatorConfig config = QuickUsbCalculator();
  config.zero_length_packets = true;
  fxsim::UsbCalculator calculator(config);
  TUSB usb{UsbConnection()};
  ASSERT_GE(usb.Handle(), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Exchange(usb, kCheckPacket, kAcknowledgePacket.size()), kAcknowledgePacket);
  EXPECT_EQ(calculator.Counters().zero_length_packets, 3u);
  EXPECT_TRUE(usb.TakeDiagnostics().empty());
}

TEST(UsbDevice, ASecondProgramCannotTakeTheCalculatorWhileTheFirstHoldsIt) {
  fxsim::UsbCalculator calculator(QuickUsbCalculator());
  auto first = std::make_unique<TUSB>(UsbConnection());
  ASSERT_GE(first->Handle(), 0);

  TUSB second{UsbConnection()};
  EXPECT_EQ(second.DevicePath(), calculator.NodePath());
  EXPECT_EQ(second.Handle(), -1);
  EXPECT_TRUE(second.Unusable()) << "waiting would wait for the other program to end";
  EXPECT_TRUE(AnyContains(second.TakeDiagnostics(), "busy: another program or a kernel driver holds the calculator"));
  // The first program is not disturbed, and once it lets go the calculator is free.
  EXPECT_EQ(Exchange(*first, kCheckPacket, kAcknowledgePacket.size()), kAcknowledgePacket);
  first.reset();
  TUSB third{UsbConnection()};
  ASSERT_GE(third.Handle(), 0);
  EXPECT_EQ(Exchange(third, kCheckPacket, kAcknowledgePacket.size()), kAcknowledgePacket);
}

TEST(UsbDevice, AProgramThatEndsWithoutLettingGoFreesTheCalculator) {
  fxsim::UsbCalculator calculator(QuickUsbCalculator());
  const pid_t child = fork();
  if (child == 0) {
    // Opens the calculator and ends at once, as a program that crashes: no release.
    auto* abandoned = new TUSB(UsbConnection());
    _exit(abandoned->Handle() >= 0 ? 0 : 1);
  }
  int status = -1;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(IndexOf(calculator.Requests(), Kind::kRelease), -1);

  TUSB usb{UsbConnection()};
  ASSERT_GE(usb.Handle(), 0) << ::testing::PrintToString(usb.TakeDiagnostics());
  EXPECT_EQ(Exchange(usb, kCheckPacket, kAcknowledgePacket.size()), kAcknowledgePacket);
}

TEST(UsbDevice, ABoundKernelDriverIsDetachedForTheSessionAndAttachedAgain) {
  fxsim::UsbCalculatorConfig config = QuickUsbCalculator();
  config.kernel_driver = "usbserial_generic";
  fxsim::UsbCalculator calculator(config);
  {
    TUSB usb{UsbConnection()};
    ASSERT_GE(usb.Handle(), 0);
    EXPECT_EQ(calculator.KernelDriver(), "");
    EXPECT_EQ(Exchange(usb, kCheckPacket, kAcknowledgePacket.size()), kAcknowledgePacket);
  }
  EXPECT_EQ(calculator.KernelDriver(), "usbserial_generic");
  const std::vector<fxsim::UsbRequest> requests = calculator.Requests();
  EXPECT_LT(IndexOf(requests, Kind::kDetachDriver), IndexOf(requests, Kind::kClaim));
  EXPECT_GT(IndexOf(requests, Kind::kAttachDriver), IndexOf(requests, Kind::kRelease));
}

TEST(UsbDevice, MassStorageModeIsExplainedAndNeverOpened) {
  for (std::uint16_t product : {0x6102, 0x6103}) {
    fxsim::UsbCalculatorConfig config = QuickUsbCalculator();
    config.product = product;
    fxsim::UsbCalculator calculator(config);
    for (const std::string& connection : {UsbConnection(), UsbConnection(calculator.NodePath())}) {
      TUSB usb(connection);
      EXPECT_EQ(usb.DevicePath(), calculator.NodePath()) << connection;
      EXPECT_EQ(usb.Handle(), -1) << connection;
      EXPECT_TRUE(usb.Unusable()) << "waiting would not end: the user has to change the calculator's mode";
      EXPECT_TRUE(AnyContains(usb.TakeDiagnostics(), "is a calculator in USB mass-storage mode")) << product;
    }
    EXPECT_EQ(IndexOf(calculator.Requests(), Kind::kClaim), -1) << product;
  }
}

// Opens the calculator in a child process that has no right to the node (as a user
// without the udev rule) and returns what the device said: handle, path, diagnostics.
std::string OpenWithoutPermission(const std::string& connection) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    // Root may open anything: the child becomes an ordinary user first.
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    std::string report;
    {
      TUSB usb(connection);
      report = std::to_string(usb.Handle()) + "\n" + usb.DevicePath() + "\n";
      for (const std::string& line : usb.TakeDiagnostics()) report += line + "\n";
    }
    const ssize_t written = write(pipe_ends[1], report.data(), report.size());
    _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 3);
  }
  close(pipe_ends[1]);
  std::string report;
  char buffer[512];
  ssize_t got = 0;
  while ((got = read(pipe_ends[0], buffer, sizeof buffer)) > 0) report.append(buffer, static_cast<std::size_t>(got));
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return report;
}

TEST(UsbDevice, ANodeWithoutPermissionIsPresentAndTheAdviceNamesTheUdevRule) {
  fxsim::UsbCalculatorConfig config = QuickUsbCalculator();
  config.node_mode = 0444;  // no rule gave the user write access
  fxsim::UsbCalculator calculator(config);
  calculator.ShareWithOtherUsers();

  for (const std::string& connection : {UsbConnection(), UsbConnection(calculator.NodePath())}) {
    const std::string report = OpenWithoutPermission(connection);
    EXPECT_EQ(report.rfind("-1\n" + calculator.NodePath() + "\n", 0), 0u) << report;
    EXPECT_NE(report.find("permission denied. Install the udev rule"), std::string::npos) << report;
  }
}

TEST(UsbDevice, AnUnpluggedCalculatorLeavesASilentLineSaidOnce) {
  fxsim::UsbCalculator calculator(QuickUsbCalculator());
  TUSB usb{UsbConnection()};
  ASSERT_EQ(Exchange(usb, kCheckPacket, kAcknowledgePacket.size()), kAcknowledgePacket);
  usb.TakeDiagnostics();

  calculator.Unplug();
  EXPECT_EQ(Exchange(usb, kCheckPacket, 1, std::chrono::milliseconds(300)), Bytes());
  std::uint8_t byte = 0;
  EXPECT_EQ(usb.ReadByte(byte), 0);
  const std::vector<std::string> lines = usb.TakeDiagnostics();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("stopped answering"), std::string::npos) << lines[0];

  // Gone from the bus: a new search finds nothing, the node is no longer there.
  TUSB again{UsbConnection()};
  EXPECT_EQ(again.DevicePath(), "");
  TUSB named{UsbConnection(calculator.NodePath())};
  EXPECT_EQ(named.DevicePath(), "");
}

}  // namespace
}  // namespace ostrel::testing
