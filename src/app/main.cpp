#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

#include "app/cli.h"
#include "app/folders.h"
#include "app/startup.h"
#include "platform/failure.h"
#include "platform/interrupt.h"
#include "platform/system.h"

using namespace qlcore;

int main(int argc, char** argv) {
    init_environment();
    install_signal_handlers();
    utf8_console();
    try {
        // UTF-8 whatever the system's code page.
        std::vector<std::string> args = program_arguments(argc, argv);
        std::vector<char*> utf8_argv;
        for (std::string& a : args)
            utf8_argv.push_back(a.data());
        utf8_argv.push_back(nullptr);
        ParseOutcome parsed = parse_command_line(static_cast<int>(args.size()), utf8_argv.data());
        if (!parsed.args) return parsed.exit_status;
        std::filesystem::create_directories(folders().people_dir);
        return parsed.args->fn(*parsed.args);
    } catch (const FatalStop& stop) {
        std::cout.flush();
        std::cerr << stop.message << std::endl;
        return 1;
    } catch (const Interrupted& intr) {
        std::cout << std::endl;
        std::cerr << "Interrupted: stopped before finishing; unfinished outputs were removed."
                  << std::endl;
        return 128 + intr.signal_number;
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << e.what() << std::endl;
        return 1;
    }
}
