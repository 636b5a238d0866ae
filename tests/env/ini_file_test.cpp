#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "base/error.h"
#include "env/env_fixture.h"
#include "env/ini_file.h"
#include "support/ordinary_user.h"
#include "support/case_names.h"

namespace ostrel {
namespace {

using testing::FolderEntries;
using testing::ReadFileText;
using testing::RunAsOrdinaryUser;
using testing::TemporaryFolder;
using testing::WriteFileText;
using Strings = std::vector<std::string>;

class IniFileTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name = "test.INI") const { return tmp / name; }
  TemporaryFolder tmp;
};

TEST_F(IniFileTest, MissingFileSectionOrKeyReadsAsDefault) {
  TIniFile missing(Path("nothing.INI"));
  EXPECT_EQ(missing.ReadString("PROGRAM", "COMPORT", "COM1"), "COM1");
  EXPECT_EQ(missing.ReadInteger("PROGRAM", "CABLE", 1), 1);
  EXPECT_TRUE(missing.ReadSections().empty());
  EXPECT_FALSE(missing.SectionExists("PROGRAM"));

  WriteFileText(Path(), "[PROGRAM]\nCABLE=0\n");
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadString("PROGRAM", "COMPORT", "COM1"), "COM1");
  EXPECT_EQ(ini.ReadString("WINDOW", "LEFT", "x"), "x");
  EXPECT_EQ(ini.ReadInteger("PROGRAM", "CABLE", 1), 0);
  EXPECT_FALSE(ini.ValueExists("PROGRAM", "COMPORT"));
  EXPECT_TRUE(ini.ValueExists("program", "cable"));
}

TEST_F(IniFileTest, NamesCompareWithoutCaseAndValuesStandAsWritten) {
  WriteFileText(Path(),
                "; a comment\r\n[Program]\r\n  ComPort = /dev/ttyS0 \r\nURL=a=b=c\r\nEMPTY=\r\n"
                "[LCD_CONTRAST]\nANY_MACHINE=150\n");
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadString("PROGRAM", "COMPORT", ""), " /dev/ttyS0 ") << "keys trimmed, values as written";
  EXPECT_EQ(ini.ReadString("program", "url", ""), "a=b=c") << "the value starts after the first =";
  EXPECT_EQ(ini.ReadString("PROGRAM", "EMPTY", "default"), "");
  EXPECT_EQ(ini.ReadInteger("lcd_contrast", "any_machine", -1), 150);
  EXPECT_EQ(ini.ReadSectionValues("PROGRAM"), (Strings{"ComPort= /dev/ttyS0 ", "URL=a=b=c", "EMPTY="}));
}

TEST_F(IniFileTest, WritesKeepOrderSpellingAndOtherLines) {
  WriteFileText(Path(), "; keep me\n[WINDOW]\nLEFT=1\n\n[PROGRAM]\nCable=1\n");
  TIniFile ini(Path());
  ini.WriteString("program", "CABLE", "0");
  ini.WriteString("WINDOW", "TOP", "2");
  ini.WriteInteger("AppEnv", "OS_MJV", -3);
  ini.WriteString("PROGRAM", "COMPORT", "/dev/ttyUSB0");
  EXPECT_EQ(ReadFileText(Path()),
            "; keep me\n[WINDOW]\nLEFT=1\nTOP=2\n\n[PROGRAM]\nCable=0\nCOMPORT=/dev/ttyUSB0\n\n[AppEnv]\nOS_MJV=-3\n");
  EXPECT_EQ(ini.ReadSections(), (Strings{"WINDOW", "PROGRAM", "AppEnv"}));
  EXPECT_EQ(ini.ReadSection("Program"), (Strings{"Cable", "COMPORT"}));
  EXPECT_TRUE(ini.ReadSection("nothing").empty());
}

TEST_F(IniFileTest, WritesKeepTheLineEndingsAndValuesOfOtherLines) {
  // A value may end in a carriage return of its own before the CRLF line ending.
  WriteFileText(Path(), "[A]\r\nK=v\r\r\nL=w\r\n");
  TIniFile ini(Path());
  ASSERT_EQ(ini.ReadString("A", "K", ""), "v\r");
  ini.WriteString("A", "NEW", "1");
  ini.WriteString("A", "NEW", "2");
  EXPECT_EQ(ini.ReadString("A", "K", ""), "v\r");
  EXPECT_EQ(ini.ReadString("A", "L", ""), "w");
  ini.DeleteKey("A", "NEW");
  EXPECT_EQ(ReadFileText(Path()), "[A]\r\nK=v\r\r\nL=w\r\n");
}

