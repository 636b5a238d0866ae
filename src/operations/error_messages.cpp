#include "operations/error_messages.h"

#include "base/error.h"
#include "protocol/fx9860sio.h"

namespace ostrel {

namespace {

constexpr const char* kRepeatAdvice = "put it into receive mode again and repeat the command";
constexpr const char* kProgramFileAdvice = "name the program file itself (.BIN, .SH3, .SH4)";

}  // namespace

std::string TErrorMessage::Line() const {
  std::string line = text;
  if (!cause.empty()) line += ": " + cause;
  if (!advice.empty()) line += (cause.empty() ? ": " : "; ") + advice;
  return line;
}

TErrorMessage DescribeError(const std::exception& error) {
  TErrorMessage message{error.what(), {}, {}};
  const auto* raised = dynamic_cast<const Error*>(&error);
  if (!raised) return message;
  switch (raised->Kind()) {
    case ErrorKind::Link:
      message.cause = static_cast<const LinkError*>(raised)->Cause();
      message.advice = kRepeatAdvice;
      break;
    case ErrorKind::ErrorAnswer:
      message.cause = "the calculator ended the transfer with " + ErrorAnswerMeaning(raised->Detail());
      message.advice = kRepeatAdvice;
      break;
    case ErrorKind::ProgramEmpty:
      message.cause = "the file is empty, and an upload sends 1 to 4294967295 bytes";
      message.advice = kProgramFileAdvice;
      break;
    case ErrorKind::ProgramTooLarge:
      message.cause = "an upload sends at most 4294967295 bytes (and the calculator's RAM holds far less)";
      message.advice = kProgramFileAdvice;
      break;
    case ErrorKind::ScriptNumber:
      message.advice = "write the number in decimal or with a hex prefix ($, 0x, x)";
      break;
    case ErrorKind::TargetNotOpen:
      message.advice = "a TARGETFILE line must open the target before this line";
      break;
    case ErrorKind::Cable:
      message.advice = "choose the cable: USB or the 3-pin serial cable";
      break;
    case ErrorKind::General:
    case ErrorKind::Io: break;
  }
  return message;
}

}  // namespace ostrel
