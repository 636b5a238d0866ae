#include "operations/image_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <sys/stat.h>

#include "base/error.h"
#include "base/text.h"
#include "env/logger.h"
#include "operations/image_test_folder.h"
#include "operations/known_bios.h"
#include "support/recording_ui.h"

namespace ostrel {
namespace {

using testing::CrLfLines;
using testing::RecordingUi;
using testing::TempFolder;

constexpr std::uint32_t kUntouched = 0xDEADBEEF;

struct CheckRun {
  ImageCheckResult result = icrUnknown;
  std::string info;
  std::int32_t bios_type = 99;
  std::uint32_t mm_offset = kUntouched;
  std::uint32_t mm_sectors = kUntouched;
  RecordingUi ui;
};

void Check(CheckRun& run, const std::string& path, TOptionWord options, bool check_repository = true,
           TMiniLogger* logger = nullptr) {
  run.result = FXCheckImage(path, options, &run.mm_offset, false, check_repository, logger, run.info,
                            run.bios_type, &run.mm_sectors, run.ui.Ui());
}

std::string ValueOf(const std::string& info, const std::string& key) {
  for (const std::string& line : CrLfLines(info)) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return "<missing>";
}

// ---- the layout classes, result codes and messages ----

struct ImageCase {
  const char* name;
  std::function<void(TestImageSpec&)> setup;
  TOptionWord options;
  ImageCheckResult result;
  const char* message;      // the text before the first KEY=value line
  std::size_t info_lines;   // KEY=value lines after the message
  std::int32_t bios_type;
  std::uint32_t mm_offset;
  std::uint32_t mm_sectors;
};

const ImageCase kImageCases[] = {
    {"class 1", [](TestImageSpec&) {}, 0, icrOK, "", 12, 2, 0, 0},
    {"class 1, main memory", [](TestImageSpec&) {}, OPT_IGNORE_MAIN_MEMORY, icrOK, "", 12, 2, 0x250000, 2},
    {"class 1 on a 4 MiB image", [](TestImageSpec& s) { s.size = 0x400000; }, OPT_IGNORE_MAIN_MEMORY, icrOK, "",
     12, 2, 0x250000, 2},
    {"class 0, main memory", [](TestImageSpec& s) { s.os_version = "01.05.0000"; }, OPT_IGNORE_MAIN_MEMORY, icrOK,
     "", 12, 0, 0x230000, 3},
    {"class 0", [](TestImageSpec& s) { s.os_version = "01.05.0000"; }, 0, icrOK, "", 12, 0, 0, 0},
    {"class 2 has no main memory", [](TestImageSpec& s) { s.os_version = "01.02.0000"; }, OPT_IGNORE_MAIN_MEMORY,
     icrOK, "", 12, 0, 0, 0},
    {"class 3 on exactly 2 MiB", [](TestImageSpec& s) { s.layout_class = 3; }, OPT_IGNORE_MAIN_MEMORY, icrOK, "",
     12, 5, 0x1E0000, 2},
    {"class 3 version 03.01", [](TestImageSpec& s) { s.os_version = "03.01.0000"; s.bios_row = 10; }, 0, icrOK, "",
     12, 5, 0, 0},
    {"class 1 on exactly 2 MiB", [](TestImageSpec& s) { s.size = 0x200000; }, 0, icrFileSizeError,
     "Filesize error(2): 00200000", 9, 2, 0, 0},
    {"class 0 cut at its OS end - 1", [](TestImageSpec& s) { s.os_version = "01.05.0000"; s.size = 0x26FFFF; },
     OPT_IGNORE_MAIN_MEMORY, icrFileSizeError, "Filesize error(2): 0026FFFF", 9, 0, 0x230000, 3},
    {"below 2 MiB", [](TestImageSpec& s) { s.size = 0x1FFFFF; }, 0, icrFileSizeError,
     "Filesize error(1): 001FFFFF", 0, 99, kUntouched, kUntouched},
    {"no signature", [](TestImageSpec& s) { s.signature = false; }, 0, icrCasioWinError, "CASIOWIN error", 1, 99,
     kUntouched, kUntouched},
    {"unknown version 02.03", [](TestImageSpec& s) { s.os_version = "02.03.0000"; s.layout_class = 1; },
     OPT_IGNORE_MAIN_MEMORY, icrOsVersionError, "", 9, 2, kUntouched, kUntouched},
    {"unknown version 04.00", [](TestImageSpec& s) { s.os_version = "04.00.0000"; s.layout_class = 1; }, 0,
     icrOsVersionError, "", 9, 2, kUntouched, kUntouched},
    {"damaged checksum", [](TestImageSpec& s) { s.correct_checksum = false; }, 0, icrChecksumError, "", 12, 2, 0,
     0},
    {"damaged class 0", [](TestImageSpec& s) { s.os_version = "01.05.0000"; s.correct_checksum = false; }, 0,
     icrChecksumError, "", 12, 0, 0, 0},
};

TEST(FXCheckImage, ClassesResultsAndMessages) {
  TempFolder folder;
  for (const ImageCase& c : kImageCases) {
    SCOPED_TRACE(c.name);
    TestImageSpec spec;
    c.setup(spec);
    const std::string path = folder.WriteImage("image.fls", spec);
    CheckRun run;
    Check(run, path, c.options);
    EXPECT_EQ(run.result, c.result);
    ASSERT_EQ(run.info.substr(0, std::string(c.message).size()), c.message);
    const std::string rest = run.info.substr(std::string(c.message).size());
    EXPECT_EQ(CrLfLines(rest).size(), c.info_lines) << rest;
    if (c.info_lines > 0) {
      EXPECT_EQ(rest.rfind("FILESIZE=", 0), 0u);
      EXPECT_EQ(rest.substr(rest.size() - 2), "\r\n");
    }
    EXPECT_EQ(run.bios_type, c.bios_type);
    EXPECT_EQ(run.mm_offset, c.mm_offset);
    EXPECT_EQ(run.mm_sectors, c.mm_sectors);
  }
}

TEST(FXCheckImage, FullInformationInOrder) {
  TempFolder folder;
  TestImageSpec spec;
  ResolvedTestImage resolved{};
  WriteTestImage(spec, folder.File("a.fls"), &resolved);
  CheckRun run;
  Check(run, folder.File("a.fls"), 0);
  ASSERT_EQ(run.result, icrOK);
  const std::string sum = IntToHex(resolved.os_checksum, 8);
  EXPECT_EQ(run.info,
            "FILESIZE=00270000\r\n"
            "BIOSDATE=2009.0203.1852\r\n"
            "CALCID=OSTREL01\r\n"
            "BIOSCHK=006B2CE3\r\n"
            "TYPEINFO1=47593336 (GY36)\r\n"
            "TYPEINFO2=FFAA0001 (SD)\r\n"
            "BIOSIMAGETYPE=GII BIOS\r\n"
            "OSVERSION=02.00.0000\r\n"
            "SYSCALLADR=80010070\r\n"
            "OSDATE=2009.0601.1200\r\n"
            "OSCHKCALC=" + sum + "\r\n"
            "OSCHKSAVE=" + sum + "\r\n");
}

// ---- value forms of the fields ----

struct FieldCase {
  std::function<void(TestImageSpec&)> setup;
  const char* key;
  const char* value;
};

TEST(FXCheckImage, FieldValueForms) {
  const FieldCase cases[] = {
      {[](TestImageSpec& s) { s.erased_calc_id = true; }, "CALCID", "***deactivated***"},
      {[](TestImageSpec& s) { s.calc_id = "12AB34CD"; }, "CALCID", "12AB34CD"},
      {[](TestImageSpec& s) { s.type_info1 = 0x41423132; }, "TYPEINFO1", "41423132 (AB12)"},
      {[](TestImageSpec& s) { s.type_info1 = 0x41004232; }, "TYPEINFO1", "41004232 (A.B2)"},
      {[](TestImageSpec& s) { s.type_info1 = 0x2D7A5AFF; }, "TYPEINFO1", "2D7A5AFF (.zZ.)"},
      {[](TestImageSpec& s) { s.type_info2 = 0xFFAA0001; }, "TYPEINFO2", "FFAA0001 (SD)"},
      {[](TestImageSpec& s) { s.type_info2 = 0x00AA1234; }, "TYPEINFO2", "00AA1234 (NON-SD)"},
      {[](TestImageSpec& s) { s.type_info2 = 0x12345678; }, "TYPEINFO2", "12345678"},
      {[](TestImageSpec& s) { s.syscall_address = 0x8001007C; }, "SYSCALLADR", "8001007C"},
      {[](TestImageSpec& s) { s.size = 0x400000; }, "FILESIZE", "00400000"},
      // Control characters cannot break the line structure of the information.
      {[](TestImageSpec& s) { s.calc_id = std::string("AB\r\nC=\0D", 8); }, "CALCID", "AB..C=.D"},
  };
  TempFolder folder;
  for (const FieldCase& c : cases) {
    TestImageSpec spec;
    c.setup(spec);
    CheckRun run;
    Check(run, folder.WriteImage("f.fls", spec), 0);
    SCOPED_TRACE(c.value);
    EXPECT_EQ(run.result, icrOK);
    EXPECT_EQ(ValueOf(run.info, c.key), c.value);
    EXPECT_EQ(CrLfLines(run.info).size(), 12u);
  }
}

// The report says how far the check got: the BIOS type once the BIOS fields were read,
// the main-memory area once the OS layout was chosen; the positional form writes only those.
TEST(CheckFlashImage, ReportSaysHowFarTheCheckGot) {
  struct Case {
    const char* name;
    std::function<std::string(TempFolder&)> make;
    ImageCheckResult result;
    std::size_t lines;
    bool bios_type_set;
    bool main_memory_set;
  };
  const Case cases[] = {
      {"missing file", [](TempFolder& f) { return f.File("none.fls"); }, icrFileDoesNotExist, 0, false, false},
      {"short file",
       [](TempFolder& f) {
         TestImageSpec spec;
         spec.size = 0x1FFFFF;
         return f.WriteImage("short.fls", spec);
       },
       icrFileSizeError, 0, false, false},
      {"unknown version",
       [](TempFolder& f) {
         TestImageSpec spec;
         spec.os_version = "04.00.0000";
         spec.layout_class = 1;
         return f.WriteImage("v4.fls", spec);
       },
       icrOsVersionError, 9, true, false},
      {"good image", [](TempFolder& f) { return f.WriteImage("good.fls"); }, icrOK, 12, true, true},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    const std::string path = c.make(folder);
    RecordingUi ui;
    const TImageCheckReport report =
        CheckFlashImage({path, OPT_IGNORE_MAIN_MEMORY, false, false, nullptr}, ui.Ui());
    EXPECT_EQ(report.result, c.result) << c.name;
    EXPECT_EQ(report.lines.size(), c.lines) << c.name;
    EXPECT_EQ(report.bios_image_type.has_value(), c.bios_type_set) << c.name;
    EXPECT_EQ(report.main_memory.has_value(), c.main_memory_set) << c.name;

    CheckRun run;
    Check(run, path, OPT_IGNORE_MAIN_MEMORY, false);
    EXPECT_EQ(run.info, report.ImageInfo()) << c.name;
    EXPECT_EQ(run.bios_type != 99, c.bios_type_set) << c.name;
    EXPECT_EQ(run.mm_offset != kUntouched, c.main_memory_set) << c.name;
  }
}

TEST(FXCheckImage, FirstBiosDateMatchDecides) {
  struct BiosCase {
    int row;
    std::optional<std::string> date;
    std::optional<std::uint32_t> checksum;
    std::int32_t type;
    const char* name;
  };
  const BiosCase cases[] = {
      {1, {}, {}, 0, "standard BIOS"},
      {3, {}, {}, 4, "standard BIOS (legacy)"},
      {5, {}, {}, 3, "AU BIOS"},
      {11, {}, {}, 7, "GII-2 BIOS"},
      // The date of row 1 with another checksum, even that of row 2: not identified.
      {1, {}, 0x0060DD17, -1, ""},
      {1, {}, 0x0060DD19, -1, ""},
      {1, "2006.0516.0942", 0x0060DD16, -1, ""},
      {0, {}, {}, -1, ""},
  };
  TempFolder folder;
  for (const BiosCase& c : cases) {
    TestImageSpec spec;
    spec.layout_class = 1;
    spec.os_version = "02.00.0000";
    spec.bios_row = c.row;
    spec.bios_date = c.date;
    spec.bios_checksum = c.checksum;
    CheckRun run;
    Check(run, folder.WriteImage("b.fls", spec), 0);
    SCOPED_TRACE(std::to_string(c.row) + " " + c.name);
    EXPECT_EQ(run.result, icrOK);
    EXPECT_EQ(run.bios_type, c.type);
    EXPECT_EQ(ValueOf(run.info, "BIOSIMAGETYPE"), c.name);
  }
}

// ---- what the checksum covers ----

struct ByteEditCase {
  std::optional<int> layout_class;
  std::uint32_t offset;
  ImageCheckResult result;
};

TEST(FXCheckImage, ChecksumCoversTheOsUpToEightBytesBeforeItsEnd) {
  const ByteEditCase cases[] = {
      {1, 0x010050, icrChecksumError},   // OS code
      {1, 0x24FFE0, icrChecksumError},   // OS date
      {1, 0x24FFF7, icrChecksumError},   // last byte summed
      {1, 0x24FFFC, icrOK},              // OS end - 4 .. OS end - 1: not summed
      {1, 0x24FFFF, icrOK},
      {1, 0x250000, icrOK},              // past the OS
      {1, 0x008000, icrOK},              // BIOS area
      {0, 0x22FFFF, icrChecksumError},
      {0, 0x230000, icrOK},              // the main memory of class 0
      {0, 0x25FFFF, icrOK},
      {0, 0x260000, icrChecksumError},
      {0, 0x26FFFC, icrOK},
      {2, 0x240000, icrChecksumError},   // class 2 has no gap
      {3, 0x1DFFF7, icrChecksumError},
      {3, 0x1DFFFD, icrOK},
      {3, 0x1F0000, icrOK},
  };
  TempFolder folder;
  for (const ByteEditCase& c : cases) {
    TestImageSpec spec;
    spec.layout_class = c.layout_class;
    std::vector<std::uint8_t> bytes = GenerateTestImage(spec);
    bytes[c.offset] = static_cast<std::uint8_t>(bytes[c.offset] + 1);
    WriteImageFile(bytes, folder.File("e.fls"));
    CheckRun run;
    Check(run, folder.File("e.fls"), 0);
    SCOPED_TRACE(IntToHex(c.offset, 8));
    EXPECT_EQ(run.result, c.result);
  }
}

// ---- skipping the check, missing files ----

TEST(FXCheckImage, IgnoreChecksumSkipsAnExistingFileEvenAnEmptyOne) {
  TempFolder folder;
  { std::ofstream(folder.File("empty.fls")); }
  CheckRun run;
  run.info = "old";
  Check(run, folder.File("empty.fls"), OPT_IGNORE_CHECKSUM | OPT_IGNORE_MAIN_MEMORY);
  EXPECT_EQ(run.result, icrOK);
  EXPECT_EQ(run.info, "");
  EXPECT_EQ(run.bios_type, 99);
  EXPECT_EQ(run.mm_offset, kUntouched);
  EXPECT_EQ(run.mm_sectors, kUntouched);
}

// Something other than a file at the image's path: the Part's message, then what stands
// there. Nothing is opened, so a FIFO without a writer cannot hold the check.
struct NotAFileCase {
  const char* name;
  std::function<std::string(TempFolder&)> make;  // returns the path to check
  const char* said;                              // the text after the Part's message
};

const NotAFileCase kNotAFileCases[] = {
    {"missing", [](TempFolder& f) { return f.File("missing.fls"); }, ""},
    {"through a regular file", [](TempFolder& f) { return f.WriteImage("i.fls") + "/x.fls"; }, ""},
    {"folder",
     [](TempFolder& f) {
       std::filesystem::create_directory(f.File("dir.fls"));
       return f.File("dir.fls");
     },
     " (a folder, not a file)"},
    {"FIFO",
     [](TempFolder& f) {
       ::mkfifo(f.File("fifo.fls").c_str(), 0600);
       return f.File("fifo.fls");
     },
     " (a FIFO, not a file)"},
    {"device", [](TempFolder&) { return std::string("/dev/null"); }, " (a device, not a file)"},
};

TEST(FXCheckImage, MissingFileIsReportedWithOrWithoutIgnoreChecksum) {
  for (const NotAFileCase& c : kNotAFileCases) {
    TempFolder folder;
    const std::string path = c.make(folder);
    for (TOptionWord options : {TOptionWord{0}, OPT_IGNORE_CHECKSUM}) {
      CheckRun run;
      Check(run, path, options);
      EXPECT_EQ(run.result, icrFileDoesNotExist) << c.name;
      EXPECT_EQ(run.info, "File does not exist: " + path + c.said) << c.name;
      EXPECT_EQ(run.bios_type, 99) << c.name;
      EXPECT_EQ(run.ui.LogLines(), std::vector<std::string>{"FXCheckImage " + path}) << c.name;
    }
  }
}

TEST(FXCheckImage, APathThatCannotBeLookedAtRaisesIoError) {
  TempFolder folder;
  std::filesystem::create_symlink("loop.fls", folder.File("loop.fls"));
  CheckRun run;
  try {
    Check(run, folder.File("loop.fls"), 0);
    ADD_FAILURE() << "no error raised";
  } catch (const IoError& e) {
    EXPECT_EQ(e.Text().rfind("Cannot open " + folder.File("loop.fls") + ": ", 0), 0u) << e.Text();
  }
}

TEST(FXCheckImage, AnImageLargerThanAnyFlashIsCheckedWithAWarning) {
  for (std::uintmax_t size : {std::uintmax_t{0x2000000}, std::uintmax_t{0x2000001}, std::uintmax_t{8} << 30}) {
    TempFolder folder;
    const std::string path = folder.WriteImage("big.fls");
    std::filesystem::resize_file(path, size);  // sparse: the header and the OS stay valid
    for (bool asked : {true, false}) {
      CheckRun run;
      Check(run, path, 0, asked);
      EXPECT_EQ(run.result, icrOK) << size;
      EXPECT_EQ(ValueOf(run.info, "FILESIZE"), IntToHex(size, 8)) << size;
      const bool warned = asked && size > 0x2000000;
      ASSERT_EQ(run.ui.dialogs.size(), warned ? 1u : 0u) << size;
      if (warned) {
        EXPECT_EQ(run.ui.dialogs[0].kind, DialogKind::Warning);
        EXPECT_EQ(run.ui.dialogs[0].text, path + " is " + std::to_string(size) +
                                              " bytes, more than any calculator's flash holds (32 MiB): it is "
                                              "probably not a flash image.");
      }
    }
  }
}

TEST(FXCheckImage, AFileThatShrinksDuringTheCheckIsNeverAccepted) {
  TempFolder folder;
  const std::string path = folder.WriteImage("s.fls");
  CheckRun run;
  bool cut = false;
  run.ui.on_process_messages = [&] {
    const auto& last = run.ui.notifications.back();
    if (!cut && last.code == nfProgressPos && last.value == 0x100000) {
      std::filesystem::resize_file(path, 0x180000);
      cut = true;
    }
  };
  Check(run, path, 0);
  EXPECT_TRUE(cut);
  EXPECT_EQ(run.result, icrFileSizeError);
  EXPECT_EQ(run.info.rfind("Filesize error(2): 00180000", 0), 0u) << run.info;
  EXPECT_FALSE(run.ui.HasLogLine("Checksum OK!"));
}

TEST(FXCheckImage, ReadFailureRaisesIoErrorAfterClosingAndLeaving) {
  TempFolder folder;
  const std::string path = folder.WriteImage("r.fls");
  TMiniLogger logger;
  logger.enabled = true;
  logger.file_name = folder.File("check.LOG");
  CheckRun run;
  // The version has been read when its notification goes out; the next field is past the cut.
  run.ui.on_process_messages = [&] {
    if (run.ui.notifications.back().code == nfImageData) std::filesystem::resize_file(path, 0x10040);
  };
  EXPECT_THROW(Check(run, path, 0, true, &logger), IoError);
  std::ifstream in(folder.File("check.LOG"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_NE(lines[lines.size() - 2].find("  closefile"), std::string::npos);
  EXPECT_NE(lines.back().find("FX9860_transfer_protocol.FXCheckImage:exit"), std::string::npos);
}

// ---- what the user sees ----

TEST(FXCheckImage, NotificationsOfACheckTheUserAskedFor) {
  TempFolder folder;
  const std::string path = folder.WriteImage("n.fls");
  CheckRun run;
  Check(run, path, 0, true);
  ASSERT_EQ(run.result, icrOK);
  EXPECT_EQ(run.ui.LogLines(), (std::vector<std::string>{"FXCheckImage " + path, "Checksum OK!"}));
  EXPECT_EQ(run.ui.Texts(nfImageData), std::vector<std::string>{"02.00.0000"});
  EXPECT_EQ(run.ui.Values(nfProgressMax), std::vector<std::int64_t>{0x250000});
  std::vector<std::int64_t> positions{0};
  for (std::int64_t offset = 0x10000; offset < 0x250000; offset += 0x10000) positions.push_back(offset);
  EXPECT_EQ(run.ui.Values(nfProgressPos), positions);
  // Every notification lets pending messages run.
  EXPECT_GE(run.ui.process_messages_calls, static_cast<int>(run.ui.notifications.size()));
  EXPECT_TRUE(run.ui.dialogs.empty());
}

TEST(FXCheckImage, Class0ProgressJumpsOverTheMainMemory) {
  TempFolder folder;
  TestImageSpec spec;
  spec.layout_class = 0;
  CheckRun run;
  Check(run, folder.WriteImage("c0.fls", spec), 0, true);
  ASSERT_EQ(run.result, icrOK);
  const std::vector<std::int64_t> positions = run.ui.Values(nfProgressPos);
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.back(), 0x230000);
  EXPECT_EQ(run.ui.Values(nfProgressMax), std::vector<std::int64_t>{0x270000});
}

TEST(FXCheckImage, DamagedImageSaysChecksumNotOk) {
  TempFolder folder;
  TestImageSpec spec;
  spec.correct_checksum = false;
  CheckRun run;
  Check(run, folder.WriteImage("d.fls", spec), 0, true);
  EXPECT_EQ(run.result, icrChecksumError);
  EXPECT_TRUE(run.ui.HasLogLine("Checksum NOT OK!"));
  EXPECT_NE(ValueOf(run.info, "OSCHKCALC"), ValueOf(run.info, "OSCHKSAVE"));
}

TEST(FXCheckImage, UnknownVersionShowsTheErrorDialogOnlyWhenAsked) {
  TempFolder folder;
  TestImageSpec spec;
  spec.layout_class = 1;
  spec.os_version = "02.03.0000";
  const std::string path = folder.WriteImage("u.fls", spec);
  CheckRun asked;
  Check(asked, path, 0, true);
  EXPECT_EQ(asked.result, icrOsVersionError);
  ASSERT_EQ(asked.ui.dialogs.size(), 1u);
  EXPECT_EQ(asked.ui.dialogs[0].text, "OS-version at offset 0x10020 unknown!");
  EXPECT_EQ(asked.ui.dialogs[0].kind, DialogKind::Error);
  EXPECT_EQ(asked.ui.dialogs[0].buttons, DialogButtons::OK);

  CheckRun silent;
  Check(silent, path, 0, false);
  EXPECT_EQ(silent.result, icrOsVersionError);
  EXPECT_TRUE(silent.ui.dialogs.empty());
  // Only the first line goes out when the user did not ask for the check.
  EXPECT_EQ(silent.ui.notifications.size(), 1u);
}

TEST(FXCheckImage, SilentCheckSendsOnlyTheFirstLine) {
  TempFolder folder;
  const std::string path = folder.WriteImage("q.fls");
  CheckRun run;
  Check(run, path, 0, false);
  EXPECT_EQ(run.result, icrOK);
  ASSERT_EQ(run.ui.notifications.size(), 1u);
  EXPECT_EQ(run.ui.notifications[0].text, "FXCheckImage " + path);
}

// ---- the diagnostics log ----

std::vector<std::string> LoggedTexts(const std::string& log_file) {
  // Each line: "<program> dd.mm.yyyy hh:nn:ss <text>".
  std::vector<std::string> texts;
  std::ifstream in(log_file);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t pos = 0;
    for (int field = 0; field < 3 && pos != std::string::npos; ++field) pos = line.find(' ', pos) + 1;
    texts.push_back(line.substr(pos));
  }
  return texts;
}

TEST(FXCheckImage, LogLinesWithTheirIndentation) {
  TempFolder folder;
  TestImageSpec spec;
  ResolvedTestImage resolved{};
  WriteTestImage(spec, folder.File("l.fls"), &resolved);
  TMiniLogger logger;
  logger.enabled = true;
  logger.file_name = folder.File("check.LOG");
  CheckRun run;
  Check(run, folder.File("l.fls"), 0, true, &logger);
  ASSERT_EQ(run.result, icrOK);
  const std::string sum = IntToHex(resolved.os_checksum, 8);
  const std::vector<std::string> expected = {
      "FX9860_transfer_protocol.FXCheckImage:entry",
      folder.File("l.fls"),
      "CheckRepository ON",
      "  FILESIZE=00270000",
      "  CASIOWIN",
      "  BIOSDATE=2009.0203.1852",
      "  CALCID=OSTREL01",
      "  BIOSCHK=006B2CE3",
      "  TYPEINFO1=47593336 (GY36)",
      "  TYPEINFO2=FFAA0001 (SD)",
      "  BIOSIMAGETYPE=GII BIOS",
      "  OSVERSION=02.00.0000",
      "  SYSCALLADR=80010070",
      "  calculate checksum:start (os:1)",
      "  calculate checksum:end",
      "  closefile",
      "  OSDATE=2009.0601.1200",
      "  OSCHKCALC=" + sum,
      "  OSCHKSAVE=" + sum,
      "FX9860_transfer_protocol.FXCheckImage:exit",
  };
  EXPECT_EQ(LoggedTexts(folder.File("check.LOG")), expected);
}

TEST(FXCheckImage, LogOfEarlyEndsClosesTheFile) {
  TempFolder folder;
  TestImageSpec spec;
  spec.size = 0x200000;
  const std::string path = folder.WriteImage("short.fls", spec);
  { std::ofstream(folder.File("empty.fls")); }
  TMiniLogger logger;
  logger.enabled = true;
  logger.file_name = folder.File("check.LOG");

  CheckRun short_run;
  Check(short_run, path, 0, false, &logger);
  ASSERT_EQ(short_run.result, icrFileSizeError);
  std::vector<std::string> texts = LoggedTexts(folder.File("check.LOG"));
  ASSERT_GE(texts.size(), 4u);
  EXPECT_EQ(texts[2], "CheckRepository off");
  EXPECT_EQ(texts[texts.size() - 2], "  closefile");
  EXPECT_EQ(texts.back(), "FX9860_transfer_protocol.FXCheckImage:exit");

  CheckRun ignored;
  Check(ignored, folder.File("empty.fls"), OPT_IGNORE_CHECKSUM, false, &logger);
  texts = LoggedTexts(folder.File("check.LOG"));
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[texts.size() - 2], "fxIgnoreChk");
  EXPECT_EQ(texts.back(), "FX9860_transfer_protocol.FXCheckImage:exit");
}

// ---- tables ----

TEST(ImageCheckResultName, NamesEveryCode) {
  const std::pair<int, const char*> cases[] = {
      {0, "OK"},           {1, "OSVERSION_ERROR"}, {2, "UNKNOWN"},   {3, "FILESIZE_ERROR"},
      {4, "CHECKSUM_ERROR"}, {5, "CASIOWIN_ERROR"}, {6, "FILE_DOES_NOT_EXIST"}, {7, "undefined"},
      {255, "undefined"},
  };
  for (const auto& [code, name] : cases) EXPECT_EQ(ImageCheckResultName(static_cast<std::uint8_t>(code)), name);
}

TEST(ChooseOsLayout, VersionAndBiosTypeSelectTheClass) {
  struct LayoutCase {
    const char* version;
    std::int32_t bios_type;
    int os_class;  // -1: unknown
  };
  const LayoutCase cases[] = {
      {"02.00.0000", 2, 1}, {"02.01.0000", -1, 1}, {"02.02.0000", 0, 1}, {"03.00.0000", 7, 1},
      {"03.01.0000", 5, 3}, {"02.00.0000", 5, 3},  {"01.02.0000", 5, 2}, {"01.00.0000", 0, 0},
      {"01.99.9999", 5, 0}, {"02.03.0000", 2, -1}, {"02.00.0001", 2, -1}, {"10.00.0000", 0, -1},
      {"1.02.0000 ", 0, -1},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.version);
    auto layout = ChooseOsLayout(c.version, c.bios_type);
    if (c.os_class < 0) {
      EXPECT_FALSE(layout.has_value());
    } else {
      ASSERT_TRUE(layout.has_value());
      EXPECT_EQ(layout->os_class, c.os_class);
    }
  }
}

}  // namespace
}  // namespace ostrel
