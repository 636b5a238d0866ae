#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <stdexcept>

#include "env/env_fixture.h"
#include "env/logger.h"
#include "support/ordinary_user.h"

namespace ostrel {
namespace {

using testing::AppEnvFixture;
using testing::FolderEntries;
using testing::RunAsOrdinaryUser;
using testing::ReadFileLines;
using testing::WriteFileText;

class LoggerTest : public AppEnvFixture {
 protected:
  std::string DataDir() const { return tmp / "data/"; }
  std::string ReleaseLog() const { return DataDir() + "FreeAndNil3_ErrorLog.TXT"; }
  void StartWithData() { Start({"UD=" + DataDir()}); }
};

TEST_F(LoggerTest, FirstLineTruncatesLaterLinesAppend) {
  Start();
  std::string file = tmp / "maint.LOG";
  WriteFileText(file, "an older recovery\n");
  TMiniLogger logger;
  logger.file_name = file;
  logger.LogLine("ignored while disabled");
  EXPECT_EQ(ReadFileLines(file).size(), 1u);

  logger.enabled = true;
  logger.LogLine("Start:FXOSRecovery");
  logger.LogLine("second");
  auto lines = ReadFileLines(file);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(ostrel \d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d Start:FXOSRecovery)")))
      << lines[0];
  EXPECT_TRUE(lines[1].ends_with(" second"));

  TMiniLogger next;  // the next recovery's logger starts a new file
  next.enabled = true;
  next.file_name = file;
  next.LogLine("only this");
  lines = ReadFileLines(file);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with(" only this"));
}

TEST_F(LoggerTest, FileNameFromTheProgramName) {
  Start();
  TMiniLogger in_program_dir;
  in_program_dir.enabled = true;
  in_program_dir.program_dir = true;
  in_program_dir.LogLine("x");
  EXPECT_EQ(in_program_dir.file_name, ProgramDir() + "/ostrel.LOG");
  EXPECT_EQ(ReadFileLines(ProgramDir() + "/ostrel.LOG").size(), 1u);

  TMiniLogger in_current_dir;
  in_current_dir.enabled = true;
  in_current_dir.LogLine("x");
  EXPECT_EQ(in_current_dir.file_name, "ostrel.LOG");
  std::filesystem::remove("ostrel.LOG");
}

TEST_F(LoggerTest, UnwritableProgramDirectoryMovesTheLogToTheDataDirectory) {
  StartWithData();
  ASSERT_EQ(::chmod(tmp.Path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(ProgramDir().c_str(), 0555), 0);
  std::filesystem::create_directories(DataDir());
  ASSERT_EQ(::chmod(DataDir().c_str(), 0777), 0);
  EXPECT_EQ(RunAsOrdinaryUser([&]() -> std::string {
              TMiniLogger logger;
              logger.enabled = true;
              logger.program_dir = true;
              logger.LogLine("x");
              return logger.file_name == tmp / "data/ostrel.LOG" ? "" : "the log went to " + logger.file_name;
            }),
            "");
  ::chmod(ProgramDir().c_str(), 0755);
  EXPECT_EQ(ReadFileLines(tmp / "data/ostrel.LOG").size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(ProgramDir() + "/ostrel.LOG"));
}

TEST_F(LoggerTest, UnwritableFileLosesOnlyItsLines) {
  Start();
  const std::string folder = tmp / "no/such/folder";
  TMiniLogger logger;
  logger.enabled = true;
  logger.file_name = folder + "/x.LOG";
  EXPECT_NO_THROW(logger.LogLine("lost"));
  EXPECT_NO_THROW(logger.LogLine("lost too"));
  EXPECT_EQ(logger.file_name, folder + "/x.LOG");

  std::filesystem::create_directories(folder);
  logger.LogLine("kept");
  auto lines = ReadFileLines(logger.file_name);
  ASSERT_EQ(lines.size(), 1u) << "the logger goes on once the file can be written";
  EXPECT_TRUE(lines[0].ends_with(" kept"));
}

// Objects whose release fails in the ways FreeAndNil3 has to absorb; each counts its
// destruction.
class TCounted {
 public:
  explicit TCounted(int* destroyed) : destroyed_(destroyed) {}

 protected:
  void Count() const {
    if (destroyed_) ++*destroyed_;
  }

 private:
  int* destroyed_;
};

class TThrowingDestructor : public TCounted {
 public:
  using TCounted::TCounted;
  ~TThrowingDestructor() noexcept(false) {
    Count();
    throw std::runtime_error("destructor failed");
  }
};

class TThrowingRelease : public TCounted {
 public:
  using TCounted::TCounted;
  ~TThrowingRelease() { Count(); }
  void Release() { throw std::runtime_error("close failed"); }
};

class TNamedFailingName : public TCounted {
 public:
  using TCounted::TCounted;
  ~TNamedFailingName() { Count(); }
  std::string ClassName() const { throw std::runtime_error("no name"); }
};

class TQuiet : public TCounted {
 public:
  using TCounted::TCounted;
  virtual ~TQuiet() { Count(); }
};

class TQuietChild : public TQuiet {
 public:
  using TQuiet::TQuiet;
};

TEST_F(LoggerTest, ReleaseFailuresAreLoggedAndTheObjectStillGoes) {
  StartWithData();
  int destroyed = 0;

  std::unique_ptr<TQuiet> quiet = std::make_unique<TQuietChild>(&destroyed);
  FreeAndNil3(quiet);
  EXPECT_EQ(quiet, nullptr);
  EXPECT_EQ(LastReleasedClassName(), "TQuietChild") << "the dynamic type without namespaces";
  EXPECT_FALSE(std::filesystem::exists(ReleaseLog())) << "a clean release writes nothing";

  auto throwing_destructor = std::make_unique<TThrowingDestructor>(&destroyed);
  FreeAndNil3(throwing_destructor);
  auto throwing_release = std::make_unique<TThrowingRelease>(&destroyed);
  FreeAndNil3(throwing_release);
  auto failing_name = std::make_unique<TNamedFailingName>(&destroyed);
  FreeAndNil3(failing_name);
  std::unique_ptr<TQuiet> empty;
  FreeAndNil3(empty);

  EXPECT_EQ(throwing_destructor, nullptr);
  EXPECT_EQ(throwing_release, nullptr);
  EXPECT_EQ(failing_name, nullptr);
  EXPECT_EQ(destroyed, 4) << "every object is destroyed on every path";

  auto lines = ReadFileLines(ReleaseLog());
  ASSERT_EQ(lines.size(), 3u);
  const std::regex stamp(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3} 00000000 (.*))");
  std::vector<std::string> tails;
  for (const auto& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, stamp)) << line;
    tails.push_back(match[1]);
  }
  EXPECT_EQ(tails[0], "03 TThrowingDestructor");
  EXPECT_EQ(tails[1], "03 TThrowingRelease");
  EXPECT_EQ(tails[2], "02 TThrowingRelease") << "at stage 02 the name of the previous release";
}

