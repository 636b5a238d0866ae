#include <cctype>
#include <charconv>
#include <stdexcept>
#include <string_view>

#include "fxsim/simulator.h"

namespace fxsim {

namespace {

struct FaultName {
  std::string_view name;
  Fault fault;
  bool needs_site;
  bool blocks_only = false;  // the fault changes the order of data blocks
};

constexpr FaultName kFaultNames[] = {
    {"no-answer", Fault::kNoAnswer, false},
    {"drop", Fault::kDropByte, true},
    {"corrupt", Fault::kCorruptByte, true},
    {"bad-checksum", Fault::kBadChecksum, true},
    {"error", Fault::kErrorAnswer, true},
    {"error+data", Fault::kErrorAnswer, true},
    {"extra-blocks", Fault::kExtraBlocks, false},
    {"no-roleswap", Fault::kNoRoleSwap, false},
    {"roleswap-announce", Fault::kAnnounceRoleSwap, false},
    {"stall", Fault::kStall, true},
    {"disconnect", Fault::kDisconnect, true},
    {"repeat-block", Fault::kRepeatBlock, true, true},
    {"swap-blocks", Fault::kSwapBlocks, true, true},
    {"foreign-packet", Fault::kForeignPacket, true, true},
    {"short-blocks", Fault::kShortBlocks, false},
    {"double", Fault::kDoubleAnswer, true},
    {"ack-instead", Fault::kAckInstead, true},
    {"stale-ack", Fault::kStalePacket, true},
    {"bad-escape", Fault::kBadEscape, true},
};

struct SiteName {
  std::string_view name;
  FaultSite::Kind kind;
};

constexpr SiteName kSiteNames[] = {
    {"any", FaultSite::Kind::kAnyTime},
    {"request", FaultSite::Kind::kRequest},
    {"device-info", FaultSite::Kind::kDeviceInfo},
    {"check", FaultSite::Kind::kCheck},
    {"link-settings", FaultSite::Kind::kLinkSettings},
    {"upload", FaultSite::Kind::kUpload},
    {"os-bios", FaultSite::Kind::kOsBios},
    {"os-bios-record", FaultSite::Kind::kOsBiosRecord},
    {"contrast", FaultSite::Kind::kContrast},
    {"reboot", FaultSite::Kind::kReboot},
    {"upload-block", FaultSite::Kind::kUploadBlock},
    {"ram-write", FaultSite::Kind::kRamWrite},
    {"erase", FaultSite::Kind::kErase},
    {"write", FaultSite::Kind::kFlashWrite},
};

// Sites that take an optional number: a block, a RAM write, a sector.
bool TakesNumber(FaultSite::Kind kind) {
  return kind == FaultSite::Kind::kUploadBlock || kind == FaultSite::Kind::kRamWrite ||
         kind == FaultSite::Kind::kErase || kind == FaultSite::Kind::kFlashWrite;
}

[[noreturn]] void Fail(const std::string& text, const std::string& why) {
  throw std::invalid_argument("bad fault \"" + text + "\": " + why);
}

// A decimal number, or a hex one with a 0x prefix.
int ParseNumber(std::string_view digits, int minimum, const std::string& text) {
  int value = 0;
  int base = 10;
  std::string_view number = digits;
  if (number.starts_with("0x") || number.starts_with("0X")) {
    number.remove_prefix(2);
    base = 16;
  }
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value, base);
  if (number.empty() || ec != std::errc() || end != number.data() + number.size() || value < minimum) {
    Fail(text, "\"" + std::string(digits) + "\" is not a number of at least " +
                   std::to_string(minimum));
  }
  return value;
}

bool IsHexPair(std::string_view code) {
  return code.size() == 2 && code.find_first_not_of("0123456789ABCDEFabcdef") ==
                                 std::string_view::npos;
}

// "packet:N[:BYTE]", "block:N" or one of the named sites.
void ParseSite(std::string_view site, FaultSpec& spec, const std::string& text) {
  for (const SiteName& s : kSiteNames) {
    if (site == s.name) {
      spec.site.kind = s.kind;
      return;
    }
  }
  const std::size_t colon = site.find(':');
  const std::string_view kind = site.substr(0, colon);
  if (colon == std::string_view::npos) Fail(text, "unknown site \"" + std::string(site) + "\"");
  std::string_view rest = site.substr(colon + 1);
  for (const SiteName& s : kSiteNames) {
    if (kind == s.name && TakesNumber(s.kind)) {
      // Sector 0 is a sector like any other; blocks and RAM writes count from 1.
      const int minimum = s.kind == FaultSite::Kind::kErase || s.kind == FaultSite::Kind::kFlashWrite ? 0 : 1;
      spec.site = {s.kind, ParseNumber(rest, minimum, text)};
      return;
    }
  }
  if (kind == "block") {
    spec.site = {FaultSite::Kind::kBlock, ParseNumber(rest, 1, text)};
  } else if (kind == "packet") {
    const std::size_t second = rest.find(':');
    spec.site = {FaultSite::Kind::kPacket, ParseNumber(rest.substr(0, second), 1, text)};
    if (second != std::string_view::npos) {
      if (spec.fault != Fault::kDropByte && spec.fault != Fault::kCorruptByte) {
        Fail(text, "only drop and corrupt take a byte index");
      }
      spec.byte_index = ParseNumber(rest.substr(second + 1), 0, text);
    }
  } else {
    Fail(text, "unknown site \"" + std::string(site) + "\"");
  }
}

}  // namespace

