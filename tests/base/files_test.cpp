#include "base/files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/error.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace ostrel {
namespace {

using ostrel::testing::ReadFileText;
using ostrel::testing::TemporaryFolder;
using ostrel::testing::WriteFileText;

std::string ErrorText(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& error) {
    return error.Text();
  }
  return "(no error)";
}

std::vector<std::string> ReadLines(TBaseFile& file) {
  std::vector<std::string> lines;
  std::string line;
  while (file.ReadLine(line)) lines.push_back(line);
  EXPECT_EQ(file.Result(), 0);
  return lines;
}

TEST(TTextFileTest, BlankNameAndUnknownModeRaise) {
  for (const char* name : {"", " ", "\t "}) {
    EXPECT_EQ(ErrorText([&] { TTextFile file(name); }), "BASE_00.TBaseFile.Create") << '"' << name << '"';
  }
  TemporaryFolder dir;
  for (int mode : {-1, 3, 7}) {
    TTextFile file(dir / "x.txt", mode);
    EXPECT_EQ(ErrorText([&] { file.POpen(); }), "BASE_00.TTextFile.POpen") << mode;
    EXPECT_FALSE(file.IsOpen());
  }
}

// Only regular files are read: a FIFO would wait for a writer for ever and /dev/zero never
// ends, so both are refused at once, and the result says what the path is.
TEST(TTextFileTest, ReadsOnlyRegularFiles) {
  TemporaryFolder dir;
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::string path;
    std::string text;
  };
  const Case cases[] = {
      {fifo, "it is a FIFO, not a regular file"},
      {"/dev/zero", "it is a device, not a regular file"},
      {dir.Path(), "Is a directory"},
  };
  for (const Case& c : cases) {
    TTextFile file(c.path);
    EXPECT_FALSE(file.POpen()) << c.path;
    EXPECT_FALSE(file.IsOpen()) << c.path;
    EXPECT_EQ(file.ResultText(), c.text) << c.path;
  }
  TTextFile regular(WriteFileText(dir / "regular.txt", "line"));
  EXPECT_TRUE(regular.POpen());
  EXPECT_EQ(regular.ResultText(), "Success");
}

TEST(TTextFileTest, ReadsLinesWithAnyLineEnd) {
  struct Case {
    std::string content;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"one", {"one"}},
      {"one\n", {"one"}},
      {"one\ntwo\n", {"one", "two"}},
      {"one\r\ntwo\r\n", {"one", "two"}},
      {"one\rtwo", {"one", "two"}},
      {"\n\nx\r\n\r\n", {"", "", "x", ""}},
      {"a\r", {"a"}},
      {"tab\there \"q\"\n", {"tab\there \"q\""}},
  };
  TemporaryFolder dir;
  for (const Case& c : cases) {
    TTextFile file(WriteFileText(dir / "lines.txt", c.content));
    ASSERT_TRUE(file.POpen());
    EXPECT_EQ(ReadLines(file), c.lines) << ::testing::PrintToString(c.content);
    EXPECT_TRUE(file.Eof());
  }
}

TEST(TTextFileTest, CreateAppendAndImmediateFlush) {
  TemporaryFolder dir;
  const std::string path = dir / "log.txt";
  {
    TTextFile file(path, kModeAppend);
    ASSERT_TRUE(file.POpen()) << "append creates a missing file";
    EXPECT_TRUE(file.WriteLine("first"));
    EXPECT_EQ(ReadFileText(path), "first\n") << "written text reaches the disk at once";
  }
  {
    TTextFile file(path, kModeAppend);
    ASSERT_TRUE(file.POpen());
    EXPECT_TRUE(file.WriteText("second"));
    EXPECT_EQ(file.Size(), 12u);
  }
  EXPECT_EQ(ReadFileText(path), "first\nsecond");
  {
    TTextFile file(path, kModeCreate);
    ASSERT_TRUE(file.POpen());
    EXPECT_EQ(ReadFileText(path), "") << "create anew empties the file";
    EXPECT_TRUE(file.WriteText("new"));
    file.Close();
    EXPECT_FALSE(file.IsOpen());
  }
  EXPECT_EQ(ReadFileText(path), "new");
}

