#include <gtest/gtest.h>
#include <libusb.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>

#include "link/block_channel.h"
#include "link/libusb_device.h"

namespace ostrel {
namespace {

TEST(VendorId, ParsesBothIdsWithoutRegardToCase) {
  struct {
    const char* text;
    std::optional<TUsbId> id;
  } cases[] = {
      {"VID_07CF&PID_6101", TUsbId{0x07CF, 0x6101}},
      {"vid_07cf&pid_6101", TUsbId{0x07CF, 0x6101}},
      {"\\\\?\\usb#vid_07cf&pid_6101#5&1a2b3c&0&1#{a5dcbf10}", TUsbId{0x07CF, 0x6101}},
      {"PID_6102&VID_07CF", TUsbId{0x07CF, 0x6102}},
      {"VID_07CF", std::nullopt},
      {"VID_07C&PID_6101", std::nullopt},
      {"VID_07XF&PID_6101", std::nullopt},
      {"VID_+7CF&PID_6101", std::nullopt},
      {"VID_07CF&PID_-101", std::nullopt},
      {"VID_07CF&PID_61", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseVendorId(c.text), c.id) << c.text;
}

TEST(VendorId, MassStorageModeIsTheCalculatorsOtherProducts) {
  EXPECT_TRUE(IsMassStorageMode({0x07CF, 0x6102}));
  EXPECT_TRUE(IsMassStorageMode({0x07CF, 0x6103}));
  EXPECT_FALSE(IsMassStorageMode({0x07CF, 0x6101}));
  EXPECT_FALSE(IsMassStorageMode({0x1234, 0x6102}));
}

libusb_endpoint_descriptor Endpoint(std::uint8_t address, std::uint8_t type, std::uint16_t packet) {
  libusb_endpoint_descriptor endpoint{};
  endpoint.bLength = LIBUSB_DT_ENDPOINT_SIZE;
  endpoint.bDescriptorType = LIBUSB_DT_ENDPOINT;
  endpoint.bEndpointAddress = address;
  endpoint.bmAttributes = type;
  endpoint.wMaxPacketSize = packet;
  return endpoint;
}

libusb_interface_descriptor Setting(const std::vector<libusb_endpoint_descriptor>& endpoints) {
  libusb_interface_descriptor setting{};
  setting.bNumEndpoints = static_cast<std::uint8_t>(endpoints.size());
  setting.endpoint = endpoints.data();
  return setting;
}

TEST(BulkEndpoints, TheFirstBulkEndpointOfEachDirectionIsChosen) {
  std::vector<libusb_endpoint_descriptor> endpoints = {
      Endpoint(0x83, LIBUSB_ENDPOINT_TRANSFER_TYPE_INTERRUPT, 8),
      Endpoint(0x01, LIBUSB_ENDPOINT_TRANSFER_TYPE_BULK, 64),
      Endpoint(0x82, LIBUSB_ENDPOINT_TRANSFER_TYPE_BULK, 64),
      Endpoint(0x84, LIBUSB_ENDPOINT_TRANSFER_TYPE_BULK, 512),
      Endpoint(0x05, LIBUSB_ENDPOINT_TRANSFER_TYPE_BULK, 512),
  };
  std::optional<TBulkEndpoints> found = SelectBulkEndpoints(Setting(endpoints));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->in, 0x82);
  EXPECT_EQ(found->out, 0x01);
  EXPECT_EQ(found->in_packet_size, 64);
  EXPECT_EQ(found->out_packet_size, 64);
}

TEST(BulkEndpoints, BothDirectionsAreNeeded) {
  std::vector<std::vector<libusb_endpoint_descriptor>> cases = {
      {},
      {Endpoint(0x81, LIBUSB_ENDPOINT_TRANSFER_TYPE_BULK, 64)},
      {Endpoint(0x02, LIBUSB_ENDPOINT_TRANSFER_TYPE_BULK, 64)},
      {Endpoint(0x81, LIBUSB_ENDPOINT_TRANSFER_TYPE_INTERRUPT, 64),
       Endpoint(0x02, LIBUSB_ENDPOINT_TRANSFER_TYPE_BULK, 64)},
      {Endpoint(0x81, LIBUSB_ENDPOINT_TRANSFER_TYPE_BULK, 64), Endpoint(0x02, LIBUSB_ENDPOINT_TRANSFER_TYPE_ISOCHRONOUS, 64)},
  };
  for (const auto& endpoints : cases) EXPECT_FALSE(SelectBulkEndpoints(Setting(endpoints))) << endpoints.size();
}

TEST(UsbErrors, LibusbCodesMapOntoWhatTheLinkDoes) {
  struct {
    int code;
    UsbErrorKind kind;
  } cases[] = {
      {LIBUSB_SUCCESS, UsbErrorKind::None},          {LIBUSB_ERROR_NO_DEVICE, UsbErrorKind::Absent},
      {LIBUSB_ERROR_NOT_FOUND, UsbErrorKind::Lost}, {LIBUSB_ERROR_ACCESS, UsbErrorKind::AccessDenied},
      {LIBUSB_ERROR_BUSY, UsbErrorKind::Busy},        {LIBUSB_ERROR_TIMEOUT, UsbErrorKind::Timeout},
      {LIBUSB_ERROR_PIPE, UsbErrorKind::Lost},        {LIBUSB_ERROR_IO, UsbErrorKind::Lost},
      {LIBUSB_ERROR_OVERFLOW, UsbErrorKind::Lost},    {LIBUSB_ERROR_OTHER, UsbErrorKind::Lost},
  };
  for (const auto& c : cases) EXPECT_EQ(ClassifyLibusbError(c.code), c.kind) << c.code;
}

TEST(UsbErrors, OpenErrorsTellNoDeviceFromADeviceThatCannotBeOpened) {
  for (int error : {ENOENT, ENOTDIR, ENODEV, ENXIO}) EXPECT_EQ(OutcomeOfOpenError(error), OpenOutcome::Absent) << error;
  for (int error : {ECONNREFUSED, EAGAIN, EIO}) {
    EXPECT_EQ(OutcomeOfOpenError(error), OpenOutcome::NotOpenable) << error;
  }
  // Waiting does not mend a permission, nor a device another program holds.
  for (int error : {EACCES, EPERM, EBUSY}) EXPECT_EQ(OutcomeOfOpenError(error), OpenOutcome::Unusable) << error;
  EXPECT_NE(OpenFailureText("/dev/bus/usb/001/004", EACCES).find("udev"), std::string::npos);
  EXPECT_NE(OpenFailureText("/dev/bus/usb/001/004", EBUSY).find("busy"), std::string::npos);
}

TEST(UsbfsNodes, PathsAndNodeRecognition) {
  EXPECT_EQ(UsbfsPath(1, 5), "/dev/bus/usb/001/005");
  EXPECT_EQ(UsbfsPath(12, 127), "/dev/bus/usb/012/127");
  struct stat node {};
  node.st_mode = S_IFCHR | 0664;
  node.st_rdev = makedev(189, 3);
  EXPECT_TRUE(IsUsbfsNode("/tmp/any-name", node));
  node.st_rdev = makedev(136, 3);  // a pseudo-terminal
  EXPECT_FALSE(IsUsbfsNode("/dev/pts/3", node));
  EXPECT_TRUE(IsUsbfsNode("/dev/bus/usb/001/003", node));
  node.st_mode = S_IFSOCK | 0777;
  EXPECT_FALSE(IsUsbfsNode("/dev/bus/usb/001/003", node));
}

TEST(UsbfsNodes, AMissingNodeIsNoDevice) {
  TUsbOpenResult result = OpenUsbfsNode("/dev/bus/usb/999/999");
  EXPECT_EQ(result.outcome, OpenOutcome::Absent);
  EXPECT_EQ(result.device_path, "");
  EXPECT_FALSE(result.channel);
}

}  // namespace
}  // namespace ostrel
