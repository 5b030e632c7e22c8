#include "cli/handlers.h"

namespace cli {

CommandHandlers TollardHandlers() {
  CommandHandlers handlers = DefaultHandlers();
  return handlers;
}

}  // namespace cli
