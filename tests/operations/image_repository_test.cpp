#include "operations/image_repository.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "env/ini_file.h"
#include "operations/image_check.h"
#include "operations/image_test_folder.h"
#include "support/recording_ui.h"

namespace ostrel {
namespace {

using testing::CrLfLines;
using testing::ReadFileText;
using testing::RecordingUi;
using testing::TempFolder;

class ImageRepository : public ::testing::Test {
 protected:
  // A check with the repository on, as the recovery runs it (silent: no repository pass)
  // or as the user asks for it.
  ImageCheckResult Register(const std::string& name, bool asked = false) {
    std::string info;
    std::int32_t type = -1;
    return FXCheckImage(folder_.File(name), 0, nullptr, true, asked, nullptr, info, type, nullptr, ui_.Ui());
  }
  std::string Info(const std::string& name) {
    std::string info;
    std::int32_t type = -1;
    FXCheckImage(folder_.File(name), 0, nullptr, false, false, nullptr, info, type, nullptr, {});
    return info;
  }
  TIniFile Repository() const { return TIniFile(folder_.File("IMAGEINFO.INI")); }
  std::vector<std::string> Section(const std::string& name) const { return Repository().ReadSectionValues(name); }
  std::string SortedByOsDate() const { return ReadFileText(folder_.File("IMAGEINFO_SORT_OSDATE.INI")); }
  std::string SortedByBiosDate() const { return ReadFileText(folder_.File("IMAGEINFO_SORT_BIOSDATE.INI")); }

  TempFolder folder_;
  RecordingUi ui_;
};

std::string Block(const std::string& name, const std::vector<std::string>& lines) {
  std::string text = "[" + name + "]\r\n";
  for (const std::string& line : lines) text += line + "\r\n";
  return text + "\r\n";
}

TEST_F(ImageRepository, FirstRegistrationWritesTheFullEntryAndBothSortedCopies) {
  folder_.WriteImage("a.fls");
  ASSERT_EQ(Register("a.fls"), icrOK);
  const std::vector<std::string> expected = CrLfLines(Info("a.fls"));
  ASSERT_EQ(expected.size(), 12u);
  EXPECT_EQ(Repository().ReadSections(), std::vector<std::string>{"a.fls"});
  EXPECT_EQ(Section("a.fls"), expected);
  EXPECT_EQ(SortedByOsDate(), Block("a.fls", expected));
  EXPECT_EQ(SortedByBiosDate(), Block("a.fls", expected));
  EXPECT_EQ(SaveImageInfo(folder_.File("a.fls"), Info("a.fls"), true, {}), "");
  // Nothing but the image and the three repository files: no temporary file is left.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder_.Path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"IMAGEINFO.INI", "IMAGEINFO_SORT_BIOSDATE.INI",
                                             "IMAGEINFO_SORT_OSDATE.INI", "a.fls"}));
}

TEST_F(ImageRepository, ImageNamesWithBracketsAreRegistered) {
  folder_.WriteImage("x[1].fls");
  ASSERT_EQ(Register("x[1].fls", true), icrOK);
  const std::vector<std::string> expected = CrLfLines(Info("x[1].fls"));
  EXPECT_EQ(Repository().ReadSections(), std::vector<std::string>{"x[1].fls"});
  EXPECT_EQ(Section("x[1].fls"), expected);
  EXPECT_EQ(SortedByOsDate(), Block("x[1].fls", expected));
  // Registered, so neither listed nor purged at the next registration.
  EXPECT_EQ(SaveImageInfo(folder_.File("x[1].fls"), Info("x[1].fls"), true, {}), "");
  EXPECT_EQ(Repository().ReadSections(), std::vector<std::string>{"x[1].fls"});
}

TEST_F(ImageRepository, ExactCopyBecomesACloneAtItsSecondCheckAndFullAgainAtItsThird) {
  folder_.WriteImage("a.fls");
  folder_.WriteImage("b.fls");
  Register("a.fls");
  Register("b.fls");
  const std::vector<std::string> full = CrLfLines(Info("b.fls"));
  EXPECT_EQ(Section("b.fls"), full);
  Register("b.fls");
  EXPECT_EQ(Section("b.fls"), std::vector<std::string>{"CLONE=a.fls"});
  EXPECT_EQ(Section("a.fls"), full);
  Register("b.fls");
  EXPECT_EQ(Section("b.fls"), full);
  // The image itself matches first: nothing changes.
  Register("a.fls");
  EXPECT_EQ(Section("a.fls"), full);
  EXPECT_EQ(Repository().ReadSections(), (std::vector<std::string>{"a.fls", "b.fls"}));
}

