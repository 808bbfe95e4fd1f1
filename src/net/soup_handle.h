// One open handle of the second HTTP stack: a SoupSession with a private
// GMainContext, made on the worker thread that uses it, so that nothing of
// it ever runs on the UI thread's default context. HTTP/1.1 only, no content
// decoder (bytes read are the bytes the length counts), the TLS policy of
// SoupTlsPolicy. Every use happens inside a ContextScope on the opening
// thread.
#pragma once

#include <libsoup/soup.h>

#include <memory>

#include "net/soup_tls_policy.h"

namespace net {

class SoupHandle {
 public:
  SoupHandle() = default;
  ~SoupHandle() { close(); }
  SoupHandle(const SoupHandle&) = delete;
  SoupHandle& operator=(const SoupHandle&) = delete;

  bool open();
  void close();
  bool isOpen() const { return session_ != nullptr; }

  SoupSession* session() const { return session_; }
  SoupTlsPolicy& tls() { return *tls_; }

  // Makes the handle's context the calling thread's default while alive.
  class ContextScope {
   public:
    explicit ContextScope(GMainContext* context) : context_(context) {
      g_main_context_push_thread_default(context_);
    }
    ~ContextScope() { g_main_context_pop_thread_default(context_); }
    ContextScope(const ContextScope&) = delete;
    ContextScope& operator=(const ContextScope&) = delete;

   private:
    GMainContext* context_;
  };
  GMainContext* context() const { return context_; }

 private:
  GMainContext* context_ = nullptr;
  SoupSession* session_ = nullptr;
  std::unique_ptr<SoupTlsPolicy> tls_;
};

}  // namespace net