FaultSpec FaultSpec::Parse(const std::string& text) {
  const std::string_view all(text);
  const std::size_t at = all.find('@');
  const std::string_view head = all.substr(0, at);
  const std::size_t colon = head.find(':');
  const std::string_view name = head.substr(0, colon);
  const std::string_view argument =
      colon == std::string_view::npos ? std::string_view() : head.substr(colon + 1);

  const FaultName* found = nullptr;
  for (const FaultName& f : kFaultNames) {
    if (f.name == name) found = &f;
  }
  if (found == nullptr) Fail(text, "unknown fault \"" + std::string(name) + "\"");

  FaultSpec spec;
  spec.fault = found->fault;
  spec.error_with_data = name == "error+data";
  if (spec.fault == Fault::kErrorAnswer) {
    if (!IsHexPair(argument)) Fail(text, "the error code must be two hex digits, e.g. error:04");
    spec.error_code = std::string(argument);
    for (char& c : spec.error_code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  } else if (spec.fault == Fault::kExtraBlocks) {
    spec.count = argument.empty() ? 1 : ParseNumber(argument, 1, text);
  } else if (spec.fault == Fault::kShortBlocks) {
    spec.count = argument.empty() ? 128 : ParseNumber(argument, 1, text);
    if (spec.count >= static_cast<int>(kBlockPayload)) Fail(text, "a short block carries fewer than 256 bytes");
  } else if (colon != std::string_view::npos) {
    Fail(text, "\"" + std::string(name) + "\" takes no argument");
  }

  if (at == std::string_view::npos) {
    if (found->needs_site) Fail(text, "say where it hits, e.g. @packet:5 or @block:10");
  } else {
    ParseSite(all.substr(at + 1), spec, text);
    if (!found->needs_site && spec.fault != Fault::kNoAnswer && spec.site.kind != FaultSite::Kind::kAnyTime) {
      Fail(text, "\"" + std::string(name) + "\" applies to every read-out and takes no site");
    }
    if (found->blocks_only && spec.site.kind != FaultSite::Kind::kBlock) {
      Fail(text, "\"" + std::string(name) + "\" hits a data block: say which, e.g. @block:4");
    }
  }
  return spec;
}

}  // namespace fxsim
