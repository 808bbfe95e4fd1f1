#include "platform/machine_profile.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "platform/code_pages.h"

namespace platform {
namespace {

MachineProfile& activeProfile() {
  static MachineProfile profile;
  return profile;
}

using Value = rapidjson::Value;

std::string folderOf(const std::string& file) {
  auto slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return file.substr(0, slash);
}

// Collects the first error; later checks become no-ops.
class Reader {
 public:
  explicit Reader(std::string folder) : folder_(std::move(folder)) {}

  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

  void fail(const std::string& key, const std::string& what) {
    if (error_.empty()) error_ = "\"" + key + "\": " + what;
  }

  std::optional<std::string> text(const Value& v, const std::string& key) {
    if (!v.IsString()) {
      fail(key, "must be a text");
      return std::nullopt;
    }
    std::string t(v.GetString(), v.GetStringLength());
    if (t.find('\0') != std::string::npos) {
      fail(key, "must not contain a NUL character");
      return std::nullopt;
    }
    return t;
  }

  std::optional<std::wstring> wideText(const Value& v, const std::string& key) {
    auto t = text(v, key);
    if (!t) return std::nullopt;
    return utf8ToWide(*t);
  }

  std::optional<std::string> hostPath(const Value& v, const std::string& key) {
    auto t = text(v, key);
    if (!t) return std::nullopt;
    if (t->empty()) {
      fail(key, "must not be empty");
      return std::nullopt;
    }
    if ((*t)[0] != '/') return folder_ + "/" + *t;
    return t;
  }

  std::optional<bool> boolean(const Value& v, const std::string& key) {
    if (!v.IsBool()) {
      fail(key, "must be true or false");
      return std::nullopt;
    }
    return v.GetBool();
  }

  std::optional<double> number(const Value& v, const std::string& key) {
    if (!v.IsNumber()) {
      fail(key, "must be a number");
      return std::nullopt;
    }
    return v.GetDouble();
  }

  std::optional<std::uint32_t> unsignedNumber(const Value& v, const std::string& key) {
    if (!v.IsUint()) {
      fail(key, "must be a whole number from 0 to 4294967295");
      return std::nullopt;
    }
    return v.GetUint();
  }

  bool object(const Value& v, const std::string& key) {
    if (!v.IsObject()) fail(key, "must be an object");
    return v.IsObject();
  }

