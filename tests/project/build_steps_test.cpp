// The build steps: the up-to-date test, TOOLS with its source search and header lists,
// SYSCALL with the stub template, the library part, UPDATEHEADERFILES, BIND and
// BMP256TOCGI.

#include <algorithm>
#include <filesystem>

#include "base/error.h"
#include "project/project_fixture.h"
#include "imaging/bmp_to_cgi.h"
#include "project/file_dates.h"
#include "support/bitmaps.h"

namespace ostrel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr std::time_t kOld = 1600000000;
constexpr std::time_t kNew = 1700000000;

TEST_F(ProjectTest, UpToDateTest) {
  struct Case {
    const char* what;
    std::string lines;
    bool runs;
    const char* shown;  // the skip message shown, or ""
  };
  const Case cases[] = {
      {"no dependant", "", false, ""},
      {"MAKEALL", "MAKEALL=TRUE\n", true, ""},
      {"MAKEALL in lower case", "MAKEALL=true\nDEPENDANT=@DIR@/new.o\nDEPENDENCY=@DIR@/old.c\n", false, ""},
      {"FORCEUPDATE", "FORCEUPDATE=TRUE\nDEPENDANT=@DIR@/new.o\nDEPENDENCY=@DIR@/old.c\n", true, ""},
      {"missing dependant", "DEPENDANT=@DIR@/none.o\n", true, ""},
      {"missing dependency", "DEPENDANT=@DIR@/old.o\nDEPENDENCY=@DIR@/none.c\n", false,
       "Dependency: \"@DIR@/none.c\" does not exist!"},
      {"same time", "DEPENDANT=@DIR@/old.o\nDEPENDENCY=@DIR@/old.c\n", false, ""},
      {"older dependant", "DEPENDANT=@DIR@/old.o\nDEPENDENCY=@DIR@/new.c\n", true, ""},
      {"newer listed dependency", "DEPENDENCY=@DIR@/new.c\nDEPENDENCY=@DIR@/old.c\nDEPENDANT=@DIR@/old.o\n", true,
       ""},
      {"missing listed dependency", "DEPENDENCY=@DIR@/none.h\nDEPENDENCY=@DIR@/old.c\nDEPENDANT=@DIR@/old.o\n",
       false, ""},
  };
  for (const char* name : {"old.o", "old.c"}) SetFileTime(Write(name, "x"), kOld);
  for (const char* name : {"new.o", "new.c"}) SetFileTime(Write(name, "x"), kNew);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NewProject();
    ui_.notifications.clear();
    std::filesystem::remove(File("calls.txt"));
    EXPECT_TRUE(Run("WORKDIR=@DIR@\n" + c.lines + "EXECUTE=@DIR@/tool.sh\n"));
    EXPECT_EQ(Calls().size(), c.runs ? 1u : 0u);
    if (!c.runs) {
      EXPECT_EQ(Shown(), *c.shown ? std::vector<std::string>{c.shown} : std::vector<std::string>{});
      EXPECT_EQ(LogHas("No news!\r\n"), *c.shown == '\0');
    }
  }
}

TEST_F(ProjectTest, PrototypeNames) {
  EXPECT_EQ(PrototypeName("int *Foo(int a)"), "Foo");
  EXPECT_EQ(PrototypeName("void Bar(void)"), "Bar");
  EXPECT_EQ(PrototypeName("Baz()"), "Baz");
  EXPECT_EQ(PrototypeName("char**Qux(int)"), "Qux");
  EXPECT_EQ(PrototypeName("int Foo (int)"), "");
  EXPECT_EQ(PrototypeName("int Foo"), "");
}

// A project with a source folder, object folder, library and header folder in the test
// folder, the recording tool as compiler, assembler and librarian.
std::string ToolsProject() {
  return "WORKDIR=@DIR@\nSOURCEDIR=@DIR@/src\nOBJECTDIR=@DIR@/obj\nHEADERDIR=@DIR@/inc\nLIBDIR=@DIR@/lib\n"
         "LIBRARY=ADDIN\nTEMPLATEDIR=@DIR@\n"
         "COMPILE_CMD=@DIR@/tool.sh\nASM_CMD=@DIR@/tool.sh\nLNK_CMD=@DIR@/tool.sh\n"
         "OPTION=cc \"$(SOURCEFILE)\" -o \"$(TARGETFILE)\"\nASM_OPT=as \"$(SOURCEFILE)\"\n"
         "LIB_OPT=lib \"$(LIBDIR)/$(LIBRARY).LIB\"\nLIB_MOD_OPT=add \"$(OBJECTDIR)/$(PROG).OBJ\"\n";
}

