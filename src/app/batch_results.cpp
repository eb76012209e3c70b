#include <cstdio>
#include <filesystem>

#include "app/batch.h"
#include "platform/files.h"

namespace qlcore {
namespace {

// A report value as a results field: text as it stands, numbers as written.
std::string _field(const json& v) {
    return v.is_string() ? v.get<std::string>() : dump_compact(v);
}

}  // namespace

std::pair<std::string, std::string> split_clip_entry(const std::string& entry) {
    size_t tab = entry.find('\t');
    if (tab == std::string::npos) return {entry, ""};
    return {entry.substr(0, tab), entry.substr(tab + 1)};
}

std::vector<std::string> result_lines(const json& report) {
    std::vector<std::string> lines;
    std::string output = _field(report.at("output"));
    lines.push_back("CLIP\t" + _field(report.at("source")) + "\t" + output);
    for (const auto& m : report.at("markers")) {
        std::string note = _field(m.at("note"));
        for (char& c : note)
            if (c == '\t' || c == '\n') c = ' ';
        lines.push_back("MARK\t" + output + "\t" + _field(m.at("frame")) + "\t" +
                        _field(m.at("duration")) + "\t" + _field(m.at("color")) + "\t" +
                        _field(m.at("name")) + "\t" + note);
    }
    return lines;
}

std::string results_text(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines)
        text += l + "\n";
    return text;
}

std::string minutes_text(double seconds) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f", seconds / 60.0);
    return buf;
}

std::string failed_line(const std::vector<std::string>& clips) {
    std::string s = "Failed: ";
    for (size_t i = 0; i < clips.size(); ++i) {
        const std::filesystem::path p = u8path(clips[i]);
        // "folder/clip.mov/" still names clip.mov.
        std::string name =
            p.has_filename() ? u8string(p.filename()) : u8string(p.parent_path().filename());
        s += (i ? ", " : "") + name;
    }
    return s;
}

}  // namespace qlcore
