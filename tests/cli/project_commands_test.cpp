// `ostrel build` and `ostrel bmp2cgi` as a user runs them: the built program in a
// temporary folder, without a terminal; output, last lines and exit status.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/bitmaps.h"
#include "support/program_run.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace {

using ostrel::testing::LastLine;
using ostrel::testing::ReadFileText;
using ostrel::testing::WriteFileText;
using ostrel::testing::ProgramRun;

class ProjectCommandsTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name) const { return folder_.File(name); }
  ProgramRun Run(const std::string& arguments) const {
    return ostrel::testing::RunProgramIn(folder_.Path(), OSTREL_PROGRAM, arguments);
  }

  ostrel::testing::TemporaryFolder folder_;
};

TEST_F(ProjectCommandsTest, BuildStreamsToolOutputAndCountsFailedTools) {
  WriteFileText(File("ok.sh"), "#!/bin/sh\necho built it\n");
  WriteFileText(File("bad.sh"), "#!/bin/sh\necho broken\nexit 2\n");
  ::chmod(File("ok.sh").c_str(), 0755);
  ::chmod(File("bad.sh").c_str(), 0755);
  WriteFileText(File("p.PRJ"), "WORKDIR=$(PROJECTDIR)\nMAKEALL=TRUE\nPROG=one\nEXECUTE=$(PROJECTDIR)/ok.sh\n"
                               "PROG=two\nEXECUTE=$(PROJECTDIR)/bad.sh\n");
  const ProgramRun r = Run("build p.PRJ --log build.log");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("/ok.sh\" -SUB=TEMP.TXT one 00000100\nbuilt it\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("/bad.sh\" -SUB=TEMP.TXT two 00000200\nbroken\n"), std::string::npos) << r.out;
  EXPECT_EQ(LastLine(r.out), "Build finished: 2 tool runs, 1 failed; project log: build.log");
  EXPECT_NE(ReadFileText(File("build.log")).find("result: 0 2\r\n"), std::string::npos);
}

TEST_F(ProjectCommandsTest, BuildFailuresEndWithAReason) {
  struct Case {
    const char* script;
    const char* last_error;
  };
  const Case cases[] = {
      {nullptr, "ostrel: the project script p.PRJ does not exist: name an existing .PRJ file"},
      {"TEMPLATEDIR=$(PROJECTDIR)\nMAKEALL=TRUE\nSYSCALL=1;int F(void);;\n",
       "ostrel: Cannot open the system-call template "},
      {"A=$(A)\nB=$(A)\n", "ostrel: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.last_error);
    std::filesystem::remove(File("p.PRJ"));
    if (c.script) WriteFileText(File("p.PRJ"), c.script);
    const ProgramRun r = Run("build p.PRJ --log build.log");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(LastLine(r.err).starts_with(c.last_error)) << r.err;
  }
}

TEST_F(ProjectCommandsTest, Bmp2CgiWritesOnlyRealPictures) {
  WriteFileText(File("logo.bmp"), ostrel::testing::MakeBitmap({}));
  WriteFileText(File("wide.bmp"), ostrel::testing::MakeBitmap({.width = 128}));
  ProgramRun r = Run("bmp2cgi logo.bmp");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Written: LOGO.CGI\n");
  EXPECT_EQ(ReadFileText(File("LOGO.CGI")).size(), 11776u);

  r = Run("bmp2cgi 'wide.bmp;wide.cgi'");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(LastLine(r.err).starts_with("ostrel: wide.bmp is not a 92x64 bitmap")) << r.err;
  EXPECT_FALSE(std::filesystem::exists(File("wide.cgi")));
  EXPECT_FALSE(std::filesystem::exists(File("WIDE.CGI")));

  r = Run("bmp2cgi none.bmp");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastLine(r.err), "ostrel: none.bmp does not exist: name an existing bitmap file");
}

// Paths that are no regular files, or files far too big, end a command at once with what
// they are: an output path that is a FIFO or a folder is never replaced by a file (or, for
// a backup, found only after the read-out), an input FIFO is not waited on, and a huge
// script is not read into memory.
TEST_F(ProjectCommandsTest, PathsThatAreNoFilesEndTheCommandAtOnce) {
  ASSERT_EQ(::mkfifo(File("fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(File("adir"));
  WriteFileText(File("logo.bmp"), ostrel::testing::MakeBitmap({}));
  for (const char* big : {"big.psc", "big.PRJ"}) {
    WriteFileText(File(big), "");
    std::filesystem::resize_file(File(big), 17u << 20);
  }
  struct Case {
    const char* arguments;
    const char* last_line;  // its start
  };
  const Case cases[] = {
      {"backup-ram fifo --simulate", "ostrel: Cannot create file fifo: it is a FIFO, not a regular file; name a file"},
      {"backup-flash adir --simulate", "ostrel: Cannot create file adir: it is a folder, not a regular file; name a file"},
      {"backup-ram '' --simulate", "ostrel: Cannot create file: no file name was given; name the file for the image"},
      {"backup-ram nodir/r.RAM --simulate",
       "ostrel: Cannot create file nodir/r.RAM: No such file or directory; the folder nodir does not exist: create it"},
      {"--trace fifo info --simulate",
       "ostrel: Cannot create the trace file fifo: it is a FIFO that no program reads; name another file"},
      {"bmp2cgi 'logo.bmp;fifo'", "ostrel: Unable to write to fifo: it is a FIFO, not a regular file; name a file"},
      {"bugfix fifo", "ostrel: Cannot open the script fifo: it is a FIFO, not a regular file"},
      {"bugfix ''", "ostrel: no script was named: name the patch script (.PSC) to apply"},
      {"bugfix big.psc", "ostrel: Cannot read the script big.psc: it is larger than 16 MiB"},
      {"build big.PRJ", "ostrel: Cannot read the project script big.PRJ: it is larger than 16 MiB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const ProgramRun r = Run(c.arguments);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(LastLine(r.err).starts_with(c.last_line)) << r.err;
    EXPECT_TRUE(std::filesystem::is_fifo(File("fifo"))) << "the FIFO is still a FIFO";
    EXPECT_TRUE(std::filesystem::is_directory(File("adir")));
  }
}

}  // namespace
