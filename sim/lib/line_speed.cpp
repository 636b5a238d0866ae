#include "line_speed.h"

namespace fxsim {

namespace {

struct Rate {
  speed_t constant;
  int baud;
};

constexpr Rate kRates[] = {
    {B300, 300},       {B1200, 1200},     {B2400, 2400},     {B4800, 4800},
    {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
    {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
};

}  // namespace

int LineBaud(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return 0;
  const speed_t speed = cfgetospeed(&settings);
  for (const Rate& r : kRates) {
    if (r.constant == speed) return r.baud;
  }
  return 0;
}

speed_t SpeedConstant(int baud) {
  for (const Rate& r : kRates) {
    if (r.baud == baud) return r.constant;
  }
  return B0;
}

}  // namespace fxsim
