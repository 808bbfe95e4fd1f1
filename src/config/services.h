// The product's web services: one list of base addresses. The defaults are
// the product's own hosts (reserved ".example" names, so that nothing real is
// contacted by accident); the machine profile's "services" keys replace them
// one by one.
//
// Every address keeps the scheme of its base address. The defaults use HTTPS,
// except the web site, whose home page is plain HTTP.
#pragma once

#include <string>

namespace config {

struct ServiceAddresses {
  std::wstring cdn;        // resource CDN: download-resolution document, full installers
  std::wstring api;        // product API: game configuration of an openid
  std::wstring analytics;  // analytics collection: telemetry uploads
  std::wstring web;        // web site: home page, licence page
  std::wstring chat;       // customer-service chat entry (a whole address)
};

// Base addresses have no trailing "/".
constexpr const wchar_t* kDefaultCdn = L"https://cdn.vireo.example";
constexpr const wchar_t* kDefaultApi = L"https://api.vireo.example";
constexpr const wchar_t* kDefaultAnalytics = L"https://collect.vireo.example";
constexpr const wchar_t* kDefaultWeb = L"http://www.vireo.example";
constexpr const wchar_t* kDefaultChat = L"https://wpa.qq.com/msgrd?v=3&uin=0&site=vireo&menu=yes";

// What each service is asked for (appended to its base address).
constexpr const wchar_t* kPlayerUrlPath = L"/zk/tallisex";                  // CDN
constexpr const wchar_t* kInstallerFolderPath = L"/download/release/";      // CDN
constexpr const wchar_t* kGameConfigurationPath = L"/zud/properties";       // API
constexpr const wchar_t* kUploadPath = L"/collection/biz/upload";           // analytics
constexpr const wchar_t* kLicencePath = L"/zky/xukeXieyi.html";             // web site

// The addresses in force: the profile's where it names them, else the defaults.
ServiceAddresses serviceAddresses();

}  // namespace config
