#include "operations/device_query.h"

#include "operations/link_session.h"

namespace ostrel {

std::optional<std::string> ReadDeviceInformation(TOptionWord options, TUserInterface ui,
                                                 const TLinkTarget& target) {
  TLinkSession session(options, ui, target, false);
  if (!session.Start()) return std::nullopt;
  TDeviceInfoRecord record{};
  const bool answered = session.Link().GetDeviceInfo(record) == 0;
  session.End();
  if (!answered) return std::nullopt;
  return DeviceInfoText(record);
}

}  // namespace ostrel