 private:
  std::string folder_;
  std::string error_;
};

bool parseHardwareAddress(const std::string& text, std::vector<std::uint8_t>& out) {
  std::string digits;
  for (char c : text) {
    if (c == '-' || c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits += c;
  }
  if (digits.size() < 2 || digits.size() > 16 || digits.size() % 2 != 0) return false;
  out.clear();
  for (size_t i = 0; i < digits.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return true;
}

void readDrive(Reader& r, const Value& v, const std::string& key, DriveSpec& d) {
  if (!r.object(v, key)) return;
  bool haveLetter = false, haveRoot = false;
  for (auto& m : v.GetObject()) {
    std::string name = m.name.GetString();
    std::string k = key + "." + name;
    if (name == "letter") {
      auto t = r.text(m.value, k);
      if (!t) return;
      std::string s = *t;
      if (s.size() == 2 && s[1] == ':') s.resize(1);
      if (s.size() != 1 || !std::isalpha(static_cast<unsigned char>(s[0]))) {
        r.fail(k, "must be one letter from A to Z");
        return;
      }
      d.letter = static_cast<wchar_t>(std::toupper(static_cast<unsigned char>(s[0])));
      haveLetter = true;
    } else if (name == "root") {
      auto p = r.hostPath(m.value, k);
      if (!p) return;
      while (p->size() > 1 && p->back() == '/') p->pop_back();
      d.root = *p;
      haveRoot = true;
    } else if (name == "freeMiB") {
      d.freeMiB = r.number(m.value, k);
      if (d.freeMiB && *d.freeMiB < 0) r.fail(k, "must not be negative");
    } else if (name == "ssd") {
      d.ssd = r.boolean(m.value, k);
    } else if (name == "hotplug") {
      d.hotplug = r.boolean(m.value, k);
    } else if (name == "fixed") {
      d.fixed = r.boolean(m.value, k);
    } else if (name == "fs") {
      d.fs = r.text(m.value, k);
    } else {
      r.fail(k, "unknown key");
    }
    if (r.failed()) return;
  }
  if (!haveLetter) r.fail(key + ".letter", "is missing");
  if (!haveRoot) r.fail(key + ".root", "is missing");
}

void readWindows(Reader& r, const Value& v, WindowsVersionSpec& w) {
  if (!r.object(v, "windows")) return;
  for (auto& m : v.GetObject()) {
    std::string name = m.name.GetString();
    std::string k = "windows." + name;
    if (name == "major") w.major = r.unsignedNumber(m.value, k);
    else if (name == "minor") w.minor = r.unsignedNumber(m.value, k);
    else if (name == "build") w.build = r.unsignedNumber(m.value, k);
    else if (name == "is64Bit") w.is64Bit = r.boolean(m.value, k);
    else r.fail(k, "unknown key");
    if (r.failed()) return;
  }
}

void readServices(Reader& r, const Value& v, ServiceSpec& s) {
  if (!r.object(v, "services")) return;
  for (auto& m : v.GetObject()) {
    std::string name = m.name.GetString();
    std::string k = "services." + name;
    std::optional<std::string>* slot = nullptr;
    if (name == "cdn") slot = &s.cdn;
    else if (name == "api") slot = &s.api;
    else if (name == "analytics") slot = &s.analytics;
    else if (name == "web") slot = &s.web;
    else if (name == "chat") slot = &s.chat;
    if (!slot) {
      r.fail(k, "unknown key");
      return;
    }
    *slot = r.text(m.value, k);
    if (r.failed()) return;
    std::string& url = **slot;
    if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) {
      r.fail(k, "must start with http:// or https://");
      return;
    }
    while (!url.empty() && url.back() == '/') url.pop_back();
  }
}

void readTimeouts(Reader& r, const Value& v, MachineProfile& p) {
  if (!r.object(v, "timeouts")) return;
  const auto& known = knownTimeoutNames();
  for (auto& m : v.GetObject()) {
    std::string name = m.name.GetString();
    std::string k = "timeouts." + name;
    bool isKnown = false;
    for (const auto& n : known) isKnown = isKnown || n == name;
    if (!isKnown) {
      r.fail(k, "unknown time-out");
      return;
    }
    auto ms = r.unsignedNumber(m.value, k);
    if (!ms) return;
    p.timeouts.emplace_back(name, *ms);
  }
}

void readTop(Reader& r, const std::string& name, const Value& v, MachineProfile& p) {
  if (name == "drives") {
    if (!v.IsArray()) return r.fail(name, "must be a list");
    std::vector<DriveSpec> drives;
    for (rapidjson::SizeType i = 0; i < v.Size() && !r.failed(); ++i) {
      DriveSpec d;
      readDrive(r, v[i], "drives[" + std::to_string(i) + "]", d);
      for (const auto& other : drives) {
        if (other.letter == d.letter && !r.failed()) {
          r.fail("drives[" + std::to_string(i) + "].letter", "names a drive twice");
        }
      }
      drives.push_back(d);
    }
    p.drives = std::move(drives);
  } else if (name == "appData") {
    p.appData = r.wideText(v, name);
  } else if (name == "desktop") {
    p.desktop = r.wideText(v, name);
  } else if (name == "windowsDir") {
    p.windowsDir = r.wideText(v, name);
  } else if (name == "registry") {
    p.registry = r.hostPath(v, name);
  } else if (name == "windows") {
    readWindows(r, v, p.windows);
  } else if (name == "ansiCodePage") {
    p.ansiCodePage = r.unsignedNumber(v, name);
    if (p.ansiCodePage && !codePageSupported(*p.ansiCodePage)) {
      r.fail(name, "names a code page this build cannot convert");
    }
  } else if (name == "connected") {
    p.connected = r.boolean(v, name);
  } else if (name == "adapters") {
    if (!v.IsArray()) return r.fail(name, "must be a list");
    std::vector<std::vector<std::uint8_t>> list;
    for (rapidjson::SizeType i = 0; i < v.Size() && !r.failed(); ++i) {
      std::string k = "adapters[" + std::to_string(i) + "]";
      auto t = r.text(v[i], k);
      if (!t) return;
      std::vector<std::uint8_t> bytes;
      if (!parseHardwareAddress(*t, bytes)) return r.fail(k, "is not a hardware address");
      list.push_back(bytes);
    }
    p.adapters = std::move(list);
  } else if (name == "namespace") {
    p.ns = r.text(v, name);
    if (p.ns) {
      for (char c : *p.ns) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') {
          return r.fail(name, "may hold only letters, digits, '-', '_' and '.'");
        }
      }
    }
  } else if (name == "services") {
    readServices(r, v, p.services);
  } else if (name == "trustedCA") {
    p.trustedCA = r.hostPath(v, name);
  } else if (name == "publisherCA") {
    p.publisherCA = r.hostPath(v, name);
  } else if (name == "timeScale") {
    p.timeScale = r.number(v, name);
    if (p.timeScale && !(*p.timeScale > 0)) r.fail(name, "must be above 0");
  } else if (name == "timeouts") {
    readTimeouts(r, v, p);
  } else {
    r.fail(name, "unknown key");
  }
}

}  // namespace

