#pragma once
// Maps what a serial connection string asks for onto POSIX terminal settings: a raw byte
// line at the requested speed, size, parity, stop bits and flow control.

#include <termios.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/connection_string.h"

namespace ostrel {

// The termios speed constant for a baud rate; nothing when the platform has no such speed.
std::optional<speed_t> TermiosSpeed(std::int64_t baud_rate);

// The line-control flags word a port starts from: always binary; DTR and RTS "on" as its
// modem lines are now (TIOCM_* bits, when they can be read). The flow-control bits start
// clear: a tty's defaults are made for terminals, and XON/XOFF left on from them would
// swallow the data bytes 0x11 and 0x13; only the connection string turns them on.
std::uint32_t DcbFlagsOfModemLines(std::optional<int> modem_lines);

struct TLineSetup {
  termios line{};              // the settings to apply
  bool raise_dtr = false;      // modem lines to raise (else lower)
  bool raise_rts = false;
  std::vector<std::string> notes;    // settings that were adapted, for the diagnostics
  std::optional<std::string> error;  // settings the line cannot take: nothing is applied
};

// The settings to apply to a line whose present state is `current`, with the flags word
// `flags` (the present word with the connection string's changes already applied).
TLineSetup MakeLineSetup(const termios& current, std::uint32_t flags, const TSerialSettings& settings);

}  // namespace ostrel
