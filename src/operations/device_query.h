#pragma once
// Asking a calculator to describe itself, in a session of its own.

#include <optional>
#include <string>

#include "env/operation_status.h"
#include "env/options.h"
#include "protocol/fx9860sio.h"

namespace ostrel {

// Opens a session on the cable of `options`, asks for the device information and ends
// the session. The sixteen-line text of the record, or nothing when the link did not open
// or the calculator did not answer with its record (an error box has then been shown);
// `cause`, when given, then says why in words a user can act on (empty if unknown).
// Raises "Cable error" when `options` names no cable.
std::optional<std::string> ReadDeviceInformation(TOptionWord options, TUserInterface ui,
                                                 const TLinkTarget& target = {}, std::string* cause = nullptr);

}  // namespace ostrel
