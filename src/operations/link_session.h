#pragma once
// One link session of a maintenance operation: the protocol object for the cable the
// option word names, opened with FStart and ended with FStop exactly once, also when an
// error leaves the operation.

#include <memory>
#include <string>

#include "env/operation_status.h"
#include "env/options.h"
#include "protocol/fx9860sio.h"

namespace ostrel {

// The link kind of the option word: OPT_3PIN gives the serial link (also when OPT_USB is
// set too), else OPT_USB gives USB; neither raises "Cable error".
LinkKind CableLinkKind(TOptionWord options);

// The target with what the settings add: a serial link without a port named takes
// PROGRAM / COMPORT, and without that the first port found (none: an empty name, which
// the start then reports).
TLinkTarget ResolveLinkTarget(LinkKind kind, TLinkTarget target);

class TLinkSession {
 public:
  // Creates the protocol object (nothing is opened yet). With `posts_session_flag` the
  // session-active notification follows the session: 1 once it is open, 0 when it ends.
  TLinkSession(TOptionWord options, TUserInterface ui, const TLinkTarget& target, bool posts_session_flag);
  // Ends a session that is still open; errors of that clean-up are dropped, since another
  // error is then already on its way out.
  ~TLinkSession();
  TLinkSession(const TLinkSession&) = delete;
  TLinkSession& operator=(const TLinkSession&) = delete;

  // FStart (by default: no skipped check, no retries). False when the session did not
  // open; it has then been ended already.
  bool Start(bool skip_check = false, int retries = 0);
  // After the calculator restarted (into its boot code): the link is opened anew, with
  // `retries` extra attempts while the calculator comes back (over USB, where it drops off
  // the bus and returns; over a serial line, which does not show when the other side is
  // up, as many more starts). False when it did not come back; the session stays to be
  // ended.
  bool Reconnect(int retries);
  // Why Start or Reconnect failed, in words a user can act on (empty when the link did not say).
  const std::string& StartFailure() const { return start_failure_; }
  bool IsOpen() const { return open_; }
  // FStop, then the session flag 0 (also when FStop fails), unless KeepFlagSet was called.
  void End();
  // The session broke off in the middle of a transfer: the calculator may still be in it, so
  // the flag stays 1 after End, and the front end's stop report advises resetting it.
  void KeepFlagSet() { keep_flag_ = true; }

  TFX9860sio& Link() { return *link_; }

 private:
  void PostSessionEnded();

  TUserInterface ui_;
  bool posts_session_flag_;
  bool open_ = false;
  bool keep_flag_ = false;
  std::string start_failure_;
  std::unique_ptr<TFX9860sio> link_;
};

}  // namespace ostrel
