// Every #include "folder/file.h" of the program's own code against the
// layers of ARCHITECTURE.md: a folder includes from itself and from the
// folders its row of the layer table reaches, directly or through other
// rows. An include that reaches up, or sideways to a folder not below, fails
// with its file and line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
const fs::path SOURCE = BRELLIN_SOURCE_DIR;

// Folder -> the folders it names, from the table after "includes from".
std::map<std::string, std::set<std::string>> readLayerTable() {
    std::ifstream in(SOURCE / "ARCHITECTURE.md");
    std::map<std::string, std::set<std::string>> rows;
    std::string line;
    bool inTable = false;
    while (std::getline(in, line)) {
        if (line.rfind("| folder | includes from |", 0) == 0) {
            inTable = true;
            continue;
        }
        if (!inTable) continue;
        if (line.rfind("|---", 0) == 0) continue;
        if (line.rfind("|", 0) != 0) break;
        // | `engine` | `player`, `output/devices`, `settings` |
        std::vector<std::string> names;
        std::size_t at = 0;
        while ((at = line.find('`', at)) != std::string::npos) {
            const std::size_t end = line.find('`', at + 1);
            if (end == std::string::npos) break;
            names.push_back(line.substr(at + 1, end - at - 1));
            at = end + 1;
        }
        if (names.empty()) continue;
        rows[names[0]].insert(names.begin() + 1, names.end());
    }
    return rows;
}

// Every folder each folder may include from: the rows' closure.
std::map<std::string, std::set<std::string>> reachable(const std::map<std::string, std::set<std::string>>& rows) {
    std::map<std::string, std::set<std::string>> reach;
    for (const auto& [folder, direct] : rows) {
        std::set<std::string>& seen = reach[folder];
        std::vector<std::string> open(direct.begin(), direct.end());
        while (!open.empty()) {
            const std::string next = open.back();
            open.pop_back();
            if (!seen.insert(next).second) continue;
            auto found = rows.find(next);
            if (found != rows.end()) open.insert(open.end(), found->second.begin(), found->second.end());
        }
    }
    return reach;
}

// The longest folder of the table that `path` lies in; empty when none.
std::string folderOf(const std::string& path, const std::map<std::string, std::set<std::string>>& rows) {
    std::string best;
    for (const auto& entry : rows) {
        const std::string& folder = entry.first;
        if (path.rfind(folder + "/", 0) == 0 && folder.size() > best.size()) best = folder;
    }
    return best;
}

TEST(IncludeLayers, NoIncludeReachesAboveItsLayer) {
    const auto rows = readLayerTable();
    ASSERT_GE(rows.size(), 10u) << "the layer table of ARCHITECTURE.md was not found";
    const auto reach = reachable(rows);
    // Only what stands above every layer may include tests, benchmarks or fuzz targets.
    const std::set<std::string> topOnly = {"tests", "bench", "fuzz"};

    std::vector<std::string> faults;
    std::size_t checked = 0;
    for (auto it = fs::recursive_directory_iterator(SOURCE); it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = fs::relative(it->path(), SOURCE).generic_string();
        if (it->is_directory()) {
            const std::string top = relative.substr(0, relative.find('/'));
            if (top.rfind("build", 0) == 0 || top[0] == '.' || topOnly.count(top)) it.disable_recursion_pending();
            continue;
        }
        const std::string extension = it->path().extension().string();
        if (extension != ".h" && extension != ".cpp") continue;
        const std::string from = folderOf(relative, rows);
        if (from.empty()) continue;
        std::ifstream file(it->path());
        std::string line;
        for (int number = 1; std::getline(file, line); ++number) {
            const std::size_t hash = line.find_first_not_of(" \t");
            if (hash == std::string::npos || line.compare(hash, 1, "#") != 0) continue;
            const std::size_t quote = line.find("include \"", hash);
            if (quote == std::string::npos) continue;
            const std::size_t start = quote + 9;
            const std::size_t end = line.find('"', start);
            if (end == std::string::npos) continue;
            const std::string target = line.substr(start, end - start);
            ++checked;
            const std::string top = target.substr(0, target.find('/'));
            const std::string to = folderOf(target, rows);
            bool allowed;
            if (topOnly.count(top)) {
                allowed = false;
            } else if (to.empty() || to == from) {
                allowed = true;  // the folder's own files, generated headers
            } else {
                allowed = reach.at(from).count(to) != 0;
            }
            if (!allowed) {
                std::ostringstream fault;
                fault << relative << ":" << number << ": " << from << " includes \"" << target << "\"";
                faults.push_back(fault.str());
            }
        }
    }
    EXPECT_GT(checked, 300u);
    std::string list;
    for (const std::string& fault : faults) list += "\n  " + fault;
    EXPECT_TRUE(faults.empty()) << faults.size() << " includes reach above their layer:" << list;
}

}  // namespace
