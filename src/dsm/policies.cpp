#include "dsm/policies.h"

#include <string>

#include "cli/words.h"

namespace dsm {

int ListPolicies(platform::Output& out) {
  out.Line("");
  for (std::string_view policy : cli::SettablePolicies()) out.Line(" " + std::string(policy));
  out.Line("");
  return 0;
}

}  // namespace dsm
