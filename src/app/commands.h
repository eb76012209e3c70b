// The three command functions; each returns the exit status.
#pragma once

#include "app/cli.h"

namespace qlcore {

int cmd_process(const CliArgs& args);
int cmd_enroll(const CliArgs& args);
int cmd_people(const CliArgs& args);

}  // namespace qlcore