TEST_F(IniFileTest, FirstOccurrenceOfARepeatedSectionOrKeyCounts) {
  WriteFileText(Path(), "[A]\nK=first\nK=second\n[B]\nX=1\n[a]\nK=third\nL=only in the repeat\n");
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadString("A", "K", ""), "first");
  EXPECT_EQ(ini.ReadString("A", "L", "none"), "none");
  EXPECT_EQ(ini.ReadSections(), (Strings{"A", "B"}));
  EXPECT_EQ(ini.ReadSection("A"), (Strings{"K"}));

  ini.WriteString("A", "K", "new");
  EXPECT_EQ(ini.ReadString("A", "K", ""), "new");
  ini.DeleteKey("A", "K");
  EXPECT_FALSE(ini.ValueExists("A", "K")) << "every occurrence of the key in the section goes";
  ini.EraseSection("A");
  EXPECT_FALSE(ini.SectionExists("A")) << "the repeated header goes too";
  EXPECT_EQ(ReadFileText(Path()), "[B]\nX=1\n");
}

TEST_F(IniFileTest, SectionNamesMayHoldClosingBrackets) {
  // File names such as "x[1].fls" name sections of the image repository.
  TIniFile ini(Path());
  ini.WriteString("x[1].fls", "FILESIZE", "00270000");
  ini.WriteString("a]b", "K", "1");
  ini.WriteString("x[1].fls", "CALCID", "ID");
  EXPECT_EQ(ini.ReadSections(), (Strings{"x[1].fls", "a]b"}));
  EXPECT_EQ(ini.ReadSectionValues("X[1].FLS"), (Strings{"FILESIZE=00270000", "CALCID=ID"}));
  EXPECT_EQ(ini.ReadString("a]b", "K", ""), "1");
  ini.EraseSection("x[1].fls");
  EXPECT_EQ(ini.ReadSections(), Strings{"a]b"});

  // A header followed by other text still ends at its first bracket.
  WriteFileText(Path("comment.INI"), "[PROGRAM] ; note\nCABLE=0\n");
  EXPECT_EQ(TIniFile(Path("comment.INI")).ReadInteger("PROGRAM", "CABLE", 1), 0);
}

TEST_F(IniFileTest, EraseAndDeleteOnlyWhatIsNamed) {
  WriteFileText(Path(), "[ONE]\nA=1\nB=2\n[TWO]\nA=3\n");
  TIniFile ini(Path());
  ini.DeleteKey("one", "a");
  ini.DeleteKey("ONE", "MISSING");
  ini.EraseSection("MISSING");
  EXPECT_EQ(ReadFileText(Path()), "[ONE]\nB=2\n[TWO]\nA=3\n");
  ini.EraseSection("two");
  EXPECT_EQ(ReadFileText(Path()), "[ONE]\nB=2\n");
  TIniFile(Path("absent.INI")).EraseSection("ONE");
  EXPECT_FALSE(std::filesystem::exists(Path("absent.INI"))) << "erasing in a missing file creates nothing";
}

TEST_F(IniFileTest, EveryAccessReadsTheFileAnew) {
  TIniFile ini(Path());
  ini.WriteString("PROGRAM", "CABLE", "1");
  WriteFileText(Path(), "[PROGRAM]\nCABLE=0\n");
  EXPECT_EQ(ini.ReadInteger("PROGRAM", "CABLE", 5), 0);
}

TEST_F(IniFileTest, FirstWriteCreatesTheFolder) {
  TIniFile ini(tmp / "a/b/c/new.INI");
  ini.WriteString("PROGRAM", "LastProject", "/p/x.PRJ");
  EXPECT_EQ(ReadFileText(tmp / "a/b/c/new.INI"), "[PROGRAM]\nLastProject=/p/x.PRJ\n");
  mode_t mask = ::umask(022);
  ::umask(mask);
  struct stat st {};
  ASSERT_EQ(::stat((tmp / "a/b/c/new.INI").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask) << "a new file gets the usual permissions, not the temporary file's";
}

TEST_F(IniFileTest, LineBreaksInAValueCannotForgeOtherLines) {
  TIniFile ini(Path());
  ini.WriteString("PROGRAM", "LastSavedFile", "x\n[AppEnv]\nIF=/evil");
  EXPECT_FALSE(ini.SectionExists("AppEnv"));
  EXPECT_EQ(ini.ReadString("PROGRAM", "LastSavedFile", ""), "x [AppEnv] IF=/evil");
  EXPECT_THROW(ini.WriteString("PROGRAM", "A=B", "1"), Error);
  EXPECT_THROW(ini.WriteString("SEC\nTION", "A", "1"), Error);
}

TEST_F(IniFileTest, IntegerAndFlagReadsFallBackOnOtherText) {
  WriteFileText(Path(), "[S]\nN=12x\nBIG=99999999999999999999\nNEG= -7 \nF1=true\nF2=f\nF3=1\nF4=No\nF5=\n");
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadInteger("S", "N", -1), -1);
  EXPECT_EQ(ini.ReadInteger("S", "BIG", -1), -1);
  EXPECT_EQ(ini.ReadInteger("S", "NEG", 0), -7);
  EXPECT_TRUE(ini.ReadFlag("S", "F1", false));
  EXPECT_FALSE(ini.ReadFlag("S", "F2", true));
  EXPECT_TRUE(ini.ReadFlag("S", "F3", false));
  EXPECT_TRUE(ini.ReadFlag("S", "F4", true)) << "other text gives the default";
  EXPECT_FALSE(ini.ReadFlag("S", "F4", false));
  EXPECT_TRUE(ini.ReadFlag("S", "F5", true));
}

