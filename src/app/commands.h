// The people commands; each returns the exit status. `process` is the
// batch runner's (app/batch.h).
#pragma once

#include "app/cli.h"

namespace qlcore {

int cmd_enroll(const CliArgs& args);
int cmd_people(const CliArgs& args);

}  // namespace qlcore
