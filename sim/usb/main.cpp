// ostrel-usb-sim: a simulated fx-9860G on the USB level, for running a program that uses
// libusb (such as `ostrel --usb`) against it: the program finds the calculator by its ids
// under /dev/bus/usb and talks to it through the usbfs requests, as to a real unit.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "memory_image_file.h"
#include "program_options.h"
#include "usb_calculator.h"
#include "usb_preload.h"

extern char** environ;

namespace {

// Runs the command in the testbed and returns its exit status (128 + the signal that ended it).
int RunCommand(const std::vector<std::string>& command) {
  fxsim::AddUsbPreloadToEnvironment();
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int error = posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ);
  if (error != 0) throw std::runtime_error("cannot start " + command[0] + ": " + std::strerror(error));
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

void PrintCounters(const fxsim::UsbCounters& c, double seconds) {
  std::cerr << "ostrel-usb-sim: " << c.bulk_out_bytes << " bytes out, " << c.bulk_in_bytes << " bytes in ("
            << c.answers_sent << " answers, " << c.bulk_in_completed << " bulk IN transfers, "
            << c.bulk_in_discarded << " timed out, " << c.zero_length_packets << " empty), " << c.reap_calls
            << " reap calls in " << seconds << " s\n";
}

}  // namespace

int main(int argc, char** argv) {
  // The testbed's own calls (the remove event of an unplug) need the preload library too.
  fxsim::RestartWithUsbPreload(argv);
  if (!fxsim::UsbPreloadActive()) return 1;
  CLI::App app{
      "Simulated fx-9860G on the USB level (vendor 07CF, product 6101), for programs that use libusb.\n"
      "With a COMMAND after \"--\": runs it with the calculator attached and exits with its status.\n"
      "Without: prints \"umockdev-dir: PATH\" and \"usb: NODE\" and runs until SIGINT or SIGTERM;\n"
      "programs started with UMOCKDEV_DIR=PATH and LD_PRELOAD=libumockdev-preload.so.0 see it."};
  std::string flash_file, ram_file;
  int delay_ms = 30;
  std::string product_text = "6101";
  bool zero_length = false;
  bool stats = false;
  std::string driver;
  std::vector<std::string> fault_texts;
  std::vector<std::string> command;

  app.add_option("--flash", flash_file, "Flash contents (default: 4 MiB of a fixed pattern)")->type_name("FILE");
  app.add_option("--ram", ram_file, "RAM contents (default: 512 KiB of a fixed pattern)")->type_name("FILE");
  app.add_option("--packet-delay", delay_ms,
                 "Delay in ms before each answer that carries data (a real fx-9860G: about 30)")
      ->check(CLI::NonNegativeNumber)
      ->type_name("MS");
  app.add_option("--product", product_text,
                 "Product id: 6101 (link receive mode), 6102 or 6103 (mass-storage modes)")
      ->check(CLI::IsMember({"6101", "6102", "6103"}));
  app.add_flag("--zero-length-packets", zero_length, "Send a zero-length bulk packet before every answer");
  app.add_option("--kernel-driver", driver, "A kernel driver bound to the interface, to be detached")
      ->type_name("NAME");
  app.add_option("--fault", fault_texts,
                 "Inject a fault as ostrel-sim does (repeatable); disconnect@SITE unplugs the calculator")
      ->type_name("SPEC")
      ->allow_extra_args(false);
  app.add_flag("--stats", stats, "Print the transfer counters to stderr at the end");
  const fxsim::ProgramOptions program_options(app);
  app.add_option("command", command, "Program to run with the calculator attached")->type_name("COMMAND");
  app.positionals_at_end();
  CLI11_PARSE(app, argc, argv);

  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  try {
    const fxsim::CalculatorModel& model = program_options.Model();
    if (!model.usb) throw std::invalid_argument("the " + model.name + " has no USB port");
    fxsim::UsbCalculatorConfig config;
    if (!flash_file.empty()) config.flash = fxsim::ReadMemoryImageFile(flash_file);
    if (!ram_file.empty()) config.ram = fxsim::ReadMemoryImageFile(ram_file);
    config.packet_delay_ms = delay_ms;
    config.product = static_cast<std::uint16_t>(std::stoul(product_text, nullptr, 16));
    config.zero_length_packets = zero_length;
    config.kernel_driver = driver;
    for (const std::string& text : fault_texts) config.faults.push_back(fxsim::FaultSpec::Parse(text));
    program_options.Apply(config.program, config.device_info);
    config.report = [](const std::string& line) { std::cerr << "ostrel-usb-sim: " << line << std::endl; };

    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    {
      fxsim::UsbCalculator calculator(std::move(config));
      if (command.empty()) {
        std::cout << "umockdev-dir: " << calculator.RootDir() << "\nusb: " << calculator.NodePath() << std::endl;
        pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
        int signal_number = 0;
        sigwait(&stop_signals, &signal_number);
      } else {
        // Ctrl-C reaches the command, which ends its operation; this program waits for it.
        signal(SIGINT, SIG_IGN);
        status = RunCommand(command);
      }
      if (stats) {
        PrintCounters(calculator.Counters(),
                      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      }
    }
    return status;
  } catch (const std::exception& e) {
    std::cerr << "ostrel-usb-sim: " << e.what() << '\n';
    return 1;
  }
}
