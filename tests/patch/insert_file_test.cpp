// INSERTFILE with its insert list file, and the assembler source of MAKECSOURCE.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "patch_fixture.h"

namespace ostrel::testing {
namespace {

using ::testing::ElementsAre;

std::string Counting(int count, int first = 0) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += static_cast<char>(first + i);
  return bytes;
}

TEST_F(PatchTest, InsertFileWritesTheBytesAndTheirInsertList) {
  Write("t.bin", "");
  Write("part.bin", Counting(40));
  ASSERT_TRUE(Run("DIRECTORY=@DIR@\nTARGETFILE=t.bin\nINSERTFILE=\"part.bin\",,,@DIR@part.lst"));
  EXPECT_EQ(Read("t.bin"), Counting(40));
  EXPECT_EQ(Read("part.lst"),
            "INSERTLIST=$00,$01,$02,$03,$04,$05,$06,$07,$08,$09,$0A,$0B,$0C,$0D,$0E,$0F\r\n"
            "INSERTLIST=$10,$11,$12,$13,$14,$15,$16,$17,$18,$19,$1A,$1B,$1C,$1D,$1E,$1F\r\n"
            "INSERTLIST=$20,$21,$22,$23,$24,$25,$26,$27\r\n");
  EXPECT_THAT(CommandReports(), ElementsAre("INSERTFILE=\"part.bin\",,,@DIR@part.lst\r\n -> @DIR@part.bin"));

  // The list, run as a script, writes the same bytes.
  NewPatcher();
  Write("u.bin", "");
  Write("replay.psc", "DIRECTORY=" + Dir() + "\nTARGETFILE=u.bin\n" + Read("part.lst"));
  ASSERT_TRUE(patcher_->RunPatchScript(File("replay.psc")));
  EXPECT_EQ(Read("u.bin"), Counting(40));
}

TEST_F(PatchTest, InsertListFileUsesTheCurrentDelimiter) {
  Write("t.bin", "");
  Write("part.bin", Counting(3, 0xFD));
  ASSERT_TRUE(Run("DIRECTORY=@DIR@\nTARGETFILE=t.bin\nDELIM=;\nINSERTFILE=part.bin;0;0;@DIR@part.lst"));
  EXPECT_EQ(Read("part.lst"), "INSERTLIST=$FD;$FE;$FF\r\n");
}

struct InsertFileCase {
  const char* name;
  const char* value;    // after "INSERTFILE=part.bin"
  const char* written;  // the target afterwards, in hex
  const char* error;    // with the line appended where the message takes it
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const InsertFileCase& c, std::ostream* os) { *os << c.name; }

class InsertFileTest : public PatchTest, public ::testing::WithParamInterface<InsertFileCase> {};

TEST_P(InsertFileTest, SizeAndOffset) {
  const InsertFileCase& c = GetParam();
  Write("t.bin", "");
  Write("part.bin", Counting(8, 1));
  const std::string line = std::string("INSERTFILE=part.bin") + c.value;
  Run("DIRECTORY=@DIR@\nTARGETFILE=t.bin\n" + line);
  EXPECT_EQ(ToHex(Read("t.bin")), ToHex(HexBytes(c.written)));
  const std::string error = c.error;
  EXPECT_EQ(patcher_->ErrorText(), error.empty() || error.starts_with(" ->") ? error : error + line);
}

const InsertFileCase kInsertFileCases[] = {
    {"WholeFile", "", "01 02 03 04 05 06 07 08", ""},
    {"SizeOnly", ",3", "01 02 03", ""},
    {"OffsetOnly", ",0,5", "06 07 08", ""},
    {"SizeAndOffset", ",2,$3", "04 05", ""},
    {"UpToTheEnd", ",4,4", "05 06 07 08", ""},
    {"SizeBeyondTheFile", ",5,4", "", "Size exceeds filesize! "},
    {"SizeOfGigabytes", ",$7FFFFFFF,4", "", "Size exceeds filesize! "},
    {"OffsetAtTheEnd", ",0,8", "", "Size missing! "},
    {"NegativeSize", ",-2", "", "Size missing! "},
    {"NegativeOffset", ",0,-4", "", "Offset below 0! "},
    {"MissingFile", "x", "", " -> File error"},
};

INSTANTIATE_TEST_SUITE_P(InsertFile, InsertFileTest, ::testing::ValuesIn(kInsertFileCases),
                         [](const ::testing::TestParamInfo<InsertFileCase>& info) { return info.param.name; });

TEST_F(PatchTest, MissingInsertFileIsReportedWithTheLine) {
  Write("t.bin", "");
  EXPECT_FALSE(Run("DIRECTORY=@DIR@\nTARGETFILE=t.bin\nINSERTFILE=none.bin"));
  EXPECT_THAT(CommandReports(), ElementsAre("INSERTFILE=none.bin -> File error"));
}

TEST_F(PatchTest, MakeCSourceWritesGroupsOfSixteenAndTheRest) {
  Write("t.bin", Counting(0x30));
  ASSERT_TRUE(Run("DIRECTORY=@DIR@\nTARGETFILE=t.bin\nGOTO=$10\nMAKECSOURCE=@DIR@os.src,$A0010000,20\nINSERTLIST=$EE"));
  EXPECT_EQ(Read("os.src"),
            "\t.align 4\r\n"
            "OSBLOCK:\t.DATA.L h'A0010000,h'00000014\r\n"
            "A0010000\t.DATA.B h'10,h'11,h'12,h'13,h'14,h'15,h'16,h'17,h'18,h'19,h'1A,h'1B,h'1C,h'1D,h'1E,h'1F\r\n"
            "A0010010\t.DATA.B h'20,h'21,h'22,h'23\r\n");
  EXPECT_EQ(static_cast<unsigned char>(Read("t.bin")[0x10]), 0xEE) << "the position came back";
  EXPECT_THAT(CommandReports(), ElementsAre("GOTO=$10 -> 00000010", "INSERTLIST=$EE -> 1")) << "no result text";
}

TEST_F(PatchTest, MakeCSourceReadsOnlyWhatTheTargetHas) {
  Write("t.bin", Counting(4));
  ASSERT_TRUE(Run("DIRECTORY=@DIR@\nTARGETFILE=t.bin\nMAKECSOURCE=@DIR@os.src,0,$10000000"));
  EXPECT_EQ(Read("os.src"),
            "\t.align 4\r\nOSBLOCK:\t.DATA.L h'00000000,h'10000000\r\n00000000\t.DATA.B h'00,h'01,h'02,h'03\r\n");
}

}  // namespace
}  // namespace ostrel::testing