TEST_F(ImageRepository, CopyWithAnotherCalculatorIdIsACloneByValueWithItsOwnId) {
  TestImageSpec spec;
  spec.calc_id = "AAAA1111";
  folder_.WriteImage("a.fls", spec);
  spec.calc_id = "BBBB2222";
  folder_.WriteImage("b.fls", spec);
  Register("a.fls");
  Register("b.fls");
  Register("b.fls");
  EXPECT_EQ(Section("b.fls"), (std::vector<std::string>{"CLONE=a.fls", "CALCID=BBBB2222"}));
}

TEST_F(ImageRepository, DifferentImagesStayFull) {
  folder_.WriteImage("a.fls");
  TestImageSpec spec;
  spec.seed = 7;
  folder_.WriteImage("b.fls", spec);
  Register("a.fls");
  Register("b.fls");
  Register("b.fls");
  EXPECT_EQ(Section("b.fls").size(), 12u);
}

TEST_F(ImageRepository, DeletedImagesArePurgedFromAllThreeFiles) {
  folder_.WriteImage("a.fls");
  TestImageSpec spec;
  spec.seed = 3;
  folder_.WriteImage("b.fls", spec);
  spec.seed = 4;
  folder_.WriteImage("c.fls", spec);
  Register("a.fls");
  Register("b.fls");
  Register("c.fls");
  ASSERT_EQ(Repository().ReadSections().size(), 3u);
  std::filesystem::remove(folder_.File("b.fls"));
  std::filesystem::remove(folder_.File("c.fls"));
  Register("a.fls");
  EXPECT_EQ(Repository().ReadSections(), std::vector<std::string>{"a.fls"});
  EXPECT_EQ(SortedByOsDate().find("[b.fls]"), std::string::npos);
  EXPECT_EQ(SortedByBiosDate().find("[c.fls]"), std::string::npos);
}

TEST_F(ImageRepository, ListsOnlyUnregisteredG1sAndFlsImages) {
  folder_.WriteImage("a.fls");
  folder_.WriteImage("b.G1S");
  folder_.WriteImage("c.bin");
  folder_.WriteImage("d.fls.bak");
  Register("a.fls");
  const std::string listed = SaveImageInfo(folder_.File("a.fls"), Info("a.fls"), true, {});
  EXPECT_EQ(listed, folder_.Folder() + "b.G1S\r\n");
  EXPECT_EQ(SaveImageInfo(folder_.File("a.fls"), Info("a.fls"), false, {}), "");
}

TEST_F(ImageRepository, SectionComparisonForTheListingIgnoresCase) {
  folder_.WriteImage("a.fls");
  TestImageSpec spec;
  spec.seed = 2;
  folder_.WriteImage("b.fls", spec);
  folder_.WriteImage("B.FLS", spec);
  Register("a.fls");
  Register("b.fls");
  // The section "b.fls" stands for B.FLS as well.
  EXPECT_EQ(SaveImageInfo(folder_.File("a.fls"), Info("a.fls"), true, {}), "");
}

TEST_F(ImageRepository, SortedCopiesOrderByTheirDateThenTheOtherDateThenName) {
  TestImageSpec spec;
  spec.os_date = "2010.0101.0000";
  spec.bios_row = 7;  // 2009.0203.1852
  folder_.WriteImage("a.fls", spec);
  spec.os_date = "2009.0101.0000";
  spec.bios_row = 8;  // 2009.0204.0855
  spec.seed = 2;
  folder_.WriteImage("b.fls", spec);
  spec.seed = 3;
  folder_.WriteImage("C.fls", spec);
  Register("a.fls");
  Register("b.fls");
  Register("C.fls");
  const std::string by_os = SortedByOsDate();
  const std::string by_bios = SortedByBiosDate();
  EXPECT_LT(by_os.find("[b.fls]"), by_os.find("[C.fls]"));
  EXPECT_LT(by_os.find("[C.fls]"), by_os.find("[a.fls]"));
  EXPECT_LT(by_bios.find("[a.fls]"), by_bios.find("[b.fls]"));
  EXPECT_LT(by_bios.find("[b.fls]"), by_bios.find("[C.fls]"));
  // Every section is there once, with its values.
  EXPECT_EQ(by_os.size(), by_bios.size());
  EXPECT_NE(by_os.find(Block("a.fls", Section("a.fls"))), std::string::npos);
}

