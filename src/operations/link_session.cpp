#include "operations/link_session.h"

#include "base/error.h"
#include "base/text.h"
#include "env/app_env.h"
#include "link/port_discovery.h"

namespace ostrel {

LinkKind CableLinkKind(TOptionWord options) {
  if (options & OPT_3PIN) return LinkKind::Serial;
  if (options & OPT_USB) return LinkKind::Usb;
  throw Error("Cable error", ErrorKind::Cable);
}

TLinkTarget ResolveLinkTarget(LinkKind kind, TLinkTarget target) {
  if (kind != LinkKind::Serial || target.serial_port) return target;
  const std::string configured = SettingsFile().ReadString("PROGRAM", "COMPORT", "");
  if (!IsBlank(configured)) {
    target.serial_port = configured;
    return target;
  }
  std::vector<std::string> ports;
  std::string chosen;
  ListComPorts(ports, chosen);
  target.serial_port = chosen;
  return target;
}

TLinkSession::TLinkSession(TOptionWord options, TUserInterface ui, const TLinkTarget& target,
                           bool posts_session_flag)
    : ui_(ui),
      posts_session_flag_(posts_session_flag),
      link_(std::make_unique<TFX9860sio>(CableLinkKind(options), ui,
                                         ResolveLinkTarget(CableLinkKind(options), target))) {}

TLinkSession::~TLinkSession() {
  if (!open_) return;
  try {
    End();
  } catch (...) {
  }
}

bool TLinkSession::Start(bool skip_check, int retries) {
  open_ = true;
  if (link_->FStart(skip_check, retries) != 0) {
    start_failure_ = link_->FailureCause();  // before FStop, whose own exchange may fail too
    End();
    return false;
  }
  if (posts_session_flag_) ui_.Notify(nfSessionActive, std::int64_t{1});
  return true;
}

bool TLinkSession::Reconnect(int retries) {
  open_ = true;
  int status = link_->FStart(true, retries);
  for (int retry = 0; status != 0 && link_->Kind() == LinkKind::Serial && retry < retries && StopRequest() == stopNone;
       ++retry) {
    link_->Report("the boot code does not answer yet: trying again");
    status = link_->FStart(true, retries);
  }
  if (status != 0) start_failure_ = link_->FailureCause();
  return status == 0;
}

void TLinkSession::End() {
  open_ = false;
  try {
    link_->FStop();
  } catch (...) {
    PostSessionEnded();
    throw;
  }
  PostSessionEnded();
}

void TLinkSession::PostSessionEnded() {
  if (posts_session_flag_ && !keep_flag_) ui_.Notify(nfSessionActive, std::int64_t{0});
}

}  // namespace ostrel
