// The run's options in one table, which both the command line and a job's
// "options.txt" read, so the two accept and warn alike.
#pragma once

#include <string>
#include <vector>

#include "app/cli.h"

namespace qlcore {

struct RunPlan;

struct RunSetting {
    std::string name{};  // "name=" in options.txt, "--name" on the command line
    std::string help{};
    std::vector<std::string> choices{};  // the texts allowed; empty for a number
    // For a number: the values that make sense; others are used but warned of.
    double low = 0.0, high = 0.0;
    std::string range_note{};  // why values outside low..high are suspect
    // A finished clip made with another value is redone (the report keeps
    // the value when it is not the default).
    bool changes_output = false;
    std::string default_text{};
    // Puts an accepted value into the plan.
    void (*apply)(RunPlan& plan, const std::string& value) = nullptr;
    // The command line's "--name VALUE" field; nullptr where the command
    // line has flags instead (--fast, --thorough, --no-review-page).
    std::string CliArgs::*cli_field = nullptr;
    // The options.txt line is trimmed before its key is looked for.
    bool trim_line = false;
};

const std::vector<RunSetting>& run_settings();

// Applies `text` (trimmed) for `s`; `where` names its source in warnings
// ("in options.txt", "on the command line"). A text outside the choices logs one
// "⚠" line and applies the default; a number outside low..high logs one and
// is applied as given; a text that is no number is ignored silently.
void apply_setting(RunPlan& plan, const RunSetting& s, const std::string& text,
                   const std::string& where);

}  // namespace qlcore
