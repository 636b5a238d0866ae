#include "link/port_discovery.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "link/connection_string.h"
#include "link/serial_port.h"
#include "link_test_support.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

// A device folder whose nodes are links to pseudo-terminals, and a settings file.
class PortDiscoveryTest : public ::testing::Test {
 protected:
  std::string Node(const std::string& name) const { return devices_.File(name); }

  // A node that is a working serial port.
  std::string AddPort(const std::string& name) {
    ptys_.push_back(std::make_unique<testing::TPtyPair>());
    fs::create_directories(fs::path(Node(name)).parent_path());
    fs::create_symlink(ptys_.back()->SlavePath(), Node(name));
    return Node(name);
  }

  TIniFile Settings() const { return TIniFile(settings_folder_.File("ostrel.ini")); }

  testing::TemporaryFolder devices_;
  testing::TemporaryFolder settings_folder_;
  std::vector<std::unique_ptr<testing::TPtyPair>> ptys_;
};

TEST_F(PortDiscoveryTest, AConfiguredPortThatIsGoneIsReplacedByTheFirstOneFound) {
  AddPort("ttyUSB4");
  AddPort("ttyUSB2");
  AddPort("ttyUSB10");
  // Not ports: a plain file, a dangling link, a name with more than digits after the prefix.
  std::ofstream(Node("ttyS3")) << "x";
  fs::create_symlink(Node("nothing"), Node("ttyACM1"));
  AddPort("ttyUSB2x");
  TIniFile settings = Settings();
  settings.WriteString("PROGRAM", "COMPORT", Node("ttyUSB7"));

  std::vector<std::string> ports;
  std::string chosen;
  ListComPorts(ports, chosen, settings, devices_.Path());
  EXPECT_EQ(ports, (std::vector<std::string>{Node("ttyUSB2"), Node("ttyUSB4"), Node("ttyUSB10")}));
  EXPECT_EQ(chosen, Node("ttyUSB2"));
  EXPECT_EQ(settings.ReadString("PROGRAM", "COMPORT", ""), Node("ttyUSB2"));
}

TEST_F(PortDiscoveryTest, AConfiguredPortThatIsPresentIsKept) {
  AddPort("ttyUSB2");
  AddPort("ttyACM0");
  TIniFile settings = Settings();
  settings.WriteString("PROGRAM", "COMPORT", Node("ttyACM0"));
  std::vector<std::string> ports;
  std::string chosen;
  ListComPorts(ports, chosen, settings, devices_.Path());
  EXPECT_EQ(ports, (std::vector<std::string>{Node("ttyUSB2"), Node("ttyACM0")}));
  EXPECT_EQ(chosen, Node("ttyACM0"));
  EXPECT_EQ(settings.ReadString("PROGRAM", "COMPORT", ""), Node("ttyACM0"));
}

TEST_F(PortDiscoveryTest, WithoutAnyPortTheChoiceIsEmptyAndTheSettingStays) {
  TIniFile settings = Settings();
  for (const char* configured : {"", "/dev/ttyUSB7"}) {
    if (*configured) settings.WriteString("PROGRAM", "COMPORT", configured);
    std::vector<std::string> ports{"stale"};
    std::string chosen = "stale";
    ListComPorts(ports, chosen, settings, devices_.Path());
    EXPECT_TRUE(ports.empty());
    EXPECT_EQ(chosen, "");
    EXPECT_EQ(settings.ValueExists("PROGRAM", "COMPORT"), *configured != '\0');
    EXPECT_EQ(settings.ReadString("PROGRAM", "COMPORT", ""), configured);
  }
}

TEST_F(PortDiscoveryTest, StableNamesComeFirstAndEachDeviceIsListedOnce) {
  std::string stable = AddPort("serial/by-id/usb-Prolific_USB-Serial_Controller-if00-port0");
  fs::create_symlink(ptys_.back()->SlavePath(), Node("ttyUSB0"));
  AddPort("ttyUSB1");
  TIniFile settings = Settings();
  // The configured name is the same device as the stable name: it counts as found.
  settings.WriteString("PROGRAM", "COMPORT", Node("ttyUSB0"));
  std::vector<std::string> ports;
  std::string chosen;
  ListComPorts(ports, chosen, settings, devices_.Path());
  EXPECT_EQ(ports, (std::vector<std::string>{stable, Node("ttyUSB1")}));
  EXPECT_EQ(chosen, stable);
  EXPECT_EQ(settings.ReadString("PROGRAM", "COMPORT", ""), Node("ttyUSB0"));
}

TEST_F(PortDiscoveryTest, APortInUseIsNotFound) {
  AddPort("ttyUSB0");
  AddPort("ttyUSB1");
  tSio holder(SystemSerialConnection(ptys_.front()->SlavePath(), 9600));
  ASSERT_GE(holder.Handle(), 0);
  EXPECT_EQ(ProbeSerialPorts(devices_.Path()), (std::vector<std::string>{Node("ttyUSB1")}));
}

TEST_F(PortDiscoveryTest, StatesListThePortsThatDoNotOpenWithTheReason) {
  AddPort("ttyUSB0");
  AddPort("ttyACM0");
  tSio holder(SystemSerialConnection(ptys_.back()->SlavePath(), 9600));
  ASSERT_GE(holder.Handle(), 0);
  std::ofstream(Node("ttyUSB1")) << "not a terminal";
  const auto states = SerialPortStates(devices_.Path());
  ASSERT_EQ(states.size(), 3u);
  EXPECT_EQ(states[0].path, Node("ttyUSB0"));
  EXPECT_TRUE(states[0].usable);
  EXPECT_EQ(states[1].path, Node("ttyUSB1"));
  EXPECT_FALSE(states[1].usable);
  EXPECT_EQ(states[1].why_not, Node("ttyUSB1") + " is not a serial port.");
  EXPECT_EQ(states[2].path, Node("ttyACM0"));
  EXPECT_EQ(states[2].why_not, Node("ttyACM0") + " is in use by another program.");
  EXPECT_EQ(ProbeSerialPorts(devices_.Path()), std::vector<std::string>{Node("ttyUSB0")});
}

TEST_F(PortDiscoveryTest, WithDetectionOffTheConfiguredPortIsTakenAsItIs) {
  AddPort("ttyUSB0");
  TIniFile settings = Settings();
  settings.WriteInteger("PROGRAM", "AUTOCOMPORTDETECTION", 0);
  std::vector<std::string> ports;
  std::string chosen;
  ListComPorts(ports, chosen, settings, devices_.Path());
  EXPECT_TRUE(ports.empty());
  EXPECT_EQ(chosen, "");
  EXPECT_FALSE(settings.ValueExists("PROGRAM", "COMPORT"));

  settings.WriteString("PROGRAM", "COMPORT", "/dev/ttyS9");
  ListComPorts(ports, chosen, settings, devices_.Path());
  EXPECT_EQ(ports, (std::vector<std::string>{"/dev/ttyS9"}));
  EXPECT_EQ(chosen, "/dev/ttyS9");
}

}  // namespace
}  // namespace ostrel
