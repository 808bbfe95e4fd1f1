#include "behaviour.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <sstream>

namespace standin {
namespace {

bool parseInteger(const std::string& text, long long low, long long high, long long& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0' && value >= low && value <= high;
}

}  // namespace

bool parseBehaviour(const char* text, Behaviour& behaviour, std::string& error) {
  behaviour = {};
  behaviour.text = text ? text : "";
  std::stringstream items(behaviour.text);
  std::string item;
  while (std::getline(items, item, ',')) {
    std::string name = item.substr(0, item.find('='));
    std::string value = item.find('=') == std::string::npos ? "" : item.substr(item.find('=') + 1);
    long long number = 0;
    if (item == "ok") {
      behaviour.outcome = Behaviour::Outcome::Succeed;
    } else if (item == "hang") {
      behaviour.outcome = Behaviour::Outcome::Hang;
    } else if (item == "crash") {
      behaviour.outcome = Behaviour::Outcome::Crash;
    } else if (name == "fail" && parseInteger(value, std::numeric_limits<std::int32_t>::min(),
                                              std::numeric_limits<std::int32_t>::max(), number)) {
      behaviour.outcome = Behaviour::Outcome::Fail;
      behaviour.errorCode = static_cast<std::int32_t>(number);
    } else if (name == "slow" && parseInteger(value, 0, 600000, number)) {
      behaviour.slowMs = static_cast<std::uint32_t>(number);
    } else {
      error = "unknown behaviour \"" + item + "\" in " + kBehaviourVariable +
              " (ok, fail=N, hang, crash, slow=MS)";
      return false;
    }
  }
  return true;
}

}  // namespace standin
