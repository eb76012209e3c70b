#include "app/cli.h"

#include <CLI/CLI.hpp>
#include <iostream>

#include "app/batch.h"
#include "app/clip_task.h"
#include "app/commands.h"
#include "app/settings.h"
#include "qlcore_version.h"

namespace qlcore {

const char* version_text() {
    return "qlcore " QLCORE_VERSION;
}

namespace {

// argparse-like usage errors: usage and one error line on stderr, status 2.
int _usage_error(const CLI::App& app, const CLI::App* sub, const std::string& msg) {
    const CLI::App& shown = sub ? *sub : app;
    std::cerr << shown.help("", CLI::AppFormatMode::Normal);
    std::cerr << "qlcore: error: " << msg << "\n";
    return 2;
}

}  // namespace

ParseOutcome parse_command_line(int argc, const char* const* argv) {
    CliArgs a;
    CLI::App app{"", "qlcore"};
    app.require_subcommand(1, 1);
    app.set_version_flag("--version", version_text());

    CLI::App* process = app.add_subcommand("process", "mosaic faces in clips");
    process->add_option("--job", a.job, "job folder written by the Resolve script")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    process->add_option("--keep", a.keep, "person folder name to leave visible (repeatable)")
        ->allow_extra_args(false)
        ->take_all();
    process
        ->add_option("--out-dir", a.out_dir,
                     "where to write results (default: Quillet/ next to each clip)")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    CLI::Option* fast =
        process->add_flag("--fast", a.fast, "quicker face search; misses more small faces");
    process
        ->add_flag("--thorough", a.thorough,
                   "slower face search; finds more small, dim and turned faces")
        ->excludes(fast);
    for (const RunSetting& s : run_settings()) {
        if (!s.cli_field) continue;
        std::string help = s.help;
        if (s.changes_output) help += " (a finished clip made otherwise is redone)";
        CLI::Option* o = process->add_option("--" + s.name, a.*s.cli_field, help)
                             ->default_str(s.default_text)
                             ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        if (!s.choices.empty())
            o->check(CLI::IsMember(s.choices));
        else
            o->check(CLI::Number);
    }
    process->add_flag_callback(
        "--no-review-page", [&a] { a.review_page = false; },
        "write no review page (it shows faces unhidden) beside the outputs");
    process->add_option("files", a.files);
    process->add_option("--clip", a.clip, "process only this clip of the job (1-based)")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    CLI::App* enroll = app.add_subcommand("enroll", "collect face photos of a person from a clip");
    enroll->add_option("name", a.name)->required();
    // A single-value option given twice takes the last value, as argparse does.
    enroll->add_option("--from-video", a.from_video)
        ->required()
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    enroll->add_option("--every", a.every, "seconds between samples")
        ->capture_default_str()
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    enroll->add_option("--max", a.max)
        ->capture_default_str()
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    CLI::App* people = app.add_subcommand("people", "list enrolled people");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        const CLI::App* sub = nullptr;
        for (const CLI::App* s : {process, enroll, people})
            if (s->parsed()) sub = s;
        std::cout << (sub ? sub->help() : app.help());
        return {std::nullopt, 0};
    } catch (const CLI::CallForAllHelp&) {
        std::cout << app.help("", CLI::AppFormatMode::All);
        return {std::nullopt, 0};
    } catch (const CLI::CallForVersion&) {
        std::cout << version_text() << "\n";
        return {std::nullopt, 0};
    } catch (const CLI::ParseError& e) {
        const CLI::App* sub = nullptr;
        for (const CLI::App* s : {process, enroll, people})
            if (s->parsed()) sub = s;
        std::string msg = e.what();
        if (!sub) {
            if (argc > 1 && argv[1][0] != '-')
                msg = std::string("argument command: invalid choice: '") + argv[1] +
                      "' (choose from 'process', 'enroll', 'people')";
            else if (dynamic_cast<const CLI::RequiredError*>(&e))
                msg = "the following arguments are required: command";
        }
        return {std::nullopt, _usage_error(app, sub, msg)};
    }

    if (process->parsed()) {
        if (auto msg = clip_option_error(a))
            return {std::nullopt, _usage_error(app, process, *msg)};
        a.cmd = "process";
        a.fn = cmd_process;
    } else if (enroll->parsed()) {
        a.cmd = "enroll";
        a.fn = cmd_enroll;
    } else {
        a.cmd = "people";
        a.fn = cmd_people;
    }
    return {a, 0};
}

}  // namespace qlcore
