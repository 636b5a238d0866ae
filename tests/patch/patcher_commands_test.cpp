// The script commands one by one: a small target, a few script lines, and the bytes,
// the error text and the report lines that must come out.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "patch_fixture.h"

namespace ostrel::testing {
namespace {

struct CommandCase {
  const char* name;
  const char* target;    // the target's bytes before the run, in hex
  const char* script;    // lines after the target is opened, "\n"-separated
  const char* expected;  // the target's bytes after the run, in hex
  const char* error;     // the run's error text ("" for a run without error)
  std::vector<std::string> reports;  // report lines of the script's lines
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

class CommandTest : public PatchTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandTest, WritesReportsAndFails) {
  const CommandCase& c = GetParam();
  Write("t.bin", HexBytes(c.target));
  Run(std::string("DIRECTORY=@DIR@\nTARGETFILE=t.bin\n") + c.script);
  EXPECT_EQ(ToHex(Read("t.bin")), ToHex(HexBytes(c.expected)));
  EXPECT_EQ(patcher_->ErrorText(), c.error);
  EXPECT_EQ(CommandReports(), c.reports);
}

const CommandCase kCommandCases[] = {
    // Writing: overwrite, extend, position after the last byte written.
    {"InsertListOverwritesAndExtends", "00 00 00 00", "GOTO=2\nINSERTLIST=1,2,$3,x04\nINSERTLIST=$1FF",
     "00 00 01 02 03 04 FF", "",
     {"GOTO=2 -> 00000002", "INSERTLIST=1,2,$3,x04 -> 4", "INSERTLIST=$1FF -> 1"}},
    {"InsertStringWritesTextAndZero", "", "INSERTSTRING=\"AB\"", "41 42 00", "",
     {"INSERTSTRING=\"AB\" -> \"AB\""}},
    {"InsertCharRepeatsAByte", "", "INSERTCHAR=$FF,3\nINSERTCHAR=\nINSERTCHAR=7,0\nINSERTCHAR=7,-3", "FF FF FF 00", "",
     {"INSERTCHAR=$FF,3 -> 3", "INSERTCHAR= -> 1", "INSERTCHAR=7,0 -> 0", "INSERTCHAR=7,-3 -> -3"}},
    {"InsertCharCountBeyondTheLimitIsAnError", "01", "INSERTCHAR=0,100000000", "01",
     "Count exceeds 64 MiB! INSERTCHAR=0,100000000", {}},
    {"InsertFileSizeBigEndian", "11 11 11 11 11", "INSERTFILESIZE", "00 00 00 05 11", "",
     {"INSERTFILESIZE -> 00000000=00000005"}},
    {"InsertFileSizeInvertedLittleEndianAdjusted", "11 11 11 11 11 11",
     "INVERT=TRUE\nBIGENDIAN=FALSE\nADJUSTMENT=2\nGOTO=1\nINSERTFILESIZE", "11 F7 FF FF FF 11", "",
     {"INVERT=TRUE -> TRUE", "BIGENDIAN=FALSE -> FALSE", "ADJUSTMENT=2 -> 2", "GOTO=1 -> 00000001",
      "INSERTFILESIZE -> 00000001=F7FFFFFF"}},
    // Copy and paste.
    {"CopyAdvancesSoPasteDuplicates", "01 02 03 04 05 06", "GOTO=1\nCOPY=2\nPASTE", "01 02 03 02 03 06", "",
     {"GOTO=1 -> 00000001", "COPY=2 -> 2", "PASTE -> 2"}},
    {"PasteOfOneByteAddsTheAdjustment", "FF 11", "ADJUSTMENT=1\nCOPY=1\nPASTE", "FF 00", "",
     {"ADJUSTMENT=1 -> 1", "COPY=1 -> 1", "PASTE -> 1"}},
    {"PasteWithoutCopyFails", "01", "PASTE\nCOPY=0\nPASTE", "01", "",
     {"PASTE -> failed", "COPY=0 -> failed", "PASTE -> failed"}},
    {"CopyBeyondTheEndIsAnError", "01 02 03", "GOTO=1\nCOPY=3", "01 02 03", "Size exceeds filesize! COPY=3",
     {"GOTO=1 -> 00000001", "COPY=3 -> failed"}},
    // Checksums.
    {"ChecksumOverARangeSavedAtTheEnd", "01 02 03 04", "CHKSUM_INIT=0\nCHKSUM_CALC=0,3\nCHKSUM_SAVE=FILESIZE\nINSERTLIST=$EE",
     "EE 02 03 04 00 00 00 0A", "",
     {"CHKSUM_INIT=0 -> 00000000", "CHKSUM_CALC=0,3 -> 0000000A", "CHKSUM_SAVE=FILESIZE -> 00000004=0000000A",
      "INSERTLIST=$EE -> 1"}},
    {"ChecksumLinesAccumulateAndWrap", "01 02 FF", "CHKSUM_INIT=$FFFFFFFF\nCHKSUM_CALC=0,0\nCHKSUM_CALC=2,2\nBIGENDIAN=FALSE\nCHKSUM_SAVE=1",
     "01 FF 00 00 00", "",
     {"CHKSUM_INIT=$FFFFFFFF -> FFFFFFFF", "CHKSUM_CALC=0,0 -> 00000000", "CHKSUM_CALC=2,2 -> 000000FF",
      "BIGENDIAN=FALSE -> FALSE", "CHKSUM_SAVE=1 -> 00000001=FF000000"}},
    {"ChecksumEndAtFileSizeIsAnError", "01 02", "CHKSUM_CALC=0,FILESIZE", "01 02",
     "End-position exceeds filesize! CHKSUM_CALC=0,FILESIZE", {}},
    {"ChecksumToFileSizeMinusOneSumsAll", "01 02 03", "ADJUSTMENT=-1\nCHKSUM_CALC=0,FILESIZE", "01 02 03", "",
     {"ADJUSTMENT=-1 -> -1", "CHKSUM_CALC=0,FILESIZE -> 00000006"}},
    {"ChecksumStartBeyondTheEndIsAnError", "01 02", "CHKSUM_CALC=2,1", "01 02",
     "Start-position exceeds filesize! CHKSUM_CALC=2,1", {}},
    {"ChecksumEndBelowStartAddsNothing", "01 02 03", "CHKSUM_INIT=5\nCHKSUM_CALC=2,1", "01 02 03", "",
     {"CHKSUM_INIT=5 -> 00000005", "CHKSUM_CALC=2,1 -> 00000005"}},
    {"ChecksumSaveBeyondTheEndIsAnError", "01 02", "CHKSUM_SAVE=3", "01 02",
     "Position exceeds filesize! CHKSUM_SAVE=3", {}},
    // Checks.
    {"CheckStringMatches", "00 41 42", "CHECKSTRING=1,\"AB\"", "00 41 42", "",
     {"CHECKSTRING=1,\"AB\" -> 00000001==\"AB\""}},
    {"CheckStringMismatchKeepsTheResult", "41 42", "CHECKSTRING=0,AC", "41 42",
     "Check failed! CHECKSTRING=0,AC vs. AB", {"CHECKSTRING=0,AC -> 00000000==AC"}},
    {"CheckStringPastTheEndFailsAtTheMissingByte", "00 41", "CHECKSTRING=1,AB", "00 41",
     "Check failed! CHECKSTRING=1,AB vs. A", {"CHECKSTRING=1,AB -> 00000001==AB"}},
    {"CheckStringPositionBeyondTheEndIsAnError", "41", "CHECKSTRING=1,A", "41",
     "Position exceeds filesize! CHECKSTRING=1,A", {}},
    {"CheckListMatchesAndRestoresThePosition", "01 02 03", "CHECKLIST=1,2,$03\nINSERTLIST=9", "09 02 03", "",
     {"CHECKLIST=1,2,$03 -> 00000001 2", "INSERTLIST=9 -> 1"}},
    {"CheckListMismatchShowsFourBytes", "41 42 43 44 45", "CHECKLIST=0,$41,$42,$43,$44,$46", "41 42 43 44 45",
     "Check failed! CHECKLIST=0,$41,$42,$43,$44,$46 vs. 41424344", {"CHECKLIST=0,$41,$42,$43,$44,$46 -> 00000000 5"}},
    // Positions.
    {"GotoAddsFileOffsetAndSubtractsCodeOffset", "", "FILEOFFSET=$100\nCODEOFFSET=$80\nGOTO=$10", "", "",
     {"FILEOFFSET=$100 -> 00000100", "CODEOFFSET=$80 -> 00000080", "GOTO=$10 -> 00000090"}},
    {"GotoFileSizeWithAdjustment", "01 02 03 04 05 06", "ADJUSTMENT=-4\nGOTO=FILESIZE\nINSERTLIST=0", "01 02 00 04 05 06", "",
     {"ADJUSTMENT=-4 -> -4", "GOTO=FILESIZE -> 00000002", "INSERTLIST=0 -> 1"}},
    {"GotoBeyondMaxSizeIsAnError", "", "MAXSIZE=$1000\nGOTO=$1001", "", "Position exceeds max allowed size! GOTO=$1001",
     {"MAXSIZE=$1000 -> 00001000"}},
    {"GotoBeyondTheEndLeavesTheTargetUntilAWrite", "01", "GOTO=3\nCHECKLIST=0,1\nGOTO=3\nINSERTLIST=2", "01 00 00 02", "",
     {"GOTO=3 -> 00000003", "CHECKLIST=0,1 -> 00000000 1", "GOTO=3 -> 00000003", "INSERTLIST=2 -> 1"}},
    {"GotoWithAutoExpandAppendsZeros", "01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01",
     "VARIABLES=AUTOEXPAND\nAUTOEXPAND=TRUE\nGOTO=$20",
     "01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "",
     {"variable: VARIABLES=AUTOEXPAND", "variable: AUTOEXPAND=TRUE", "GOTO=$20 -> 00000020"}},
    {"GotoWithAutoExpandBeyondTheLimitIsAnError", "01", "VARIABLES=AUTOEXPAND\nAUTOEXPAND=TRUE\nGOTO=$7FFFFFF", "01",
     "Expansion exceeds 64 MiB! GOTO=$7FFFFFF", {"variable: VARIABLES=AUTOEXPAND", "variable: AUTOEXPAND=TRUE"}},
    {"GotoBelowZeroIsAnError", "01", "GOTO=-1", "01", "Position below 0! GOTO=-1", {}},
    {"GotoNamesAnyCaseButNoBlankBeforeTheEquals", "01 02", "goto=1\nGoto =0\nINSERTLIST=7", "01 07", "",
     {"goto=1 -> 00000001", "Unknown command at lineNo: 4(ignored)\r\nGoto =0", "INSERTLIST=7 -> 1"}},
    // Settings.
    {"AdjustmentForms", "", "ADJUSTMENT=-$10\nADJUSTMENT=-16\nADJUSTMENT=abc\nADJUSTMENT= - $ 1 0\nADJUSTMENT=$FFFFFFFF", "", "",
     {"ADJUSTMENT=-$10 -> -16", "ADJUSTMENT=-16 -> -16", "ADJUSTMENT=abc -> 0", "ADJUSTMENT= - $ 1 0 -> -16",
      "ADJUSTMENT=$FFFFFFFF -> -1"}},
    {"LenientOffsetsAndSizes", "", "FILEOFFSET=-1\nCODEOFFSET=nonsense\nMAXSIZE=", "", "",
     {"FILEOFFSET=-1 -> FFFFFFFF", "CODEOFFSET=nonsense -> 00000000", "MAXSIZE= -> 00000000"}},
    {"FlagsAreTrueOnlyForTrue", "", "BIGENDIAN=true\nREPORTALL=yes\nTARGETLOCK=FALSE\nTARGETUNLOCK=True", "", "",
     {"BIGENDIAN=true -> TRUE", "REPORTALL=yes -> FALSE", "TARGETLOCK=FALSE -> FALSE", "TARGETUNLOCK=True -> TRUE"}},
    {"DelimSeparatesTheFields", "", "DELIM=;\nINSERTLIST=1;2", "01 02", "",
     {"DELIM=; -> \";\"", "INSERTLIST=1;2 -> 2"}},
    {"ObsoleteAndSilentCommands", "", "FONTADDR=$1234\nPRINTLIST=anything", "", "",
     {"FONTADDR=$1234FONTADDR: obsolete."}},
    {"DisplayAddrBeyondTheEndIsAnError", "00 00", "DISPLAYADDR=2", "00 00", "Position exceeds filesize! DISPLAYADDR=2",
     {}},
};

INSTANTIATE_TEST_SUITE_P(Commands, CommandTest, ::testing::ValuesIn(kCommandCases),
                         [](const ::testing::TestParamInfo<CommandCase>& info) { return info.param.name; });

}  // namespace
}  // namespace ostrel::testing
