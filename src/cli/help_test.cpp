#include "cli/help.h"

#include <gtest/gtest.h>

#include <string>

namespace cli {
namespace {

// The texts are part of the program's interface: compared byte for byte,
// trailing blanks included.
const std::string kUsage =
    "\n"
    "    Usage:  tollard\n"
    "\n"
    "    Specify --help for this help.\n"
    "\n"
    "  Orrin MPIO DSM command line interface for view and configuration.\n";

const std::string kMpiolistHelp =
    "  mpiolist\n"
    "    Displays specified MPIO WMI object.\n"
    "    Syntax: mpiolist WMI_Object [ Machine_Name [ Admin_User Password ] ]\n"
    "      WMI_Object: is either the name of an WMI object\n"
    "        or one of the types from the following list:\n"
    "        Use...    To see...\n"
    "             0      MsDiskDriver_Performance\n"
    "             1      MPIO_DISK_INFO\n"
    "             2      MPIO_PATH_INFORMATION\n"
    "             3      MPIO_CONTROLLER_CONFIGURATION\n"
    "             4      MPIO_TIMERS_COUNTERS\n"
    "             5      MPIO_GET_DESCRIPTOR\n"
    "      Machine_Name:  optional parameter specifying the computer name\n"
    "        to be queried.\n"
    "      Admin_User:  optional parameter specifying the domain and user for\n"
    "        the Machine_Name computer.  Must be member of the Administrators\n"
    "        group to work correctly.\n"
    "      Password: optional parameter specifying the password for Admin_User\n"
    "        parameter.  If Admin_User is specified, this parameter is required.\n"
    "\n";

const std::string kHelpHead =
    "\n"
    "  The following commands are accepted:\n"
    "\n"
    "  devinfo \n"
    "    Display the devices information.\n"
    "    The following arguments are supported:\n"
    "    [ <SerialNumber> <policy> ]\n"
    "      Set the load balance policy of specified device.\n"
    "    [ all <policy> ]\n"
    "      Set the load balance policy of all devices.\n"
    "    [ <SerialNumber> {failback-on | failback-off} ]\n"
    "      Set the fail-back status of specified device.\n"
    "    [ all {failback-on|failback-off} ]\n"
    "      Set the fail-back status of all devices.\n"
    "\n"
    "  pathinfo \n"
    "    Display all the pathes information.\n"
    "    The following arguments are supported:\n"
    "    [ <HbaWwpn> { online | standby | failed } ]\n"
    "      Set the path status issued from HbaWwpn;\n"
    "    [ SN <SerialNumber> ]\n"
    "      Display the paths matchs  SerialNumber;\n"
    "    [ HBA <HbaWwpn> ]\n"
    "      Display the paths matchs HbaWwpn;\n"
    "\n"
    "  primary <PathId>\n"
    "    Set the specified path to primary.\n"
    "\n"
    "  weight <PathId> <weight>\n"
    "    Set the weight of specified path.\n"
    "\n"
    "  clear\n"
    "    Clear performance counters.\n"
    "\n"
    "  policies\n"
    "    Display the supported load balance policies.\n"
    "\n";

// Flushes count too: every line must reach the console before the next
// command's output.
TEST(HelpTest, TextsAreExact) {
  struct Case {
    int (*print)(platform::Output&);
    std::string expected;
  } cases[] = {
      {PrintUsage, kUsage},
      {PrintMpiolistHelp, kMpiolistHelp},
      {PrintHelp, kHelpHead + kMpiolistHelp},
  };
  for (const Case& c : cases) {
    platform::StringOutput out;
    EXPECT_EQ(c.print(out), 0);
    EXPECT_EQ(out.Text(), c.expected);
  }
}

}  // namespace
}  // namespace cli