TEST(TTextFileTest, FailuresGoToTheResultCode) {
  TemporaryFolder dir;
  TTextFile missing(dir / "missing.txt");
  EXPECT_FALSE(missing.POpen());
  EXPECT_EQ(missing.Result(), ENOENT);
  EXPECT_FALSE(missing.CheckResult());
  EXPECT_FALSE(missing.IsOpen());
  std::string line = "stale";
  EXPECT_FALSE(missing.ReadLine(line));
  EXPECT_EQ(line, "");
  EXPECT_EQ(missing.Result(), EBADF);
  EXPECT_TRUE(missing.Eof());

  TTextFile folder(dir.Path());
  EXPECT_FALSE(folder.POpen()) << "a folder is no text file";
  EXPECT_NE(folder.Result(), 0);

  TTextFile reader(WriteFileText(dir / "r.txt", "data"));
  ASSERT_TRUE(reader.POpen());
  EXPECT_FALSE(reader.WriteText("x"));
  EXPECT_EQ(reader.Result(), EBADF);
  EXPECT_TRUE(reader.ReadLine(line));
  EXPECT_TRUE(reader.CheckResult()) << "a successful operation clears the result code";

  TTextFile writer(dir / "w.txt", kModeCreate);
  ASSERT_TRUE(writer.POpen());
  EXPECT_FALSE(writer.ReadLine(line));
  EXPECT_EQ(writer.Result(), EBADF);

  TTextFile no_folder(dir / "no/such/file.txt", kModeCreate);
  EXPECT_FALSE(no_folder.POpen());
  EXPECT_EQ(no_folder.Result(), ENOENT);
}

TEST(TTextFileTest, BlocksPositionsAndWholeContent) {
  TemporaryFolder dir;
  const std::string content = std::string("line1\r\nline2\n") + std::string(3, '\0') + "\xFF";
  TTextFile file(WriteFileText(dir / "b.bin", content));
  ASSERT_TRUE(file.POpen());
  EXPECT_EQ(file.Size(), content.size());

  std::string line;
  ASSERT_TRUE(file.ReadLine(line));
  EXPECT_EQ(file.Position(), 7u);

  std::uint8_t buffer[64];
  std::size_t count = 0;
  ASSERT_TRUE(file.ReadBlock(std::span<std::uint8_t>(buffer, 4), count));
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), count), "line");
  ASSERT_TRUE(file.ReadBlock(buffer, sizeof buffer, count));
  EXPECT_EQ(count, content.size() - 11) << "a short count only at the end";
  EXPECT_TRUE(file.Eof());
  ASSERT_TRUE(file.ReadBlock(buffer, sizeof buffer, count));
  EXPECT_EQ(count, 0u);

  ASSERT_TRUE(file.Seek(13));
  EXPECT_FALSE(file.Eof());
  ASSERT_TRUE(file.ReadBlock(buffer, 1, count));
  EXPECT_EQ(buffer[0], 0);

  std::string all;
  ASSERT_TRUE(file.ReadAll(all));
  EXPECT_EQ(all, content) << "the whole file, whatever the position was";
  EXPECT_TRUE(file.Eof());
}

// A stored record: little-endian header words, then the content.
std::vector<std::uint8_t> StoredRecord(std::uint32_t size, std::uint32_t date, std::uint32_t time,
                                       std::uint32_t checksum, const std::vector<std::uint8_t>& content) {
  std::vector<std::uint8_t> stored;
  for (std::uint32_t word : {size, date, time, checksum}) {
    for (int shift = 0; shift < 32; shift += 8) stored.push_back(static_cast<std::uint8_t>(word >> shift));
  }
  stored.insert(stored.end(), content.begin(), content.end());
  return stored;
}