TEST_F(LoggerTest, FirstFailureOfARunReplacesTheOldLog) {
  StartWithData();
  WriteFileText(ReleaseLog(), "old run 1\nold run 2\n");
  LogReleaseFailure(3, "TOne");
  LogReleaseFailure(3, "TTwo");
  auto lines = ReadFileLines(ReleaseLog());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].ends_with(" 03 TOne"));
  EXPECT_TRUE(lines[1].ends_with(" 03 TTwo"));
}

TEST_F(LoggerTest, At1001LinesPerRunTheLogStops) {
  StartWithData();
  for (int i = 1; i <= 1002; ++i) LogReleaseFailure(3, "T" + std::to_string(i));
  auto lines = ReadFileLines(ReleaseLog());
  ASSERT_EQ(lines.size(), 1001u);
  EXPECT_TRUE(lines.back().ends_with(" T1001"));

  ResetReleaseLogForTesting();  // a new run starts a new file
  LogReleaseFailure(2, "TNew");
  EXPECT_EQ(ReadFileLines(ReleaseLog()).size(), 1u);
}

TEST_F(LoggerTest, BlankDataDirectoryLeavesNoTrace) {
  // Without the start-up defaults UD stays blank.
  auto failing = std::make_unique<TThrowingDestructor>(nullptr);
  FreeAndNil3(failing);
  EXPECT_EQ(failing, nullptr);
  EXPECT_TRUE(FolderEntries(tmp.Path()).size() == 1u) << "only the program folder of the fixture";
  EXPECT_FALSE(std::filesystem::exists("FreeAndNil3_ErrorLog.TXT"));
  EXPECT_FALSE(std::filesystem::exists("/FreeAndNil3_ErrorLog.TXT"));

  // Blank lines do not count towards the run's limit either.
  StartWithData();
  LogReleaseFailure(3, "TFirst");
  EXPECT_EQ(ReadFileLines(ReleaseLog()).size(), 1u);
}

TEST_F(LoggerTest, DataDirectoryWithoutSeparatorStillHoldsTheLog) {
  Start();
  WriteFileText(tmp / "s.INI", "[AppEnv]\nUD=" + tmp / "plain" + "\n");
  Start({"IF=" + tmp / "s.INI"});
  ASSERT_EQ(Value("UD"), tmp / "plain");
  LogReleaseFailure(3, "TX");
  EXPECT_EQ(ReadFileLines(tmp / "plain/FreeAndNil3_ErrorLog.TXT").size(), 1u);
}

}  // namespace
}  // namespace ostrel
