#include "install/results.h"

#include <cstdio>
#include <string>

namespace install {

void PrintErrorText(Installer& in, Win32Error code) {
  std::string text;
  if (in.sys.MessageText(code & 0xFFFF, &text)) {
    in.out.Write(" " + text + "\n");
    return;
  }
  char line[40];
  std::snprintf(line, sizeof line, " Error code (0x%08x)\n", code);
  in.out.Write(line);
}

void PrintFailure(Installer& in, Win32Error code) {
  in.out.Write("Failure.");
  PrintErrorText(in, code);
}

void PrintDeviceSuccess(Installer& in, uint32_t reboot) {
  in.out.Write(reboot != 0 ? "Success (but need a reboot)\n" : "Success \n");
}

}  // namespace install
