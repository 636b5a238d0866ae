// ostrel-sim: a simulated fx-9860G in link receive mode, for trying the maintenance tool
// without a calculator and for testing it.

#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "fxsim/packet.h"
#include "fxsim/simulator.h"
#include "memory_image_file.h"
#include "program_options.h"
#include "simulation/simulated_flash.h"

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

// The calculator as it is when the simulator stops, for scripts that compare it with what
// the PC side made of it: flash.bin, ram.bin and status.txt ("uploads N", "restarts N",
// "load ADDRESS" of the last complete upload in hex, "blocks N" of read-outs sent, then one
// line per flash sector that was erased, written or aimed at: "sector N erases writes
// nor_violations refused").
void SaveState(const std::string& folder, const fxsim::Simulator& simulator) {
  const auto write_bytes = [&folder](const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(folder + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + folder + "/" + name);
  };
  write_bytes("flash.bin", simulator.Flash());
  write_bytes("ram.bin", simulator.Ram());
  std::ofstream out(folder + "/status.txt");
  const fxsim::UnitStatus status = simulator.Status();
  out << "uploads " << status.uploads << "\nrestarts " << status.restarts << "\nload "
      << fxsim::Hex(status.load_address, 8) << "\nblocks " << simulator.GetCounters().blocks_sent << '\n';
  for (std::size_t i = 0; i < status.sectors.size(); ++i) {
    const fxsim::SectorHistory& s = status.sectors[i];
    if (s.erases == 0 && s.writes == 0 && s.refused == 0) continue;
    out << "sector " << i << ' ' << s.erases << ' ' << s.writes << ' ' << s.nor_violations << ' ' << s.refused << '\n';
  }
  if (!out) throw std::runtime_error("cannot write " + folder + "/status.txt");
}

// What the command line asked for.
struct Options {
  std::string usb_path;
  bool usb = false;
  bool serial = false;
  std::string flash_file, ram_file, log_file, state_folder;
  int baud = 9600;
  bool throttle = false;
  int latency_ms = 0;
  double receive_delay_s = 0;
  std::vector<std::string> fault_texts;
};

// The options of the line, bound to `options`; returns the --usb option, whose presence
// counts even without a path.
CLI::Option* AddOptions(CLI::App& app, Options& options) {
  auto* usb = app.add_option("--usb", options.usb_path,
                             "Serve the USB stand-in socket at PATH (a fresh temporary path when "
                             "PATH is left out)")
                  ->expected(0, 1)
                  ->type_name("[PATH]");
  app.add_flag("--serial", options.serial, "Serve a serial line on a new pty");
  app.add_option("--flash", options.flash_file, "Flash contents (default: a valid OS image of the model, whose backup passes the image check)")
      ->type_name("FILE");
  app.add_option("--ram", options.ram_file, "RAM contents (default: 512 KiB of a fixed pattern)")
      ->type_name("FILE");
  app.add_option("--baud", options.baud, "Initial serial speed")->check(CLI::IsMember({9600, 115200}));
  app.add_flag("--throttle", options.throttle, "Pace serial output at the line rate (10 bits per byte)");
  app.add_option("--latency", options.latency_ms, "Delay in ms before each answer that carries data")
      ->check(CLI::NonNegativeNumber)
      ->type_name("MS");
  app.add_option("--receive-delay", options.receive_delay_s,
                 "Seconds until the calculator enters receive mode (until then the USB socket "
                 "refuses connections and the serial line is ignored)")
      ->check(CLI::NonNegativeNumber)
      ->type_name("SECONDS");
  app.add_option("--fault", options.fault_texts,
                 "Inject a fault (repeatable): no-answer | drop@SITE | corrupt@SITE | "
                 "bad-checksum@SITE | error:CC@SITE | "
                 "error+data:CC@SITE | extra-blocks[:N] | no-roleswap | roleswap-announce | "
                 "stall@SITE | disconnect@SITE | no-answer@SITE | repeat-block@block:N | "
                 "swap-blocks@block:N | foreign-packet@block:N | short-blocks[:BYTES] (every "
                 "block carries only its first BYTES of 256, default 128), where SITE is packet:N, block:N, "
                 "request, device-info, check, link-settings or any, or at the recovery program: "
                 "upload, upload-block[:N], os-bios, os-bios-record, contrast, ram-write[:N], "
                 "erase[:SECTOR], write[:SECTOR], reboot (each hits once; packets, blocks and RAM "
                 "writes count from 1, sectors may be 0x-prefixed hex; drop and corrupt take "
                 "packet:N:BYTE to pick the byte)")
      ->type_name("SPEC")
      ->allow_extra_args(false);
  app.add_option("--log", options.log_file, "Write the packets the PC sent to FILE as hex lines at exit")
      ->type_name("FILE");
  app.add_option("--save-state", options.state_folder,
                 "At exit, write the calculator's flash (flash.bin), RAM (ram.bin) and status.txt "
                 "(uploads, restarts, load address, blocks sent, and per flash sector erased, "
                 "written or refused: sector N erases writes violations refused) into this "
                 "existing folder")
      ->check(CLI::ExistingDirectory)
      ->type_name("FOLDER");
  return usb;
}

