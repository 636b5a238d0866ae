// ostrel-fuzz-seeds OUTPUT SOURCE: writes the seed corpus of every fuzz target into
// OUTPUT/<target>/, made with the repository's own code: packets by the simulator's packet
// code, images by the image generator, settings by the settings writer, patch scripts
// from the examples in SOURCE/examples/patch, connection strings as the system builds them.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "env/ini_file.h"
#include "fuzz_support.h"
#include "fxsim/packet.h"
#include "support/bitmaps.h"
#include "link/connection_string.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

class SeedWriter {
 public:
  SeedWriter(const fs::path& root, const std::string& target) : folder_(root / target) {
    fs::create_directories(folder_);
  }
  void Add(const Bytes& bytes) {
    ostrel::fuzz::WriteFileBytes((folder_ / ("seed-" + std::to_string(++count_))).string(), bytes);
  }
  void Add(const std::string& text) { Add(Bytes(text.begin(), text.end())); }

 private:
  fs::path folder_;
  int count_ = 0;
};

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

void AnswerSeeds(SeedWriter out) {
  fxsim::ParameterBlock block;
  block.file_size = 0x80000;
  block.texts[1] = "RAM";
  block.texts[4] = "fls0";
  const Bytes raw = {0x00, 0x1F, 0x5C, 0x41, 0xFF};
  const Bytes data_block = fxsim::BuildPacket(fxsim::kTypeData, "30", Join({{'0', '8', '0', '0', '0', '0', '0', '1'}, fxsim::Escape(raw)}));
  Bytes damaged = data_block;
  damaged.back() ^= 1;
  out.Add(fxsim::BuildPacket(fxsim::kTypeAck, "00"));
  out.Add(fxsim::BuildPacket(fxsim::kTypeRoleSwap, "00"));
  out.Add(fxsim::BuildPacket(fxsim::kTypeError, "02"));
  out.Add(fxsim::BuildPacket(fxsim::kTypeError, "05", Bytes{'1', '2'}));
  out.Add(fxsim::BuildPacket(fxsim::kTypeCommand, "30", block.Encode()));
  out.Add(Join({data_block, damaged, fxsim::BuildPacket(fxsim::kTypeAck, "00", Bytes{'x'}), {0x00}, data_block}));
  out.Add(Join({{0x06, 0x30}, fxsim::BuildPacket(fxsim::kTypeTerminate, "01")}));
}

void ReadoutSeeds(SeedWriter out) {
  Bytes complete_ram = {0};
  for (int i = 0; i < 8; ++i) complete_ram.insert(complete_ram.end(), {0, 255});
  out.Add(complete_ram);
  out.Add(Bytes{0, 0, 3, 1, 0, 2, 6});
  out.Add(Bytes{0, 0, 2, 10, 0, 9, 0, 40, 2, 1, 0, 5});
  out.Add(Bytes{1, 0, 10, 3, 0, 5, 8, 0x27, 0x00, 7, 0x05});
  out.Add(Bytes{0, 4, 0x01, 0x30, 3, 'a', 'b', 'c', 5, 4, 0x5C, 0x06, 0x30, 0x30, 0, 1});
}

void ImageCheckSeeds(SeedWriter out) {
  for (std::uint8_t image = 0; image < 8; ++image) out.Add(Bytes{image, 0});
  out.Add(Bytes{0, 0x85});
  out.Add(Bytes{3, 0xC4});
  out.Add(Bytes{1, 0x90});
}

void SettingsSeeds(SeedWriter out, const fs::path& scratch) {
  const std::string path = (scratch / "seed.INI").string();
  const ostrel::TIniFile ini(path);
  ini.WriteString("PROGRAM", "LastSavedFile", "/home/user/backup.bin");
  ini.WriteString("PROGRAM", "COMPORT", "/dev/ttyUSB0");
  ini.WriteInteger("PROGRAM", "AUTOCOMPORTDETECTION", 1);
  ini.WriteInteger("LCD_CONTRAST", "Gy363000", 0x94);
  ini.WriteInteger("WINDOW", "Left", 100);
  ini.WriteString("AppEnv", "UD", "data");
  const Bytes settings = ostrel::fuzz::ReadFileBytes(path);
  out.Add(Join({Bytes{0}, settings}));
  const std::string parameters = "UD=userdata\r\nIF=settings.INI\nOS=Linux\n=x\nUNKNOWN=1\n";
  out.Add(Join({Bytes(parameters.begin(), parameters.end()), Bytes{0}, settings}));
  out.Add(std::string("PN=x\n") + '\0' + "[A]\nK=1\n[a]\nk=2\n; comment\n[x[1].fls]\nKEY = value \r\n");
}

