#include "operations/device_query.h"

#include "operations/link_session.h"

namespace ostrel {

std::optional<std::string> ReadDeviceInformation(TOptionWord options, TUserInterface ui,
                                                 const TLinkTarget& target, std::string* cause) {
  TLinkSession session(options, ui, target, false);
  if (!session.Start()) {
    if (cause) *cause = "no session with the calculator" + (session.StartFailure().empty() ? "" : ": " + session.StartFailure());
    return std::nullopt;
  }
  TDeviceInfoRecord record{};
  const bool answered = session.Link().GetDeviceInfo(record) == 0;
  const std::string failure = session.Link().FailureCause();
  session.End();
  if (!answered) {
    if (cause) *cause = failure;
    return std::nullopt;
  }
  return DeviceInfoText(record);
}

}  // namespace ostrel
