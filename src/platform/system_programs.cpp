#include "platform/system_programs.h"

namespace platform {

std::string systemProgramName(const std::wstring& program) { return {}; }

int runSystemProgram(const std::string& name, const std::wstring& commandLine) { return -1; }

}  // namespace platform
