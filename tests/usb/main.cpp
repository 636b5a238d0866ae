#include <gtest/gtest.h>

#include "usb_preload.h"

// The tests open the emulated calculator through libusb, so umockdev's preload library
// must be loaded from the start: the program starts itself again with it.
int main(int argc, char** argv) {
  fxsim::RestartWithUsbPreload(argv);
  if (!fxsim::UsbPreloadActive()) return 1;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