struct FlagCase {
  const char* text;
  int expected;  // 1 yes, 0 no, -1 the default
};

// The case in words: how gtest shows it and what its test name is made from.
std::string Describe(const FlagCase& c) { return std::string(c.text); }
void PrintTo(const FlagCase& c, std::ostream* os) { *os << Describe(c); }

class FlagTextTest : public ::testing::TestWithParam<FlagCase> {};

TEST_P(FlagTextTest, YesNoOrDefault) {
  const FlagCase& c = GetParam();
  bool with_false_default = ParseFlagText(c.text, false);
  bool with_true_default = ParseFlagText(c.text, true);
  if (c.expected < 0) {
    EXPECT_FALSE(with_false_default);
    EXPECT_TRUE(with_true_default);
  } else {
    EXPECT_EQ(with_false_default, c.expected == 1);
    EXPECT_EQ(with_true_default, c.expected == 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, FlagTextTest,
                         ::testing::Values(FlagCase{"TRUE", 1}, FlagCase{"true", 1}, FlagCase{"T", 1},
                                           FlagCase{"t", 1}, FlagCase{"1", 1}, FlagCase{"FALSE", 0},
                                           FlagCase{"False", 0}, FlagCase{"f", 0}, FlagCase{"0", 0},
                                           FlagCase{"yes", -1}, FlagCase{"", -1}, FlagCase{"2", -1},
                                           FlagCase{"TRUEX", -1}),
                         ostrel::testing::DescribedName{});

// A failing write (here: the file size limit of the process) leaves the old file as it
// was and no temporary file behind. Works for root too, unlike a read-only folder.
TEST_F(IniFileTest, FailedWriteLeavesTheOldFileIntact) {
  const std::string old_text = "[PROGRAM]\nCABLE=1\n";
  WriteFileText(Path(), old_text);
  TIniFile ini(Path());

  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto saved_handler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool threw_io_error = false;
  try {
    ini.WriteString("PROGRAM", "LastSavedFile", std::string(200, 'x'));
  } catch (const IoError& e) {
    threw_io_error = true;
    EXPECT_EQ(e.Text(), "Unable to write to " + Path());
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, saved_handler);

  EXPECT_TRUE(threw_io_error);
  EXPECT_EQ(ReadFileText(Path()), old_text);
  EXPECT_EQ(FolderEntries(tmp.Path()), (Strings{"test.INI"}));
}

TEST_F(IniFileTest, WriteIntoReadOnlyFolderLeavesTheOldFileIntact) {
  const std::string old_text = "[PROGRAM]\nCABLE=1\n";
  WriteFileText(Path(), old_text);
  ASSERT_EQ(::chmod(tmp.Path().c_str(), 0555), 0);
  EXPECT_EQ(RunAsOrdinaryUser([&]() -> std::string {
              try {
                TIniFile(Path()).WriteString("PROGRAM", "CABLE", "0");
              } catch (const IoError&) {
                return "";
              }
              return "the write into a read-only folder raised no IoError";
            }),
            "");
  ::chmod(tmp.Path().c_str(), 0755);
  EXPECT_EQ(ReadFileText(Path()), old_text);
  EXPECT_EQ(FolderEntries(tmp.Path()), (Strings{"test.INI"}));
}

TEST_F(IniFileTest, AFifoInThePlaceOfTheFileIsNeitherWaitedForNorReplaced) {
  ASSERT_EQ(::mkfifo(Path().c_str(), 0600), 0);
  EXPECT_THROW(TIniFile(Path()).ReadString("PROGRAM", "CABLE", "1"), IoError);
  EXPECT_THROW(TIniFile(Path()).WriteString("PROGRAM", "CABLE", "0"), IoError);
  struct stat st {};
  ASSERT_EQ(::stat(Path().c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(FolderEntries(tmp.Path()), (Strings{"test.INI"}));
}

TEST_F(IniFileTest, WriteKeepsPermissionsAndSymbolicLinks) {
  std::string real = Path("real.INI");
  WriteFileText(real, "[S]\nA=1\n");
  ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
  std::filesystem::create_symlink(real, Path("link.INI"));
  TIniFile(Path("link.INI")).WriteString("S", "A", "2");
  EXPECT_TRUE(std::filesystem::is_symlink(Path("link.INI")));
  EXPECT_EQ(ReadFileText(real), "[S]\nA=2\n");
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace ostrel
