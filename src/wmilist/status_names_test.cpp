#include "wmilist/status_names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <regex>
#include <string>

namespace wmilist {
namespace {

using platform::MakeHResult;

TEST(WbemStatusName, NamesEveryTableRowAndSpellsOthersInHex) {
  struct Case {
    uint32_t code;
    const char* name;
  } cases[] = {
      {0, "WBEM_NO_ERROR/WBEM_S_NO_ERROR/WBEM_S_SAME"},
      {1, "WBEM_S_FALSE"},
      {0x40001, "WBEM_S_ALREADY_EXISTS"},
      {0x40004, "WBEM_S_TIMEDOUT"},
      {0x40006, "WBEM_OPERATION_CANCELLED"},
      {0x40008, "WBEM_S_DUPLICATE_OBJECTS"},
      {0x40009, "0x40009"},
      {0x80041000, "0x80041000"},
      {0x80041001, "WBEM_E_FAILED"},
      {0x80041002, "WBEM_E_NOT_FOUND"},
      {0x8004100E, "WBEM_E_INVALID_NAMESPACE"},
      {0x80041010, "WBEM_E_INVALID_CLASS"},
      {0x80041030, "WBEM_E_SYSTEM_PROPERTY"},
      {0x80041039, "WBEM_E_PARAMETER_ID_ON_RETVAL"},
      {0x8004103A, "WBEM_E_INVALID_OBJECT_PATH"},
      {0x8004103B, "0x8004103b"},
      {0x80041064, "0x80041064"},
      {0x80042001, "WBEMESS_E_REGISTRATION_TOO_BROAD"},
      {0x80042002, "WBEMESS_E_REGISTRATION_TOO_PRECISE"},
      {0x80042003, "0x80042003"},
      {0x800706BA, "0x800706ba"},
      {0x00000002, "0x2"},
      {0xFFFFFFFF, "0xffffffff"},
  };
  for (const Case& c : cases) EXPECT_EQ(WbemStatusName(MakeHResult(c.code)), c.name) << c.code;
}

// Every failure name agrees with the WBEMSTATUS enumeration of the SDK
// headers, where they are installed: none missing, none shifted.
TEST(WbemStatusName, AgreesWithTheSdkHeader) {
  std::ifstream header("/usr/share/mingw-w64/include/wbemcli.h");
  if (!header) GTEST_SKIP() << "no mingw-w64 headers here";
  const std::regex entry(R"(^\s*(WBEM_E_\w+)\s*=\s*0x(8004[0-9a-fA-F]{4}),?\s*$)");
  std::string line;
  int checked = 0;
  while (std::getline(header, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, entry)) continue;
    uint32_t code = static_cast<uint32_t>(std::stoul(m[2].str(), nullptr, 16));
    if (code < 0x80041001 || code > 0x8004103A) continue;
    EXPECT_EQ(WbemStatusName(MakeHResult(code)), m[1].str());
    ++checked;
  }
  EXPECT_EQ(checked, 58);
}

}  // namespace
}  // namespace wmilist