const std::vector<std::string>& knownTimeoutNames() {
  static const std::vector<std::string> names = {
      "installerWait",       // the full installer's process (180 s)
      "reporterWake",        // the reporter's periodic wake-up (300 s)
      "reporterStop",        // the reporter thread at shutdown (5 s)
      "curlConnect",         // libcurl connection limit (8 s)
      "curlMemory",          // libcurl GET into memory, total (8 s)
      "httpReceive",         // the second stack's receive time-out (15 s)
      "defaultUrlTick",      // the default-address timer's period (1 s)
      "threadStop",          // model threads at teardown (1 s)
      "downloaderCancel",    // the second stack's cancel wait (2 s)
      "identityMutex",       // bound for the identity mutex retries
      "taskkillWait",        // ending a process by name (2 s)
      "consoleInstallWait",  // the emulator console's package install (120 s)
      "environmentCheck",    // minimum duration of the environment check (1 s)
      "noNetworkRetry",      // pause before a repeated no-network answer (1 s)
      "exitPause",           // the pause before the process ends (1 s)
  };
  return names;
}

bool parseMachineProfile(const std::string& text, const std::string& file,
                         MachineProfile& out, std::string& error) {
  rapidjson::Document doc;
  // Iterative: a hostile profile of deeply nested brackets must not
  // exhaust the stack.
  doc.Parse<rapidjson::kParseIterativeFlag>(text.c_str(), text.size());
  if (doc.HasParseError()) {
    error = std::string("not valid JSON at offset ") + std::to_string(doc.GetErrorOffset()) +
            ": " + rapidjson::GetParseError_En(doc.GetParseError());
    return false;
  }
  if (!doc.IsObject()) {
    error = "the profile must be a JSON object";
    return false;
  }
  MachineProfile p;
  p.file = file;
  p.folder = folderOf(file);
  Reader r(p.folder);
  for (auto& m : doc.GetObject()) {
    readTop(r, std::string(m.name.GetString(), m.name.GetStringLength()), m.value, p);
    if (r.failed()) break;
  }
  if (r.failed()) {
    error = r.error();
    return false;
  }
  out = std::move(p);
  return true;
}

const MachineProfile& machineProfile() { return activeProfile(); }

void installMachineProfile(MachineProfile profile) { activeProfile() = std::move(profile); }

void loadMachineProfileFromEnvironment() {
  const char* path = std::getenv("VIREO_PROFILE");
  if (!path || !*path) return;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "vireo: cannot read the machine profile %s\n", path);
    std::exit(2);
  }
  std::stringstream text;
  text << in.rdbuf();
  std::string file = path;
  if (file[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) file = std::string(cwd) + "/" + file;
  }
  MachineProfile p;
  std::string error;
  if (!parseMachineProfile(text.str(), file, p, error)) {
    std::fprintf(stderr, "vireo: machine profile %s refused: %s\n", path, error.c_str());
    std::exit(2);
  }
  installMachineProfile(std::move(p));
}

std::uint32_t scaledWaitMs(const char* name, std::uint32_t defaultMs) {
  const MachineProfile& p = machineProfile();
  for (const auto& [n, ms] : p.timeouts) {
    if (n == name) return ms;
  }
  if (p.timeScale) {
    double scaled = defaultMs * *p.timeScale;
    if (scaled < 1) return 1;
    if (scaled > 4294967294.0) return 4294967294u;
    return static_cast<std::uint32_t>(scaled);
  }
  return defaultMs;
}

}  // namespace platform
