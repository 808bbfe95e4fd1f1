// How a stand-in full installer behaves, chosen by tests through the
// environment variable VIREO_STANDIN_INSTALLER (it passes from the test
// through the installer under test to the full installer):
//
//   ok        install and report success (the default)
//   fail=N    report error N (message 11124), install nothing
//   hang      record the start, then block until ended
//   crash     record the start, then abort
//   slow=MS   spread the installation over about MS milliseconds
//
// Items may be combined with commas ("slow=2000,fail=5").
#pragma once

#include <cstdint>
#include <string>

namespace standin {

constexpr const char* kBehaviourVariable = "VIREO_STANDIN_INSTALLER";

struct Behaviour {
  enum class Outcome { Succeed, Fail, Hang, Crash };
  Outcome outcome = Outcome::Succeed;
  std::int32_t errorCode = 0;  // with Fail
  std::uint32_t slowMs = 0;
  std::string text;  // as given, for the record
};

// False with a reason for a text this program does not know, so that a typo
// in a test is not taken for "ok". A null or empty text is "ok".
bool parseBehaviour(const char* text, Behaviour& behaviour, std::string& error);

}  // namespace standin
