#include "app/folders.h"

#include "faces/models.h"
#include "platform/files.h"

namespace qlcore {

Folders resolve_folders() {
    Folders f;
    f.app_dir = self_exe_path().parent_path();
    // QUILLET_HOME is taken unchanged: not expanded, not made absolute; an
    // empty value therefore means the current folder.
    if (auto home = get_env("QUILLET_HOME"))
        f.home_dir = u8path(*home);
    else
        f.home_dir = user_home() / "Quillet";
    f.people_dir = f.home_dir / "people";
    f.model_dir = f.app_dir / "models";
    f.det_model = f.model_dir / DET_MODEL_NAME;
    f.rec_model = f.model_dir / REC_MODEL_NAME;
    return f;
}

const Folders& folders() {
    static const Folders f = resolve_folders();
    return f;
}

}  // namespace qlcore