TEST_F(ProjectTest, ToolsFindsTheSourceInItsOrder) {
  struct Case {
    std::vector<std::string> files;
    const char* chosen;  // "" for none
    const char* option;
  };
  const Case cases[] = {
      {{"Foo.CPP", "util.CPP", "Foo.ASM", "Foo.SRC"}, "Foo.CPP", "cc"},
      {{"util.CPP", "Foo.ASM", "Foo.SRC"}, "util.CPP", "cc"},
      {{"Foo.ASM", "Foo.SRC"}, "Foo.ASM", "as"},
      {{"Foo.SRC", "foo.asm"}, "Foo.SRC", "as"},
      {{"foo.cpp"}, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chosen);
    std::filesystem::remove_all(File("src"));
    std::filesystem::remove_all(File("inc"));
    std::filesystem::remove(File("calls.txt"));
    for (const std::string& file : c.files) Write("src/" + file, "x");
    ::mkdir(File("inc").c_str(), 0755);
    NewProject();
    ui_.notifications.clear();
    EXPECT_TRUE(Run(ToolsProject() + "TOOLS=int *Foo(int a);util.h\n"));
    if (!*c.chosen) {
      EXPECT_TRUE(Calls().empty());
      EXPECT_THAT(Shown(), ElementsAre("Missing \"@DIR@/src/Foo\""));
      continue;
    }
    const std::vector<ToolCall> calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_THAT(calls[0].options,
                ElementsAre(std::string(c.option) + " \"@DIR@/src/" + c.chosen + "\"" +
                            (std::string(c.option) == "cc" ? " -o \"@DIR@/obj/Foo.OBJ\"" : "")));
    EXPECT_EQ(project_->StepCounter(), 0x10000u);
    EXPECT_EQ(Shown().at(0), "\"@DIR@/tool.sh\" -SUB=TEMP.TXT Foo 00010000");
  }
  // The prototype went into the header list file once per build.
  EXPECT_EQ(Read("inc/util.h.TMP"), "int *Foo(int a);\n");
}

TEST_F(ProjectTest, NewLibraryGetsTheObjectOnTheCommandLineAndLaterStepsAddTheirs) {
  for (const char* name : {"src/One.ASM", "src/Two.ASM"}) Write(name, "x");
  for (const char* name : {"obj/One.OBJ", "obj/Two.OBJ"}) SetFileTime(Write(name, "o"), kNew);
  ::mkdir(File("lib").c_str(), 0755);
  ::mkdir(File("inc").c_str(), 0755);
  SetFileTime(File("src/One.ASM"), kOld);
  SetFileTime(File("src/Two.ASM"), kOld);
  // The first librarian call makes the library, as a real one would.
  WriteTool("lib.sh", 0, ": > '" + File("lib/ADDIN.LIB") + "'\n");
  EXPECT_TRUE(Run(ReplaceAll(ToolsProject(), "LNK_CMD=@DIR@/tool.sh", "LNK_CMD=@DIR@/lib.sh") +
                  "TOOLS=void One(void);a.h\nTOOLS=void Two(void);a.h\nAFTER=1\n"));
  const std::vector<ToolCall> calls = Calls();
  // Both objects are up to date; the library is not.
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].args, "@DIR@/obj/One.OBJ -SUB=TEMP.TXT");
  EXPECT_THAT(calls[0].options, ElementsAre("lib \"@DIR@/lib/ADDIN.LIB\""));
  EXPECT_EQ(calls[1].args, "-SUB=TEMP.TXT");
  EXPECT_THAT(calls[1].options, ElementsAre("add \"@DIR@/obj/Two.OBJ\"", "lib \"@DIR@/lib/ADDIN.LIB\""));
  EXPECT_EQ(project_->Variables().Get("LIBNEW"), "TRUE");
  EXPECT_FALSE(project_->Variables().Has("DEPENDANT"));
  EXPECT_FALSE(project_->Variables().Has("DEPENDENCY"));
  EXPECT_EQ(Read("inc/a.h.TMP"), "void One(void);\nvoid Two(void);\n");

  // A second build finds everything up to date.
  SetFileTime(File("lib/ADDIN.LIB"), kNew);
  std::filesystem::remove(File("calls.txt"));
  NewProject();
  EXPECT_TRUE(Run(ToolsProject() + "TOOLS=void One(void);a.h\nTOOLS=void Two(void);a.h\n"));
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(Read("inc/a.h.TMP"), "void One(void);\nvoid Two(void);\n");
}

