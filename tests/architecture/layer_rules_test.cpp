#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// The layers of src/, lowest first: which folders a folder's core code may
// include besides its own. The README's "Architecture" section shows the same
// list; change both together.
const std::map<std::string, std::set<std::string>> kCoreMayInclude = {
    {"platform", {}},
    {"shared", {"platform"}},
    {"device", {"shared", "platform"}},
    {"sim", {"device", "shared", "platform"}},
    {"measure", {"device", "shared", "platform"}},
    {"interchange", {"measure", "device", "shared", "platform"}},
    {"library", {"measure", "device", "shared", "platform"}},
    {"markers", {"measure", "device", "shared", "platform"}},
    {"transfer", {"library", "measure", "device", "shared", "platform"}},
    {"axis_check", {"measure", "device", "shared", "platform"}},
    // A record of an identification tells the last check of the axis.
    {"identify", {"axis_check", "library", "measure", "device", "shared", "platform"}},
    // The two composition roots: the window program's states and wiring, and
    // the command-line tool, which may use the former's plain parts.
    {"app",
     {"identify", "axis_check", "transfer", "markers", "library", "interchange", "measure", "sim", "device", "shared",
      "platform"}},
    {"cli",
     {"app", "identify", "axis_check", "transfer", "markers", "library", "interchange", "measure", "sim", "device",
      "shared", "platform"}},
};

struct Include {
    std::string file; // relative to the source root
    int line;
    std::string target;
    bool angled;
};

std::vector<Include> ReadIncludes(const fs::path& root) {
    static const std::regex include(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
    std::vector<Include> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
        std::ifstream in(entry.path());
        std::string text;
        for (int line = 1; std::getline(in, text); ++line) {
            std::smatch m;
            if (std::regex_search(text, m, include))
                found.push_back({fs::relative(entry.path(), root).generic_string(), line, m[2], m[1] == "<"});
        }
    }
    return found;
}

// "measure/ui/x.cpp" -> "measure/ui"; "main.cpp" -> "".
std::string FolderOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool IsWindowFolder(const std::string& folder) {
    return folder.size() > 3 && folder.ends_with("/ui");
}

std::string SubsystemOf(const std::string& folder) {
    return IsWindowFolder(folder) ? folder.substr(0, folder.size() - 3) : folder;
}

bool IsQtHeader(const std::string& header) {
    return header.size() > 1 && header[0] == 'Q' &&
           (std::isupper(static_cast<unsigned char>(header[1])) || header.starts_with("Qt"));
}

// Why an include breaks the layers, or empty when it does not.
std::string Breach(const Include& inc) {
    std::string from = FolderOf(inc.file);
    bool mainProgram = from.empty();
    if (inc.angled) {
        if (IsQtHeader(inc.target) && !mainProgram && !IsWindowFolder(from)) return "Qt header outside the window code";
        return {};
    }
    std::string to = FolderOf(inc.target);
    if (to == from || to.empty()) return {};
    if (mainProgram) return to == "cli" || to.starts_with("cli/") ? "the window program includes the CLI" : "";
    auto rules = kCoreMayInclude.find(SubsystemOf(from));
    if (rules == kCoreMayInclude.end()) return "folder " + from + " is in no layer";
    const std::set<std::string>& below = rules->second;
    if (!IsWindowFolder(from)) {
        if (IsWindowFolder(to)) return "core code includes window code";
        return below.count(to) ? "" : "a layer above or beside";
    }
    // Window code: its own core, what that core may include, the shared
    // window helpers, and the window code of the subsystems below it.
    std::string own = SubsystemOf(from);
    std::string target = SubsystemOf(to);
    if (own == "app") return target == "cli" ? "the window program includes the CLI" : "";
    if (target == own && !IsWindowFolder(to)) return {};
    if (to == "shared/ui") return {};
    if (below.count(target)) return {};
    return "a layer above or beside";
}

std::vector<std::string> Breaches(const fs::path& root) {
    std::vector<std::string> out;
    for (const Include& inc : ReadIncludes(root)) {
        std::string why = Breach(inc);
        if (!why.empty()) out.push_back(inc.file + ":" + std::to_string(inc.line) + " " + inc.target + ": " + why);
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(LayerRules, SourceTreeIncludesOnlyDownward) {
    std::vector<std::string> breaches = Breaches(VELTRANE_SOURCE_DIR);
    std::string list;
    for (const std::string& b : breaches)
        list += "\n  " + b;
    EXPECT_TRUE(breaches.empty()) << "includes against the layers:" << list;
    // The walk found the tree at all.
    EXPECT_GT(ReadIncludes(VELTRANE_SOURCE_DIR).size(), 300u);
}

TEST(LayerRules, EachKindOfBreachIsCaught) {
    veltrane::test::TempDir dir;
    fs::path root = dir.path();
    auto write = [&](const std::string& file, const std::string& text) {
        fs::create_directories((root / file).parent_path());
        std::ofstream(root / file) << text;
    };
    write("measure/ok.cpp", "#include \"measure/ok.h\"\n#include \"device/device_info.h\"\n#include <vector>\n");
    write("device/up.cpp", "#include \"measure/measurement_session.h\"\n");
    write("library/app.h", "#include \"app/program_state.h\"\n");
    write("markers/qt.cpp", "#include <QString>\n");
    write("markers/ui/beside.cpp", "#include \"library/ui/library_controller.h\"\n#include <QWidget>\n");
    write("transfer/ui/down.cpp",
          "#include \"library/ui/library_controller.h\"\n#include \"shared/ui/window_host.h\"\n");
    write("measure/window.cpp", "#include \"measure/ui/measure_controller.h\"\n");
    write("newfolder/x.cpp", "#include \"platform/clock.h\"\n");
    write("main.cpp", "#include \"app/ui/application.h\"\n#include <QApplication>\n");
    EXPECT_EQ(Breaches(root),
              (std::vector<std::string>{
                  "device/up.cpp:1 measure/measurement_session.h: a layer above or beside",
                  "library/app.h:1 app/program_state.h: a layer above or beside",
                  "markers/qt.cpp:1 QString: Qt header outside the window code",
                  "markers/ui/beside.cpp:1 library/ui/library_controller.h: a layer above or beside",
                  "measure/window.cpp:1 measure/ui/measure_controller.h: core code includes window code",
                  "newfolder/x.cpp:1 platform/clock.h: folder newfolder is in no layer",
              }));
}

} // namespace
