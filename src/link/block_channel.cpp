#include "link/block_channel.h"

#include <cerrno>
#include <utility>

#include "link/fd_io.h"

namespace ostrel {

OpenOutcome OutcomeOfOpenError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
      return OpenOutcome::Absent;
    case EACCES:
    case EPERM:
    case EBUSY:  // held by another program, which keeps it until it ends
      return OpenOutcome::Unusable;
    default:
      return OpenOutcome::NotOpenable;
  }
}

std::string OpenFailureText(const std::string& path, int error) {
  std::string text = "USB device " + path + " cannot be opened: ";
  switch (error) {
    case EACCES:
    case EPERM:
      return text + "permission denied. Install the udev rule for the calculator (see docs/usb.md) "
                    "and reconnect it, or add the user to the group the rule names.";
    case EBUSY:
      return text + "busy: another program or a kernel driver holds the calculator. End the program that uses it "
                    "(another link program, or a second ostrel) and repeat the command.";
    case ECONNREFUSED:
      return text + "the calculator does not accept a connection (is it in receive mode?).";
    case EAGAIN:
      return text + "the calculator is not accepting connections right now.";
    default:
      return text + ErrnoText(error) + ".";
  }
}

TUsbOpenResult OpenErrorResult(const std::string& path, int error) {
  switch (OutcomeOfOpenError(error)) {
    case OpenOutcome::Absent: return AbsentResult("USB device " + path + " is not there.");
    case OpenOutcome::Unusable: return UnusableResult(path, OpenFailureText(path, error));
    default: return NotOpenableResult(path, OpenFailureText(path, error));
  }
}

TUsbOpenResult NotOpenableResult(const std::string& path, std::string line) {
  TUsbOpenResult result;
  result.outcome = OpenOutcome::NotOpenable;
  result.device_path = path;
  result.diagnostics.push_back(std::move(line));
  return result;
}

TUsbOpenResult UnusableResult(const std::string& path, std::string line) {
  TUsbOpenResult result = NotOpenableResult(path, std::move(line));
  result.outcome = OpenOutcome::Unusable;
  return result;
}

TUsbOpenResult AbsentResult(std::string line) {
  TUsbOpenResult result;
  result.diagnostics.push_back(std::move(line));
  return result;
}

}  // namespace ostrel
