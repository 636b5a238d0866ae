// The calculators on USB as `ostrel devices` lists them, from a sysfs tree and usbfs
// nodes made in a temporary folder.

#include "link/usb_listing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/ordinary_user.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace ostrel {
namespace {

using testing::WriteFileText;

class UsbListingTest : public ::testing::Test {
 protected:
  // A USB device in sysfs and its node (mode `mode`).
  void AddDevice(const std::string& name, const std::string& vendor, const std::string& product, int bus,
                 int address, mode_t mode = 0666) {
    const std::string device = tmp_ / ("sys/" + name);
    WriteFileText(device + "/idVendor", vendor + "\n");
    WriteFileText(device + "/idProduct", product + "\n");
    WriteFileText(device + "/busnum", std::to_string(bus) + "\n");
    WriteFileText(device + "/devnum", std::to_string(address) + "\n");
    char node[64];
    std::snprintf(node, sizeof node, "dev/%03d/%03d", bus, address);
    WriteFileText(tmp_ / node, "");
    ::chmod((tmp_ / node).c_str(), mode);
  }
  std::vector<TUsbCalculatorState> List() const { return ListCalculatorsOnUsb(tmp_ / "sys", tmp_ / "dev"); }

  testing::TemporaryFolder tmp_;
};

TEST_F(UsbListingTest, EveryCasioDeviceIsListedWithItsStateAndRemedy) {
  AddDevice("1-1", "07cf", "6101", 1, 4);
  AddDevice("1-2", "07cf", "6102", 1, 5);
  AddDevice("2-1", "07cf", "6103", 2, 7);
  AddDevice("2-2", "07cf", "6200", 2, 9);
  AddDevice("2-3", "046d", "c52b", 2, 3);  // a mouse
  WriteFileText(tmp_ / "sys/usb1/idVendor", "1d6b\n");  // a hub without the other files

  struct Expected {
    const char* node;
    bool usable;
    const char* state;
  } const expected[] = {
      {"dev/001/004", true, "07CF:6101 a calculator in link mode: usable."},
      {"dev/001/005", false, "07CF:6102 a calculator in USB mass-storage mode: not usable for the link."},
      {"dev/002/007", false, "07CF:6103 a calculator in USB mass-storage mode: not usable for the link."},
      {"dev/002/009", false, "07CF:6200 a Casio device this program does not know: not used."},
  };
  const auto listed = List();
  ASSERT_EQ(listed.size(), std::size(expected));
  for (std::size_t i = 0; i < listed.size(); ++i) {
    EXPECT_EQ(listed[i].node, tmp_ / expected[i].node);
    EXPECT_EQ(listed[i].usable, expected[i].usable) << listed[i].node;
    EXPECT_TRUE(listed[i].state.starts_with(expected[i].state)) << listed[i].state;
  }
  EXPECT_NE(listed[1].state.find("choose the data-transfer mode"), std::string::npos);
}

TEST_F(UsbListingTest, ACalculatorTheUserMayNotOpenNamesTheUdevRule) {
  AddDevice("1-1", "07cf", "6101", 1, 4, 0600);
  ::chmod(tmp_.Path().c_str(), 0755);
  EXPECT_EQ(testing::RunAsOrdinaryUser([&]() -> std::string {
              const auto listed = List();
              if (listed.size() != 1) return "listed " + std::to_string(listed.size());
              if (listed[0].usable) return "usable without permission";
              if (listed[0].state.find("install the udev rule") == std::string::npos) return listed[0].state;
              return "";
            }),
            "");
}

TEST_F(UsbListingTest, NoSysfsFolderListsNothing) {
  EXPECT_TRUE(ListCalculatorsOnUsb(tmp_ / "missing", tmp_ / "dev").empty());
}

}  // namespace
}  // namespace ostrel
