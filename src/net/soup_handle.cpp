#include "net/soup_handle.h"

#include "platform/machine_profile.h"

namespace net {
namespace {

// libsoup 3.2 has no per-message switch to HTTP/1.1 (soup_message_set_force_http1
// came with 3.4); its connection manager reads this variable instead. It is
// set before main, while the process still has a single thread, because
// changing the environment later races with every other thread's getenv.
const bool kHttp1Forced = [] { return g_setenv("SOUP_FORCE_HTTP1", "1", FALSE) != FALSE; }();

}  // namespace

bool SoupHandle::open() {
  close();
  (void)kHttp1Forced;
  context_ = g_main_context_new();
  ContextScope scope(context_);
  session_ = soup_session_new();
  if (!session_) {
    g_main_context_unref(context_);
    context_ = nullptr;
    return false;
  }
  soup_session_remove_feature_by_type(session_, SOUP_TYPE_CONTENT_DECODER);
  // A sandbox (machine profile) never leaves the machine: no proxy, and no
  // proxy auto-discovery that would look names up on the network.
  if (platform::machineProfile().active()) soup_session_set_proxy_resolver(session_, nullptr);
  tls_ = std::make_unique<SoupTlsPolicy>();
  return true;
}

void SoupHandle::close() {
  if (!context_) return;
  {
    ContextScope scope(context_);
    if (session_) {
      soup_session_abort(session_);
      g_object_unref(session_);
      session_ = nullptr;
    }
    // Let the session's deferred clean-ups run before the context goes.
    for (int i = 0; i < 100 && g_main_context_iteration(context_, FALSE); ++i) {
    }
  }
  tls_.reset();
  g_main_context_unref(context_);
  context_ = nullptr;
}

}  // namespace net