TEST(TMemoryFileTest, ReadsTheRecordContent) {
  const std::vector<std::uint8_t> content = {0x10, 0xFF, 0x80, 'A', 'B', 0x00, 0x7F};
  const std::uint32_t checksum = 0x10 + 0xFF + 0x80 + 'A' + 'B' + 0x7F;
  std::vector<std::uint8_t> stored = StoredRecord(7, 20120219, 102922, checksum, content);
  stored.push_back(0xEE);  // bytes beyond the stated size are no content
  const TMemoryRecord record{std::span<const std::uint8_t>(stored)};
  EXPECT_EQ(record.StatedSize(), 7u);
  EXPECT_EQ(record.StatedChecksum(), checksum);

  TMemoryFile file(record);
  EXPECT_EQ(file.FileName(), "@MEMORY@");
  EXPECT_EQ(file.Date(), 20120219u);
  EXPECT_EQ(file.Time(), 102922u);
  std::uint8_t buffer[16] = {};
  std::size_t count = 99;
  EXPECT_FALSE(file.ReadBlock(buffer, 4, count)) << "not open yet";
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(file.Result(), EBADF);

  ASSERT_TRUE(file.POpen());
  EXPECT_EQ(file.Size(), 7u);
  ASSERT_TRUE(file.ReadBlock(buffer, 3, count));
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 3), std::vector<std::uint8_t>({0x10, 0xFF, 0x80}));
  EXPECT_EQ(file.Position(), 3u);
  EXPECT_FALSE(file.Eof());
  ASSERT_TRUE(file.ReadBlock(buffer, sizeof buffer, count));
  EXPECT_EQ(count, 4u) << "the smaller of the request and what is left";
  EXPECT_TRUE(file.Eof());
  ASSERT_TRUE(file.ReadBlock(buffer, sizeof buffer, count));
  EXPECT_EQ(count, 0u);

  ASSERT_TRUE(file.Seek(1000));
  EXPECT_EQ(file.Position(), 7u) << "seeking is limited to the size";
  ASSERT_TRUE(file.Seek(5));
  ASSERT_TRUE(file.ReadBlock(buffer, 1, count));
  EXPECT_EQ(buffer[0], 0x00);

  std::string all;
  ASSERT_TRUE(file.ReadAll(all));
  EXPECT_EQ(all, std::string("\x10\xFF\x80" "AB", 5) + std::string(1, '\0') + "\x7F");
  EXPECT_TRUE(file.Eof());

  std::string line;
  EXPECT_FALSE(file.ReadLine(line)) << "the memory file reads blocks, not lines";
  EXPECT_FALSE(file.WriteText("x")) << "the memory file is read-only";
  EXPECT_NE(file.Result(), 0);
}

TEST(TMemoryFileTest, BuiltRecordRoundTrips) {
  std::vector<std::uint8_t> content(10240);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 13);
  const TMemoryRecord record = TMemoryRecord::Build(20120219, 102922, content);
  EXPECT_EQ(record.Stored().size(), 16u + 10240u);
  EXPECT_EQ(record.Stored()[0], 0x00);
  EXPECT_EQ(record.Stored()[1], 0x28) << "10240 = 0x2800, little-endian";
  EXPECT_TRUE(record.IsValid());

  TMemoryFile file(TMemoryRecord(std::vector<std::uint8_t>(record.Stored().begin(), record.Stored().end())));
  ASSERT_TRUE(file.POpen());
  std::vector<std::uint8_t> read(content.size());
  std::size_t count = 0;
  ASSERT_TRUE(file.ReadBlock(read, count));
  EXPECT_EQ(count, content.size());
  EXPECT_EQ(read, content);
}

TEST(TMemoryFileTest, DamagedRecordsRaiseTheChecksumError) {
  const std::vector<std::uint8_t> content = {1, 2, 3, 4};
  std::vector<std::uint8_t> changed_byte = StoredRecord(4, 1, 2, 10, content);
  changed_byte.back() = 5;
  std::vector<std::uint8_t> header_cut = StoredRecord(4, 1, 2, 10, content);
  header_cut.resize(15);
  struct Case {
    const char* label;
    std::vector<std::uint8_t> stored;
  };
  const Case cases[] = {
      {"wrong checksum", StoredRecord(4, 1, 2, 11, content)},
      {"changed content byte", changed_byte},
      {"empty record", {}},
      {"shorter than its header", header_cut},
      {"shorter than its stated size", StoredRecord(100, 1, 2, 10, content)},
      {"huge stated size", StoredRecord(0xFFFFFFFF, 1, 2, 10, content)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorText([&] { TMemoryFile file{TMemoryRecord(c.stored)}; }),
              "BASE_00.TMemoryFile.Create:checksum")
        << c.label;
  }
  EXPECT_NO_THROW(TMemoryFile{TMemoryRecord(StoredRecord(4, 1, 2, 10, content))});
  EXPECT_NO_THROW(TMemoryFile{TMemoryRecord(StoredRecord(0, 1, 2, 0, {}))}) << "an empty content is valid";
}

TEST(TMemoryFileTest, OnlyTheReadModeOpens) {
  const TMemoryRecord record = TMemoryRecord::Build(1, 2, std::vector<std::uint8_t>{9});
  for (int mode : {kModeCreate, kModeAppend, 5}) {
    TMemoryFile file(record, mode);
    EXPECT_EQ(ErrorText([&] { file.POpen(); }), "BASE_00.TMemoryFile.POpen") << mode;
  }
  TMemoryFile file(record, kModeCreate);
  file.SetMode(kModeRead);
  EXPECT_TRUE(file.POpen());
}

}  // namespace
}  // namespace ostrel