TEST_F(ImageRepository, SemicolonInANameCutsItsSortedBlock) {
  folder_.WriteImage("x;y.fls");
  ASSERT_EQ(Register("x;y.fls"), icrOK);
  EXPECT_EQ(Section("x;y.fls").size(), 12u);
  EXPECT_EQ(SortedByOsDate(), "[x]\r\n\r\n");
  EXPECT_EQ(SortedByBiosDate(), "[x]\r\n\r\n");
}

TEST_F(ImageRepository, ProgressAndDiagnostics) {
  folder_.WriteImage("a.fls");
  TestImageSpec spec;
  spec.seed = 9;
  folder_.WriteImage("b.fls", spec);
  Register("a.fls");
  ui_ = RecordingUi();
  SaveImageInfo(folder_.File("b.fls"), Info("b.fls"), false, ui_.Ui());
  EXPECT_EQ(ui_.LogLines(), (std::vector<std::string>{"_SaveImageInfo", folder_.File("b.fls"),
                                                      folder_.File("IMAGEINFO_SORT_OSDATE.INI"),
                                                      folder_.File("IMAGEINFO_SORT_BIOSDATE.INI")}));
  EXPECT_EQ(ui_.Values(nfProgressMax), (std::vector<std::int64_t>{2, 2}));
  EXPECT_EQ(ui_.Values(nfProgressPos), (std::vector<std::int64_t>{1, 2, 1, 2, 0}));
}

TEST_F(ImageRepository, UserCheckRegistersEveryUnregisteredImageOfTheFolder) {
  folder_.WriteImage("a.fls");
  TestImageSpec spec;
  spec.seed = 5;
  folder_.WriteImage("b.G1S", spec);
  spec.correct_checksum = false;
  folder_.WriteImage("c.fls", spec);
  TestImageSpec short_spec;
  short_spec.size = 0x200000;
  folder_.WriteImage("d.fls", short_spec);
  folder_.WriteImage("e.bin");

  ASSERT_EQ(Register("a.fls", true), icrOK);
  const std::vector<std::string> lines = ui_.LogLines();
  const std::vector<std::string> pass(std::find(lines.begin(), lines.end(), "Image-Repository:1 of 3"), lines.end());
  ASSERT_FALSE(pass.empty());
  auto has = [&](const std::string& text) { return std::find(pass.begin(), pass.end(), text) != pass.end(); };
  EXPECT_TRUE(has("Image-Repository:2 of 3"));
  EXPECT_TRUE(has("Image-Repository:3 of 3"));
  EXPECT_TRUE(has(folder_.File("b.G1S")));
  EXPECT_TRUE(has("Error: CHECKSUM_ERROR"));
  EXPECT_TRUE(has("Error: FILESIZE_ERROR"));
  EXPECT_EQ(std::count_if(pass.begin(), pass.end(), [](const std::string& l) { return l.rfind("Error: ", 0) == 0; }),
            2);

  // The damaged image is registered with its differing checksums; the short one is not.
  EXPECT_EQ(Repository().ReadSections(), (std::vector<std::string>{"a.fls", "b.G1S", "c.fls"}));
  const std::vector<std::string> damaged = Section("c.fls");
  ASSERT_EQ(damaged.size(), 12u);
  EXPECT_NE(damaged[10].substr(damaged[10].find('=')), damaged[11].substr(damaged[11].find('=')));

  // Nothing is left to register once the short image is gone.
  std::filesystem::remove(folder_.File("d.fls"));
  ui_ = RecordingUi();
  Register("a.fls", true);
  EXPECT_FALSE(ui_.HasLogLine("Image-Repository:1 of 1"));
}

TEST_F(ImageRepository, FailedChecksRegisterNothing) {
  struct FailCase {
    const char* name;
    std::function<void(TestImageSpec&)> setup;
  };
  const FailCase cases[] = {
      {"version.fls", [](TestImageSpec& s) { s.os_version = "02.03.0000"; s.layout_class = 1; }},
      {"short.fls", [](TestImageSpec& s) { s.size = 0x200000; }},
      {"nosig.fls", [](TestImageSpec& s) { s.signature = false; }},
  };
  for (const FailCase& c : cases) {
    TestImageSpec spec;
    c.setup(spec);
    folder_.WriteImage(c.name, spec);
    EXPECT_NE(Register(c.name, true), icrOK);
  }
  EXPECT_FALSE(std::filesystem::exists(folder_.File("IMAGEINFO.INI")));
}

}  // namespace
}  // namespace ostrel
