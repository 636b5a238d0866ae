#pragma once
// The calculator behind --simulate: a simulated fx-9860G in link receive mode that lives
// as long as the command that asked for it, reached over its USB stand-in (a socket) or
// over its serial line (a pseudo terminal that starts at 9600 baud, as a real line does).
//
// Its flash is SimulatedFlash() (a valid OS image, so a backup of it passes the image
// check); RAM and the device information are the simulator's defaults.

#include <memory>
#include <string>

namespace fxsim {
class Simulator;
}

namespace ostrel {

enum class SimulatedLink { Usb, Serial };

class TSimulatedCalculator {
 public:
  // Starts the simulator and the endpoint of `link`.
  explicit TSimulatedCalculator(SimulatedLink link);
  ~TSimulatedCalculator();
  TSimulatedCalculator(const TSimulatedCalculator&) = delete;
  TSimulatedCalculator& operator=(const TSimulatedCalculator&) = delete;

  // The socket path (USB) or the pty path (serial) to connect to.
  const std::string& Endpoint() const { return endpoint_; }
  // What the calculator's display shows when the PC's user has to know it ("OS ERROR"
  // after a restart into the boot code, "Waiting..." while it waits for the PC to connect
  // again); empty otherwise.
  std::string Screen() const;

 private:
  std::unique_ptr<fxsim::Simulator> simulator_;
  std::string endpoint_;
};

}  // namespace ostrel
