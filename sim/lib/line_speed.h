#pragma once
// Baud rates of a terminal line as plain numbers.

#include <termios.h>

namespace fxsim {

// The output speed set on the terminal behind `fd` (for a pty master: the slave's
// settings); 0 when it cannot be read or is not a common rate.
int LineBaud(int fd);

// The termios speed constant for `baud`; B0 when it is not a common rate.
speed_t SpeedConstant(int baud);

}  // namespace fxsim
