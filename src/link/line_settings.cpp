#include "link/line_settings.h"

#include <sys/ioctl.h>

#include <utility>

namespace ostrel {

std::optional<speed_t> TermiosSpeed(std::int64_t baud_rate) {
  static constexpr std::pair<std::int64_t, speed_t> kSpeeds[] = {
      {50, B50},         {75, B75},           {110, B110},         {134, B134},         {150, B150},
      {200, B200},       {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
      {2400, B2400},     {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
      {57600, B57600},   {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
      {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
      {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
  };
  for (const auto& [rate, speed] : kSpeeds) {
    if (rate == baud_rate) return speed;
  }
  return std::nullopt;
}

std::uint32_t DcbFlagsOfModemLines(std::optional<int> modem_lines) {
  std::uint32_t flags = kDcbBinary;
  if (modem_lines) {
    if (*modem_lines & TIOCM_DTR) flags |= kDcbDtrOn;
    if (*modem_lines & TIOCM_RTS) flags |= kDcbRtsOn;
  }
  return flags;
}

namespace {

std::optional<tcflag_t> CharacterSize(std::int32_t byte_size) {
  switch (byte_size) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    case 8: return CS8;
    default: return std::nullopt;
  }
}

}  // namespace

TLineSetup MakeLineSetup(const termios& current, std::uint32_t flags, const TSerialSettings& settings) {
  TLineSetup setup;
  setup.line = current;
  termios& line = setup.line;

  std::optional<speed_t> speed = TermiosSpeed(settings.baud_rate);
  if (!speed) {
    setup.error = "baud rate " + std::to_string(settings.baud_rate) + " is not available on this system";
    return setup;
  }
  std::optional<tcflag_t> size = CharacterSize(settings.byte_size);
  if (!size) {
    setup.error = "byte size " + std::to_string(settings.byte_size) + " is not available (5 to 8 bits)";
    return setup;
  }

  // Raw bytes: no echo, no line editing, no signals, no CR/LF translation.
  line.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                         IXANY | INPCK | IUCLC | IMAXBEL);
  line.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  line.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  line.c_cflag |= static_cast<tcflag_t>(CLOCAL | CREAD) | *size;
  line.c_cc[VMIN] = 0;
  line.c_cc[VTIME] = 0;

  switch (settings.parity) {
    case kParityOdd: line.c_cflag |= PARENB | PARODD; break;
    case kParityEven: line.c_cflag |= PARENB; break;
    case kParityMark: line.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case kParitySpace: line.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }

  if (settings.stop_bits == kStopOne5) {
    line.c_cflag |= CSTOPB;
    setup.notes.push_back("1.5 stop bits are not available here; using 2 stop bits");
  } else if (settings.stop_bits == kStopTwo) {
    line.c_cflag |= CSTOPB;
  }

  if (flags & kDcbRtsHandshake) line.c_cflag |= CRTSCTS;
  if (flags & kDcbOutX) line.c_iflag |= IXON;
  if (flags & kDcbInX) line.c_iflag |= IXOFF;
  setup.raise_dtr = (flags & kDcbDtrOn) != 0;
  setup.raise_rts = (flags & kDcbRtsOn) != 0;

  cfsetispeed(&line, *speed);
  cfsetospeed(&line, *speed);
  return setup;
}

}  // namespace ostrel
