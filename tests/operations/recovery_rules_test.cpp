// The rules of OS recovery that need no calculator: the write limit, the accepted image
// sizes and the calculator ID match.

#include <gtest/gtest.h>

#include "imagegen/image_generator.h"
#include "operations/os_recovery.h"
#include "support/temporary_folder.h"

namespace ostrel {
namespace {

TEST(RecoveryWriteLimit, FollowsTheMachineAndTheStorageMemoryOptions) {
  struct Case {
    std::uint16_t bios_type;
    TOptionWord options;
    std::uint64_t size;
    std::uint32_t limit;
  };
  const Case cases[] = {
      {5, 0, 0x200000, 0x1F},
      {5, OPT_INCLUDE_SMEM | OPT_DELETE_SMEM, 0x200000, 0x1F},
      {2, OPT_INCLUDE_SMEM, 0x400000, 0x3F},
      {2, OPT_INCLUDE_SMEM | OPT_DELETE_SMEM, 0x270000, 0x3F},
      {2, OPT_INCLUDE_SMEM, 0x270000, 0x26},
      {2, OPT_DELETE_SMEM, 0x270000, 0x3F},
      {2, OPT_DELETE_SMEM, 0x400000, 0x3F},
      {2, 0, 0x270000, 0x26},
      {2, 0, 0x400000, 0x26},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RecoveryWriteLimit(c.bios_type, c.options, c.size), c.limit)
        << c.bios_type << " " << c.options << " " << c.size;
  }
  EXPECT_TRUE(IsAcceptedImageSize(5, 0x200000));
  EXPECT_FALSE(IsAcceptedImageSize(5, 0x270000));
  EXPECT_TRUE(IsAcceptedImageSize(2, 0x270000));
  EXPECT_TRUE(IsAcceptedImageSize(7, 0x400000));
  EXPECT_FALSE(IsAcceptedImageSize(2, 0x200000));
  EXPECT_FALSE(IsAcceptedImageSize(2, 0x300000));
}

TEST(MatchBiosId, ComparesEveryByteButErasedOnes) {
  testing::TemporaryFolder folder;
  TestImageSpec spec;
  spec.calc_id = "ABCDEFGH";
  const std::string named = folder.File("named.fls");
  WriteTestImage(spec, named);
  spec.erased_calc_id = true;
  const std::string erased = folder.File("erased.fls");
  WriteTestImage(spec, erased);

  TOsBiosRecord record;
  const std::string id = "ABCDEFGH";
  std::copy(id.begin(), id.end(), record.bios_id.begin());
  EXPECT_TRUE(MatchBiosId(named, record, 0));
  record.bios_id[7] = 'X';
  EXPECT_FALSE(MatchBiosId(named, record, 0));
  EXPECT_TRUE(MatchBiosId(named, record, OPT_IGNORE_ID));
  EXPECT_TRUE(MatchBiosId(erased, record, 0));
  // With OPT_IGNORE_ID the file is not even opened.
  EXPECT_TRUE(MatchBiosId(folder.File("missing.fls"), record, OPT_IGNORE_ID));
}

}  // namespace
}  // namespace ostrel

#include <fstream>

#include "env/app_env.h"
#include "operations/link_session.h"

namespace ostrel::testing {
namespace {

TEST(ResolveLinkTarget, ASerialPortComesFromTheSettingsUnlessTheTargetNamesOne) {
  const TemporaryFolder folder;
  const std::string ini = folder.File("settings.ini");
  std::ofstream(ini) << "[PROGRAM]\nCOMPORT=/dev/ttyCONFIGURED\n";
  const std::string previous = AppEnv().PGetValue("IF");
  AppEnv().PSetValue("IF", ini);
  EXPECT_EQ(ResolveLinkTarget(LinkKind::Serial, {}).serial_port, "/dev/ttyCONFIGURED");
  TLinkTarget given;
  given.serial_port = "/dev/ttyGIVEN";
  EXPECT_EQ(ResolveLinkTarget(LinkKind::Serial, given).serial_port, "/dev/ttyGIVEN");
  EXPECT_FALSE(ResolveLinkTarget(LinkKind::Usb, {}).serial_port) << "a USB link has no port";
  AppEnv().PSetValue("IF", previous);
}

}  // namespace
}  // namespace ostrel::testing