TEST_F(ProjectTest, StopDuringAStepStartsNoFurtherTool) {
  Write("src/One.ASM", "x");
  ::mkdir(File("inc").c_str(), 0755);
  WriteTool("slow.sh", 0, "sleep 30\n");
  ui_.on_process_messages = [&] {
    if (Calls().size() == 1) StopRequest() = stopByUser;
  };
  EXPECT_TRUE(Run(ReplaceAll(ToolsProject(), "ASM_CMD=@DIR@/tool.sh", "ASM_CMD=@DIR@/slow.sh") +
                  "MAKEALL=TRUE\nTOOLS=void One(void);a.h\n"));
  EXPECT_TRUE(project_->Stopped());
  EXPECT_EQ(Calls().size(), 1u);  // the assembler, not the librarian
  EXPECT_EQ(project_->ToolRuns(), 1);
}

TEST_F(ProjectTest, MissingLibraryNameIsShown) {
  Write("src/One.ASM", "x");
  ::mkdir(File("inc").c_str(), 0755);
  EXPECT_TRUE(Run(ToolsProject() + "LIBRARY=\nMAKEALL=TRUE\nTOOLS=void One(void);a.h\n"));
  EXPECT_EQ(Calls().size(), 1u);
  EXPECT_TRUE(ShownHas("Missing library."));
}

TEST_F(ProjectTest, SyscallGeneratesItsStubFromTheTemplate) {
  Write("SYSCALL_TEMPLATE.SRC", "; stub <name>\n  .export _<name>\n_<name>: mov #<number>,r0 ; <number>\n");
  ::mkdir(File("src").c_str(), 0755);
  ::mkdir(File("obj").c_str(), 0755);
  ::mkdir(File("inc").c_str(), 0755);
  ::mkdir(File("lib").c_str(), 0755);
  Write("lib/ADDIN.LIB", "lib");
  SetFileTime(Write("stamp", "x"), kOld);
  EXPECT_TRUE(Run(ToolsProject() + "CONSTANT_DEPENDENCY_FILE=@DIR@/stamp\n"
                  "SYSCALL=0x0123;int Display_Foo(int x);sys.h;20991231000000\n"
                  "SYSCALL=0x0124;int Display_Bar(void);sys.h;20000101000000\n"
                  "SYSCALL=0x0125;int Display_Baz(void);sys.h\n"));
  EXPECT_EQ(Read("src/Display_Foo.SRC"),
            "; stub Display_Foo\n  .export _Display_Foo\n_Display_Foo: mov #0x0123,r0 ; 0x0123\n");
  EXPECT_FALSE(Exists("src/Display_Bar.SRC"));
  EXPECT_FALSE(Exists("src/Display_Baz.SRC"));
  const std::vector<ToolCall> calls = Calls();
  ASSERT_EQ(calls.size(), 2u);  // the assembler and the librarian for the newer entry
  EXPECT_THAT(calls[0].options, ElementsAre("as \"@DIR@/src/Display_Foo.SRC\""));
  EXPECT_THAT(calls[1].options, ElementsAre("add \"@DIR@/obj/Display_Foo.OBJ\"", "lib \"@DIR@/lib/ADDIN.LIB\""));
  EXPECT_EQ(Shown().at(0), "\"@DIR@/tool.sh\" -SUB=TEMP.TXT 0x0123 Display_Foo 00000001");
  EXPECT_EQ(project_->StepCounter(), 3u);
  // The older entries were never assembled: their library parts miss the object.
  EXPECT_TRUE(ShownHas("Dependency: \"@DIR@/obj/Display_Bar.OBJ\" does not exist!"));
  EXPECT_EQ(Read("inc/sys.h.TMP"), "int Display_Foo(int x);\nint Display_Bar(void);\nint Display_Baz(void);\n");
  EXPECT_THAT(LogText(), HasSubstr("created:" + Dir() + "/inc/sys.h.TMP\r\n"));
}

TEST_F(ProjectTest, SyscallWithoutAssemblerOptionsSaysSo) {
  Write("SYSCALL_TEMPLATE.SRC", "<name>\n");
  ::mkdir(File("src").c_str(), 0755);
  EXPECT_TRUE(Run(ReplaceAll(ToolsProject(), "ASM_OPT=", "NOT_ASM_OPT=") + "MAKEALL=TRUE\nSYSCALL=1;int F(void);;\n"));
  ASSERT_FALSE(Calls().empty());
  EXPECT_THAT(Calls()[0].options, ElementsAre("FOption[ optOPT ] not assigned."));
  EXPECT_FALSE(Exists("inc"));
}

