// `ostrel devices` as a user runs it: both lists, each with its line when nothing is found.

#include <gtest/gtest.h>

#include "support/program_run.h"
#include "support/temporary_folder.h"

namespace {

TEST(DevicesCommand, ListsSerialPortsAndCalculatorsOnUsb) {
  ostrel::testing::TemporaryFolder folder;
  const ostrel::testing::ProgramRun r = ostrel::testing::RunProgramIn(folder.Path(), OSTREL_PROGRAM, "devices");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::size_t serial = r.out.find("Serial ports (--serial PORT):\n");
  const std::size_t usb = r.out.find("Calculators on USB (--usb):\n");
  ASSERT_EQ(serial, 0u) << r.out;
  ASSERT_NE(usb, std::string::npos) << r.out;
  // Every entry line stands below its heading, indented; an empty list says so.
  EXPECT_EQ(r.out.substr(serial).find("\n  "), r.out.find('\n')) << r.out;
  EXPECT_NE(r.out.find("\n  ", usb), std::string::npos) << r.out;
}

}  // namespace
