#include "cli/help.h"

#include <initializer_list>
#include <string>

namespace cli {
namespace {

// Written line by line, each flushed, so the help interleaves correctly
// with a child's output.
void PrintLines(platform::Output& out, std::initializer_list<std::string_view> lines) {
  for (std::string_view line : lines) out.Line(line);
}

}  // namespace

int PrintUsage(platform::Output& out) {
  out.Line("");
  out.Line("    Usage:  " + std::string(kProgramName));
  PrintLines(out, {
                      "",
                      "    Specify --help for this help.",
                      "",
                      "  Orrin MPIO DSM command line interface for view and configuration.",
                  });
  return 0;
}

int PrintHelp(platform::Output& out) {
  PrintLines(out, {
                      "",
                      "  The following commands are accepted:",
                      "",
                      "  devinfo ",
                      "    Display the devices information.",
                      "    The following arguments are supported:",
                      "    [ <SerialNumber> <policy> ]",
                      "      Set the load balance policy of specified device.",
                      "    [ all <policy> ]",
                      "      Set the load balance policy of all devices.",
                      "    [ <SerialNumber> {failback-on | failback-off} ]",
                      "      Set the fail-back status of specified device.",
                      "    [ all {failback-on|failback-off} ]",
                      "      Set the fail-back status of all devices.",
                      "",
                      "  pathinfo ",
                      "    Display all the pathes information.",
                      "    The following arguments are supported:",
                      "    [ <HbaWwpn> { online | standby | failed } ]",
                      "      Set the path status issued from HbaWwpn;",
                      "    [ SN <SerialNumber> ]",
                      "      Display the paths matchs  SerialNumber;",
                      "    [ HBA <HbaWwpn> ]",
                      "      Display the paths matchs HbaWwpn;",
                      "",
                      "  primary <PathId>",
                      "    Set the specified path to primary.",
                      "",
                      "  weight <PathId> <weight>",
                      "    Set the weight of specified path.",
                      "",
                      "  clear",
                      "    Clear performance counters.",
                      "",
                      "  policies",
                      "    Display the supported load balance policies.",
                      "",
                  });
  return PrintMpiolistHelp(out);
}

int PrintMpiolistHelp(platform::Output& out) {
  PrintLines(out, {
                      "  mpiolist",
                      "    Displays specified MPIO WMI object.",
                      "    Syntax: mpiolist WMI_Object [ Machine_Name [ Admin_User Password ] ]",
                      "      WMI_Object: is either the name of an WMI object",
                      "        or one of the types from the following list:",
                      "        Use...    To see...",
                      "             0      MsDiskDriver_Performance",
                      "             1      MPIO_DISK_INFO",
                      "             2      MPIO_PATH_INFORMATION",
                      "             3      MPIO_CONTROLLER_CONFIGURATION",
                      "             4      MPIO_TIMERS_COUNTERS",
                      "             5      MPIO_GET_DESCRIPTOR",
                      "      Machine_Name:  optional parameter specifying the computer name",
                      "        to be queried.",
                      "      Admin_User:  optional parameter specifying the domain and user for",
                      "        the Machine_Name computer.  Must be member of the Administrators",
                      "        group to work correctly.",
                      "      Password: optional parameter specifying the password for Admin_User",
                      "        parameter.  If Admin_User is specified, this parameter is required.",
                      "",
                  });
  return 0;
}

}  // namespace cli
