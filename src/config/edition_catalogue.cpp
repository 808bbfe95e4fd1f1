#include "config/edition_catalogue.h"

namespace config {
namespace {

constexpr EditionRow kEditions[kEditionCount] = {
    // 0: "vireo3"
    {L"Vireo3", L"tallis\\Vireo3\\", L"/download/release/zkinst3.0.exe",
     L"Software\\Halvard2\\varedori", L""},
    // 1: "vireo4"
    {L"Vireo4", L"tallis\\Vireo4\\", L"/download/release/zkinst4.0.exe", L"Software\\tallis\\Vireo",
     L"拓岚模拟器.lnk"},
    // 2: "vireo64"
    {L"Vireo64", L"tallis\\Vireo64\\", L"/download/release/zkinst64.exe",
     L"Software\\tallis\\Vireo64", L"拓岚模拟器64.lnk"},
    // 3: "vireo9"
    {L"Vireo9", L"tallis\\Vireo9\\", L"/download/release/zkinst9.0.exe",
     L"Software\\tallis\\Vireo9", L"拓岚模拟器9.lnk"},
    // 4: "vireo5" shares name, folder and key with edition 1
    {L"Vireo4", L"tallis\\Vireo4\\", L"/download/release/zkinst5.0.exe", L"Software\\tallis\\Vireo",
     L"拓岚模拟器5.lnk"},
    // 5: "vireo5(64)" shares name, folder, key and shortcut with edition 2
    {L"Vireo64", L"tallis\\Vireo64\\", L"/download/release/zkinst5(64).exe",
     L"Software\\tallis\\Vireo64", L"拓岚模拟器64.lnk"},
};

}  // namespace

const EditionRow& editionRow(int edition) {
  if (edition < 1 || edition >= kEditionCount) return kEditions[0];
  return kEditions[edition];
}

}  // namespace config
