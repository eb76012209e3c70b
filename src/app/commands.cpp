#include "app/commands.h"

#include <iostream>

#include "app/folders.h"
#include "faces/enroll.h"
#include "faces/models.h"
#include "faces/people.h"
#include "media/console.h"
#include "platform/files.h"
#include "platform/numbers.h"

namespace qlcore {

int cmd_enroll(const CliArgs& args) {
    const std::string name = trim(args.name);
    if (auto why = person_name_error(name)) {
        std::cout.flush();
        std::cerr << *why << std::endl;
        return 1;
    }
    const Folders& f = folders();
    const fs::path folder = f.people_dir / u8path(name);
    fs::create_directories(folder);

    Models models(f.det_model, f.rec_model);
    const long long saved =
        enroll_from_video(models, folder, args.from_video, args.every, args.max);
    log("Saved " + std::to_string(saved) + " face photo(s) for " + name + ".");
    log("Open the folder and delete any photo that is NOT them — that matters more than having "
        "many.");
    return saved > 0 ? 0 : 1;
}

int cmd_people(const CliArgs&) {
    const Folders& f = folders();
    const std::vector<std::string> people = list_people(f.people_dir);
    if (people.empty()) {
        log("No people yet. Make a folder per person in " + u8string(f.people_dir) +
            " and drop in a few clear photos.");
        return 0;
    }
    Models models(f.det_model, f.rec_model);
    for (const std::string& name : people)
        load_person(models, f.people_dir, name, true);
    return 0;
}

}  // namespace qlcore
