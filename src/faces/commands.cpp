#include <stdexcept>

#include "app/commands.h"

namespace qlcore {

int cmd_enroll(const CliArgs&) { throw std::runtime_error("enroll is not available in this build yet"); }
int cmd_people(const CliArgs&) { throw std::runtime_error("people is not available in this build yet"); }

}  // namespace qlcore