// The simulator's configuration from the options; reads the memory files.
fxsim::SimConfig MakeConfig(const Options& options, const fxsim::ProgramOptions& program_options) {
  const fxsim::CalculatorModel& model = program_options.Model();
  if (options.usb && !model.usb) {
    throw std::invalid_argument("the " + model.name + " has no USB port: serve it with --serial");
  }
  fxsim::SimConfig config = fxsim::ConfigFor(model);
  // Without a file the flash holds a valid OS image of the model, as a unit's flash does.
  config.flash = options.flash_file.empty() ? ostrel::SimulatedFlashOf(model)
                                            : fxsim::ReadMemoryImageFile(options.flash_file);
  if (!options.ram_file.empty()) config.ram = fxsim::ReadMemoryImageFile(options.ram_file);
  // A model named on the command line has its flash size; without one any size serves.
  if (program_options.ModelGiven() && !config.flash.empty() && config.flash.size() != model.flash_size) {
    throw std::invalid_argument(options.flash_file + " has " + std::to_string(config.flash.size()) +
                                " bytes, but the flash of the " + model.name + " has " +
                                std::to_string(model.flash_size) + ": give a file of that size or leave --flash out");
  }
  config.initial_baud = options.baud;
  config.line_rate_throttle = options.throttle;
  config.answer_latency_ms = options.latency_ms;
  config.receive_mode_delay_ms = static_cast<int>(options.receive_delay_s * 1000);
  for (const std::string& text : options.fault_texts) config.faults.push_back(fxsim::FaultSpec::Parse(text));
  program_options.Apply(config.program, config.device_info);
  // NOR violations and refused program commands, as they happen.
  config.report = [](const std::string& line) { std::cerr << "ostrel-sim: " << line << std::endl; };
  return config;
}

// Blocks SIGINT and SIGTERM so that sigwait takes them; the endpoint thread inherits
// this mask, so they never reach it.
sigset_t BlockStopSignals() {
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  return stop_signals;
}

// Starts the endpoints, prints their paths and serves until a stop signal; then writes the
// packet log and the calculator's state when they were asked for.
void Serve(const Options& options, fxsim::SimConfig config, const sigset_t& stop_signals) {
  fxsim::Simulator simulator(std::move(config));
  // Each endpoint is started before its line is printed, so a failure leaves no half line.
  if (options.usb) {
    const std::string path = simulator.StartUsb(options.usb_path);
    std::cout << "usb: " << path << '\n';
  }
  if (options.serial) {
    const std::string path = simulator.StartSerial();
    std::cout << "serial: " << path << '\n';
  }
  std::cout.flush();

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  simulator.Stop();
  if (!options.log_file.empty()) WritePacketLog(options.log_file, simulator.ReceivedPackets());
  if (!options.state_folder.empty()) SaveState(options.state_folder, simulator);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Simulated fx-9860G calculator in link receive mode.\n"
      "Serves the USB stand-in (a Unix-domain socket) and/or a serial pty and prints\n"
      "their paths as \"usb: PATH\" and \"serial: PATH\". Runs until SIGINT or SIGTERM."};
  Options options;
  CLI::Option* usb = AddOptions(app, options);
  const fxsim::ProgramOptions program_options(app);
  CLI11_PARSE(app, argc, argv);
  options.usb = usb->count() > 0;

  if (!options.usb && !options.serial) {
    std::cerr << "nothing to serve: give --usb and/or --serial (see --help)\n";
    return 2;
  }

  const sigset_t stop_signals = BlockStopSignals();
  try {
    Serve(options, MakeConfig(options, program_options), stop_signals);
  } catch (const std::exception& e) {
    std::cerr << "ostrel-sim: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
