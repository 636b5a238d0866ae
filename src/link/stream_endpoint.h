#pragma once
// The USB byte-stream endpoint: a Unix-domain stream socket or a terminal device that
// carries the calculator's bytes with no packet boundaries, so that every USB code path can
// run against a simulated calculator without hardware.

#include <sys/stat.h>

#include <string>

#include "link/block_channel.h"

namespace ostrel {

// Connects to a socket (refused: the calculator is not in receive mode → NotOpenable).
TUsbOpenResult ConnectStreamSocket(const std::string& path);

// Opens a terminal device as a raw byte stream. Other character devices are refused
// without being opened: opening or writing some of them has effects of its own.
TUsbOpenResult OpenStreamDevice(const std::string& path, const struct stat& status);

}  // namespace ostrel
