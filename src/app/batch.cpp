#include "app/commands.h"
#include "app/job.h"
#include "app/startup.h"
#include "media/console.h"

namespace qlcore {

int cmd_process(const CliArgs& args) {
    keep_awake();
    RunPlan plan = plan_run(args);
    if (plan.clips.empty()) {
        log("No clips given.");
        return 1;
    }
    if (plan.fast)
        log("Fast mode: quicker, but small faces in the background are more likely to be "
            "missed.");
    throw std::runtime_error("processing clips is not available in this build yet");
}

}  // namespace qlcore
