#include "usb_preload.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace fxsim {

namespace {

constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";
// Set before the restart, so that a preload library that did not load cannot loop.
constexpr const char* kRestartMark = "FXSIM_USB_PRELOAD_RESTARTED";

std::string Environment(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

void AddUsbPreloadToEnvironment() {
  std::string preload = Environment("LD_PRELOAD");
  if (preload.find(kPreloadLibrary) == std::string::npos) {
    preload = preload.empty() ? kPreloadLibrary : std::string(kPreloadLibrary) + ":" + preload;
    setenv("LD_PRELOAD", preload.c_str(), 1);
  }
  std::string asan = Environment("ASAN_OPTIONS");
  if (asan.find("verify_asan_link_order") == std::string::npos) {
    asan += asan.empty() ? "verify_asan_link_order=0" : ":verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
  }
}

bool UsbPreloadActive() {
  // Asks the loader without loading anything: a handle only for a library already there.
  void* handle = dlopen(kPreloadLibrary, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

void RestartWithUsbPreload(char** argv) {
  if (UsbPreloadActive()) {
    unsetenv(kRestartMark);  // the programs this one starts decide for themselves
    return;
  }
  if (getenv(kRestartMark) != nullptr) {
    std::fprintf(stderr, "%s did not load; is the umockdev package installed?\n", kPreloadLibrary);
    return;
  }
  setenv(kRestartMark, "1", 1);
  AddUsbPreloadToEnvironment();
  execv("/proc/self/exe", argv);
  std::fprintf(stderr, "cannot restart %s with %s: %s\n", argv[0], kPreloadLibrary, std::strerror(errno));
}

}  // namespace fxsim
