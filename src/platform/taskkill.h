// The Windows "taskkill" program, played by this executable:
//   taskkill [/F] [/T] /IM name | /PID id   (switches in any order and case)
// Prints one line per process as Windows' taskkill does and returns 0 when
// something was ended, 128 when nothing matched, 1 on bad arguments.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace platform {

int runTaskkill(const std::vector<std::wstring>& arguments, std::FILE* out);

}  // namespace platform
