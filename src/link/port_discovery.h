#pragma once
// Serial port discovery: which serial ports this machine has, and which one a serial
// session uses.

#include <string>
#include <vector>

#include "env/ini_file.h"

namespace ostrel {

// The serial ports under a device folder that open and are real: first the stable names in
// serial/by-id/, then ttyUSB*, ttyACM* and ttyS* in numeric order, each device once (a
// ttyUSB node already listed under its stable name is not listed again). A ttyS node
// without a UART behind it is not a port; a port that another program holds is not found.
std::vector<std::string> ProbeSerialPorts(const std::string& device_folder = "/dev");

// A serial port node and whether a session could open it now.
struct TSerialPortState {
  std::string path;
  bool usable = false;
  std::string why_not;  // a sentence: the node, then why it cannot be opened (permission, in use, ...)
};

// The serial port nodes under a device folder in the order of ProbeSerialPorts, with the
// ones that do not open as well (a ttyS node only when it works): what `ostrel devices`
// shows.
std::vector<TSerialPortState> SerialPortStates(const std::string& device_folder = "/dev");

// Fills `ports` and settles `chosen`. With PROGRAM/AUTOCOMPORTDETECTION yes (the default)
// the ports are probed; PROGRAM/COMPORT is chosen when it is among them (also when it names
// the same device under another name); otherwise the first port found is chosen and written
// to COMPORT; with no port found the choice is empty and COMPORT is left alone. With
// detection off nothing is probed: the choice is COMPORT and the list holds just that.
void ListComPorts(std::vector<std::string>& ports, std::string& chosen, const TIniFile& settings,
                  const std::string& device_folder = "/dev");

// The same on the program's settings file.
void ListComPorts(std::vector<std::string>& ports, std::string& chosen);

}  // namespace ostrel
