// ostrel-sim: a simulated fx-9860G in link receive mode, for trying the maintenance tool
// without a calculator and for testing it.

#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include "fxsim/packet.h"
#include "fxsim/simulator.h"
#include "memory_image_file.h"
#include "program_options.h"

namespace {

// One line per packet: endpoint, then the bytes in hex.
void WritePacketLog(const std::string& path, const std::vector<fxsim::Packet>& packets) {
  std::ofstream out(path);
  if (!out) throw std::runtime_error("cannot write " + path);
  for (const fxsim::Packet& p : packets) {
    out << (p.endpoint == fxsim::Endpoint::kUsb ? "usb" : "serial");
    for (std::uint8_t b : p.bytes) out << ' ' << fxsim::Hex(b, 2);
    if (p.trailing_nul) out << " 00";
    if (!p.checksum_ok) out << " (bad checksum)";
    out << '\n';
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Simulated fx-9860G calculator in link receive mode.\n"
      "Serves the USB stand-in (a Unix-domain socket) and/or a serial pty and prints\n"
      "their paths as \"usb: PATH\" and \"serial: PATH\". Runs until SIGINT or SIGTERM."};
  std::string usb_path;
  bool serial = false;
  std::string flash_file, ram_file, log_file;
  int baud = 9600;
  bool throttle = false;
  int latency_ms = 0;
  double receive_delay_s = 0;
  std::vector<std::string> fault_texts;

  auto* usb = app.add_option("--usb", usb_path,
                             "Serve the USB stand-in socket at PATH (a fresh temporary path when "
                             "PATH is left out)")
                  ->expected(0, 1)
                  ->type_name("[PATH]");
  app.add_flag("--serial", serial, "Serve a serial line on a new pty");
  app.add_option("--flash", flash_file, "Flash contents (default: 4 MiB of a fixed pattern)")
      ->type_name("FILE");
  app.add_option("--ram", ram_file, "RAM contents (default: 512 KiB of a fixed pattern)")
      ->type_name("FILE");
  app.add_option("--baud", baud, "Initial serial speed")->check(CLI::IsMember({9600, 115200}));
  app.add_flag("--throttle", throttle, "Pace serial output at the line rate (10 bits per byte)");
  app.add_option("--latency", latency_ms, "Delay in ms before each answer that carries data")
      ->check(CLI::NonNegativeNumber)
      ->type_name("MS");
  app.add_option("--receive-delay", receive_delay_s,
                 "Seconds until the calculator enters receive mode (until then the USB socket "
                 "refuses connections and the serial line is ignored)")
      ->check(CLI::NonNegativeNumber)
      ->type_name("SECONDS");
  app.add_option("--fault", fault_texts,
                 "Inject a fault (repeatable): no-answer | drop@SITE | corrupt@SITE | "
                 "bad-checksum@SITE | error:CC@SITE | "
                 "error+data:CC@SITE | extra-blocks[:N] | no-roleswap | roleswap-announce | "
                 "stall@SITE | disconnect@SITE | no-answer@SITE, where SITE is packet:N, block:N, "
                 "request, device-info, check, link-settings or any, or at the recovery program: "
                 "upload, upload-block[:N], os-bios, os-bios-record, contrast, ram-write[:N], "
                 "erase[:SECTOR], write[:SECTOR], reboot (each hits once; packets, blocks and RAM "
                 "writes count from 1, sectors may be 0x-prefixed hex; drop and corrupt take "
                 "packet:N:BYTE to pick the byte)")
      ->type_name("SPEC")
      ->allow_extra_args(false);
  app.add_option("--log", log_file, "Write the packets the PC sent to FILE as hex lines at exit")
      ->type_name("FILE");
  const fxsim::ProgramOptions program_options(app);
  CLI11_PARSE(app, argc, argv);

  if (usb->count() == 0 && !serial) {
    std::cerr << "nothing to serve: give --usb and/or --serial (see --help)\n";
    return 2;
  }

  // The endpoint thread inherits this mask, so the signals reach sigwait below.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  try {
    fxsim::SimConfig config;
    if (!flash_file.empty()) config.flash = fxsim::ReadMemoryImageFile(flash_file);
    if (!ram_file.empty()) config.ram = fxsim::ReadMemoryImageFile(ram_file);
    config.initial_baud = baud;
    config.line_rate_throttle = throttle;
    config.answer_latency_ms = latency_ms;
    config.receive_mode_delay_ms = static_cast<int>(receive_delay_s * 1000);
    for (const std::string& text : fault_texts) config.faults.push_back(fxsim::FaultSpec::Parse(text));
    program_options.Apply(config.program, config.device_info);
    // NOR violations and refused program commands, as they happen.
    config.report = [](const std::string& line) { std::cerr << "ostrel-sim: " << line << std::endl; };

    fxsim::Simulator simulator(std::move(config));
    if (usb->count() > 0) std::cout << "usb: " << simulator.StartUsb(usb_path) << '\n';
    if (serial) std::cout << "serial: " << simulator.StartSerial() << '\n';
    std::cout.flush();

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    simulator.Stop();
    if (!log_file.empty()) WritePacketLog(log_file, simulator.ReceivedPackets());
  } catch (const std::exception& e) {
    std::cerr << "ostrel-sim: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
