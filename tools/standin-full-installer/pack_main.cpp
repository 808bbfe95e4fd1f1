// standin-full-installer-pack --edition N --installer EXE --emulator EMU
//                             --console CON --out OUT [--min-size BYTES]
//
// Makes the full installer of edition N (unsigned; standin-sign signs it):
// the installer program, zero padding up to --min-size (default 2 MiB, so
// that the file passes the installer's 1 MiB plausibility test for a
// download), the emulator and console programs, and the payload footer
// (payload.h). OUT's file name must be the edition's installer file name in
// the catalogue (zkinst9.0.exe for edition 3, ...), so that the build's list
// of names cannot drift from the catalogue.
//
// Exit codes: 0 written, 1 failure, 2 bad arguments.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "config/edition_catalogue.h"
#include "payload.h"
#include "platform/code_pages.h"
#include "platform/entry.h"

namespace fs = std::filesystem;

namespace {

int usage(const std::string& why) {
  std::fprintf(stderr,
               "standin-full-installer-pack: %s\nusage: standin-full-installer-pack --edition N "
               "--installer EXE --emulator EMU --console CON --out OUT [--min-size BYTES]\n",
               why.c_str());
  return 2;
}

int failure(const std::string& why) {
  std::fprintf(stderr, "standin-full-installer-pack: %s\n", why.c_str());
  return 1;
}

std::string catalogueFileName(int edition) {
  std::wstring path = config::editionRow(edition).installerPath;
  return platform::wideToUtf8(path.substr(path.rfind(L'/') + 1));
}

bool append(std::ofstream& out, const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  out << in.rdbuf();
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  std::string edition, installer, emulator, console, out, minSize = "2097152";
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    std::string* value = option == "--edition"     ? &edition
                         : option == "--installer" ? &installer
                         : option == "--emulator"  ? &emulator
                         : option == "--console"   ? &console
                         : option == "--out"       ? &out
                         : option == "--min-size"  ? &minSize
                                                   : nullptr;
    if (!value || i + 1 >= argc) return usage("unknown option or missing value: " + option);
    *value = argv[++i];
  }
  if (edition.size() != 1 || edition[0] < '0' || edition[0] > '5') return usage("--edition is 0 to 5");
  if (installer.empty() || emulator.empty() || console.empty() || out.empty()) {
    return usage("--installer, --emulator, --console and --out are required");
  }
  int number = edition[0] - '0';
  std::string expected = catalogueFileName(number);
  if (fs::path(out).filename().string() != expected) {
    return failure("edition " + edition + " is named " + expected + " in the catalogue, not " +
                   fs::path(out).filename().string());
  }

  std::error_code error;
  std::uint64_t installerSize = fs::file_size(installer, error);
  std::uint64_t emulatorSize = error ? 0 : fs::file_size(emulator, error);
  std::uint64_t consoleSize = error ? 0 : fs::file_size(console, error);
  if (error) return failure("cannot read the programs: " + error.message());
  std::uint64_t wanted = std::strtoull(minSize.c_str(), nullptr, 10);
  std::uint64_t unpadded = installerSize + emulatorSize + consoleSize + standin::kPayloadFooterSize;
  std::uint64_t padding = wanted > unpadded ? wanted - unpadded : 0;

  fs::create_directories(fs::path(out).parent_path(), error);
  std::string partial = out + ".part";
  {
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    bool ok = file && append(file, installer);
    std::string zeros(64 * 1024, '\0');
    for (std::uint64_t left = padding; ok && left > 0;) {
      std::uint64_t chunk = std::min<std::uint64_t>(left, zeros.size());
      ok = static_cast<bool>(file.write(zeros.data(), static_cast<std::streamsize>(chunk)));
      left -= chunk;
    }
    ok = ok && append(file, emulator) && append(file, console);
    std::string footer = standin::encodePayloadFooter(static_cast<std::uint32_t>(number), emulatorSize, consoleSize);
    ok = ok && file.write(footer.data(), static_cast<std::streamsize>(footer.size()));
    file.close();
    if (!ok || !file) {
      fs::remove(partial, error);
      return failure("cannot write " + partial);
    }
  }
  fs::permissions(partial, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec, error);
  fs::rename(partial, out, error);
  if (error) return failure("cannot write " + out + ": " + error.message());
  return 0;
}