void PatchSeeds(SeedWriter out, const fs::path& source) {
  for (const auto& entry : fs::directory_iterator(source / "examples" / "patch")) {
    std::ifstream in(entry.path(), std::ios::binary);
    const Bytes script((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    out.Add(Join({Bytes{0}, script}));
    out.Add(Join({Bytes{1}, script}));
  }
  out.Add(std::string("\x01") +
          "GOTO=$10\nINSERTLIST=1,2,$3\nINSERTSTRING=\"AB\"\nINSERTCHAR=$FF,3\nINSERTFILESIZE\nCOPY=2\nPASTE\n"
          "CHKSUM_INIT=0\nCHKSUM_CALC=0,$FF\nCHKSUM_SAVE=FILESIZE\nCHECKSTRING=1,AB\nCHECKLIST=0,1,2\n"
          "DISPLAYADDR=$100\nPRINTSTRING=0,0,Hello\nTESTBITMAP=x.bmp\nMAKECSOURCE=x.src,$100,$20\n"
          "VARIABLES=AUTOEXPAND,N\nAUTOEXPAND=TRUE\nN=$20\nGOTO=$(N)\nINSERTTIME=yyyy-mm-dd hh:nn:ss.zzz\n");
  out.Add(std::string("\x00", 1) + "ADJUSTMENT=-1\nCHKSUM_CALC=0,FILESIZE\nBIGENDIAN=FALSE\nINVERT=TRUE\n"
          "INSERTFILESIZE\nMAXSIZE=$20\nGOTO=$21\nunknown line\n// comment\n");
}

void ConnectionSeeds(SeedWriter out) {
  out.Add(std::string(ostrel::kSystemUsbConnection));
  out.Add(std::string(ostrel::kSystemUsbConnection) + "DEVICENAME=/dev/bus/usb/001/004");
  out.Add(ostrel::SystemSerialConnection("/dev/ttyUSB0", 9600));
  out.Add(ostrel::SystemSerialConnection("/dev/serial/by-id/usb-FTDI", 115200) +
          ";PARITY=MARK;STOPBITS=ONE5;DCBFLAGSON=OUTX,INX;BYTESIZE=7;READINTERVALTIMEOUT=-1");
  out.Add(std::string("name=COM1\r\nbaudrate=+38400\nbuffersize=2147483648;NO_FILE_FLAG_OVERLAPPED=1"));
}

void BitmapSeeds(SeedWriter out, const fs::path& source) {
  for (int bits : {8, 24}) {
    ostrel::testing::BitmapLayout layout;
    layout.bits = bits;
    std::string bitmap = ostrel::testing::MakeBitmap(layout, 7);
    if (bits == 8) {
      for (int i = 0; i < 256; ++i) ostrel::testing::SetPaletteEntry(bitmap, i, i, 255 - i, i * 3);
    } else {
      ostrel::testing::SetStoredPixel24(bitmap, layout, 0, 0, 255, 128, 1);
    }
    out.Add(bitmap);
    out.Add(bitmap.substr(0, bitmap.size() - 300));
  }
  std::ifstream in(source / "examples" / "addin" / "ICON.BMP", std::ios::binary);
  out.Add(Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

void ProjectSeeds(SeedWriter out, const fs::path& source) {
  std::ifstream in(source / "examples" / "addin" / "addin.PRJ", std::ios::binary);
  out.Add(Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
  out.Add(std::string(
      "MAKEALL=TRUE\nWORKDIR=work\nOBJECTDIR=obj\nSOURCEDIR=src\nLIBDIR=lib\nHEADERDIR=inc\nLIBRARY=L\n"
      "SETENV=A;1\nOPTION=-c\nASM_OPT=-o\nLIB_OPT=x\nLIB_MOD_OPT=y\nMESSAGE_TO_IGNORE=warning\nPUSH\n"
      "OPTION=-O2\nPOP\nEXECUTE=echo hello\nTOOLS=int F(int a);f.h\nSYSCALL=0x0143;void G(void);g.h;20240101000000\n"
      "UPDATEHEADERFILES=inc\nCHKENV=HOME;x\nEXIT_IF=\nDEPENDANT=$(PROJECTDIR)/out.bin\n"
      "DEPENDENCY=$(PROJECTDIR)/fuzz.PRJ\nBIND=$(PROJECTDIR)/fuzz.PRJ\nBMP256TOCGI=a.bmp;a.cgi\nINCLUDE=fuzz.PRJ\n"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ostrel-fuzz-seeds OUTPUT SOURCE\n");
    return 2;
  }
  const fs::path root(argv[1]);
  const fs::path source(argv[2]);
  fs::remove_all(root);
  fs::create_directories(root);
  AnswerSeeds(SeedWriter(root, "answer"));
  ReadoutSeeds(SeedWriter(root, "readout"));
  ImageCheckSeeds(SeedWriter(root, "image_check"));
  SettingsSeeds(SeedWriter(root, "settings"), ostrel::fuzz::ScratchFolder());
  PatchSeeds(SeedWriter(root, "patch"), source);
  ConnectionSeeds(SeedWriter(root, "connection"));
  BitmapSeeds(SeedWriter(root, "bitmap"), source);
  ProjectSeeds(SeedWriter(root, "project"), source);
  std::printf("seeds written to %s\n", root.c_str());
  return 0;
}