TEST_F(ProjectTest, MissingSyscallTemplateEndsTheBuild) {
  EXPECT_THROW(Run(ToolsProject() + "MAKEALL=TRUE\nSYSCALL=1;int F(void);;\n"), IoError);
}

TEST_F(ProjectTest, UpdateHeaderFilesReplacesOnlyChangedHeaders) {
  SetFileTime(Write("inc/same.h", "int A(void);\n"), kOld);
  Write("inc/same.h.TMP", "int A(void);\n");
  SetFileTime(Write("inc/changed.h", "int A(void);\n"), kOld);
  Write("inc/changed.h.TMP", "int A(void);\nint B(void);\n");
  Write("inc/fresh.h.TMP", "int C(void);\n");
  EXPECT_TRUE(Run("UPDATEHEADERFILES=@DIR@/inc\n"));
  EXPECT_EQ(Read("inc/same.h"), "int A(void);\n");
  EXPECT_EQ(LastWriteTime(File("inc/same.h")), TFileTime{kOld} * 1000000000);
  EXPECT_EQ(Read("inc/changed.h"), "int A(void);\nint B(void);\n");
  EXPECT_EQ(Read("inc/fresh.h"), "int C(void);\n");
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(File("inc"))) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_THAT(left, ElementsAre("changed.h", "fresh.h", "same.h"));
}

TEST_F(ProjectTest, BindRunsAPatchScriptWithTheProjectsVariables) {
  Write("in.bin", "abc");
  Write("bind.psc", "SOURCEFILE=$(OUT)/in.bin\nTARGETFILE=$(OUT)/out.bin\nGOTO=FILESIZE\nINSERTSTRING=$(NAME)\n");
  EXPECT_TRUE(Run("OUT=@DIR@\nNAME=demo\nMAKEALL=TRUE\nBIND=$(OUT)/bind.psc\n"));
  EXPECT_EQ(Read("out.bin"), std::string("abcdemo\0", 8));
  EXPECT_THAT(LogText(), HasSubstr("Start! bind.psc\r\n"));
  EXPECT_THAT(LogText(), HasSubstr("4 lines processed.\r\n"));
  EXPECT_EQ(project_->FailedSteps(), 0);

  // Up to date: nothing runs.
  std::filesystem::remove(File("out.bin"));
  NewProject();
  EXPECT_TRUE(Run("OUT=@DIR@\nBIND=$(OUT)/bind.psc\n"));
  EXPECT_FALSE(Exists("out.bin"));

  // The direct form.
  NewProject();
  project_->Variables().Set("OUT", Dir());
  project_->Variables().Set("NAME", "direct");
  EXPECT_TRUE(project_->RunScript("/bind:" + File("bind.psc")));
  EXPECT_EQ(project_->Variables().Get("MAKEALL"), "TRUE");
  EXPECT_EQ(Read("out.bin"), std::string("abcdirect\0", 10));
}

TEST_F(ProjectTest, BitmapStepConvertsEitherForm) {
  Write("pic.bmp", MakeBitmap({}));
  Write("pal.bmp", MakeBitmap({.bits = 8, .extra_bytes = 0}));
  Write("bad.bmp", MakeBitmap({.width = 128}));
  EXPECT_TRUE(Run("MAKEALL=TRUE\nBMP256TOCGI=@DIR@/pic.bmp\nBMP256TOCGI=@DIR@/pal.bmp;@DIR@/pal.out\n"
                  "BMP256TOCGI=@DIR@/bad.bmp\n"));
  EXPECT_EQ(Read("PIC.CGI").size(), kCgiSize);
  EXPECT_EQ(Read("pal.out").size(), kCgiSize);
  EXPECT_FALSE(Exists("BAD.CGI"));
  EXPECT_THAT(Shown(), ElementsAre("Not converted: @DIR@/bad.bmp is no 92x64 bitmap with an 8-bit palette or "
                                   "24-bit colours."));
  EXPECT_EQ(project_->FailedSteps(), 1);

  NewProject();
  EXPECT_TRUE(project_->RunScript("/BMP256TOCGI:" + File("pic.bmp") + ";" + File("direct.cgi")));
  EXPECT_EQ(Read("direct.cgi").size(), kCgiSize);
}

}  // namespace
}  // namespace ostrel::testing
