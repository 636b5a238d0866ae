#include "operations/link_session.h"

#include <algorithm>
#include <chrono>

#include "base/error.h"
#include "base/text.h"
#include "env/app_env.h"
#include "link/port_discovery.h"
#include "protocol/message_wait.h"

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
  if (link_->Kind() == LinkKind::Serial) {
    // Each serial start waits for the check's answer at both speeds already.
    int status = link_->FStart(true, retries);
    for (int retry = 0; status != 0 && retry < retries && StopRequest() == stopNone; ++retry) {
      link_->Report("the boot code does not answer yet: trying again");
      status = link_->FStart(true, retries);
    }
    if (status != 0) start_failure_ = link_->FailureCause();
    return status == 0;
  }
  // USB: the calculator is back on the bus a moment after its restart. Looked for at short,
  // growing intervals for as long as the retries would have waited one interval each, it is
  // taken as soon as it is there.
  const std::chrono::milliseconds interval = link_->Timings().usb_retry;
  const auto deadline = std::chrono::steady_clock::now() + interval * (retries + 1);
  std::chrono::milliseconds pause{50};
  for (;;) {
    if (link_->FStart(true, 0) == 0) return true;
    start_failure_ = link_->FailureCause();
    if (StopRequest() != stopNone || std::chrono::steady_clock::now() >= deadline) return false;
    WaitWithMessages(ui_, pause);
    pause = std::min(pause * 2, interval);
  }
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
