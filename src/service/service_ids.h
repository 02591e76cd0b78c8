#pragma once
// The service's fixed names and identifiers: the service name (also the event source and the
// display name), the executable's name in the AppID entry, the class, interface, type library
// and application GUIDs, and the name of its systemd unit.

#include <string_view>

namespace snxsvc {

inline constexpr std::string_view kServiceName = "SNXSVC";
inline constexpr std::string_view kExecutableName = "SNXSVC.EXE";
inline constexpr std::string_view kUnitName = "snxsvc.service";

inline constexpr std::string_view APPID_SNXSVC = "{6E2B1C40-7A53-4D8E-9F21-3B5C8A0D4E11}";
inline constexpr std::string_view CLSID_SNXSVR = "{A4D3F2E1-5B6C-4A7D-8E9F-0123456789AB}";
inline constexpr std::string_view LIBID_SNXSVCLib = "{C1B2A394-8576-4D3E-B2F1-A0E9D8C7B6A5}";
inline constexpr std::string_view IID_ISNXSVR = "{D5E6F708-192A-4B3C-8D4E-5F60718293A4}";
inline constexpr std::string_view DIID__ISNXSVREvents = "{E7F80912-A3B4-4C5D-9E6F-708192A3B4C5}";

inline constexpr std::string_view kProgId = "SNXSVC.SNXSVR";
inline constexpr std::string_view kProgIdVersioned = "SNXSVC.SNXSVR.1";
inline constexpr std::string_view kClassDescription = "SNXSVR Class";
inline constexpr std::string_view kTypeLibDescription = "SNXSVC 1.0 Type Library";

}  // namespace snxsvc
