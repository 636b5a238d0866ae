#pragma once
// Running a program inside a umockdev testbed: umockdev's preload library must be loaded
// when the program starts, so that its accesses to /sys, /dev and the USB node's ioctl
// calls reach the testbed named by UMOCKDEV_DIR.

#include <string>

namespace fxsim {

// Puts the preload library first into LD_PRELOAD of this process's environment (for the
// programs it starts, or for itself before it starts itself again). AddressSanitizer wants
// its own runtime first and is told to accept the preload library before it.
void AddUsbPreloadToEnvironment();

// True when the preload library is loaded into this process.
bool UsbPreloadActive();

// Starts this program again with the preload library when it is not loaded yet; returns
// only when that is not possible (the reason is on stderr). argv as given to main.
void RestartWithUsbPreload(char** argv);

}  // namespace fxsim
