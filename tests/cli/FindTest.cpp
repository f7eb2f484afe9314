// vellumark-cli find and the filter options of list, against sleuthkit's listing of the demo image.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <cctype>
#include <functional>
#include <set>
#include <sstream>

#include "support/TestSupport.h"

namespace {

std::string Cli(const std::string& args, int* status = nullptr) {
    std::string out;
    int rc = vmtest::RunCommand(std::string(VM_CLI_PATH) + " " + args + " 2>&1", &out);
    if (status) *status = rc;
    return out;
}

std::string Demo() { return std::string(VM_SOURCE_DIR) + "/data/demo.img"; }

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct FlsEntry {
    std::string path;  // "\Documents\BUDGET.PDF"
    std::string name;
    bool deleted = false, folder = false;
};

// Every file and folder fls lists, without the volume's own entries.
std::vector<FlsEntry> Fls() {
    std::string out;
    EXPECT_EQ(vmtest::RunCommand("fls -r -p '" + Demo() + "'", &out), 0);
    std::vector<FlsEntry> entries;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.find('\t');
        if (tab == std::string::npos || line[0] == 'v' || line[0] == 'V' || line.find("(Volume Label Entry)") != std::string::npos)
            continue;
        FlsEntry e;
        e.path = "/" + line.substr(tab + 1);
        e.name = e.path.substr(e.path.rfind('/') + 1);
        e.deleted = line.find(" * ") != std::string::npos;
        e.folder = line[0] == 'd';
        entries.push_back(e);
    }
    EXPECT_FALSE(entries.empty());
    return entries;
}

std::set<std::string> Want(const std::vector<FlsEntry>& fls, const std::function<bool(const FlsEntry&)>& keep) {
    std::set<std::string> out;
    for (const auto& e : fls)
        if (keep(e)) out.insert(e.path);
    return out;
}

// The paths of a --json listing; for find, each result's "In Folder" must be its path's folder.
std::set<std::string> Paths(const std::string& args) {
    int rc = -1;
    const std::string out = Cli(args + " --json '" + Demo() + "'", &rc);
    EXPECT_EQ(rc, 0) << args << ": " << out;
    std::set<std::string> paths;
    const auto start = out.find('[');
    if (start == std::string::npos) return paths;
    for (const auto& item : nlohmann::json::parse(out.substr(start))) {
        const std::string path = item["path"];
        if (item.contains("in_folder")) {
            EXPECT_EQ(path.substr(0, path.rfind('/') + 1), item["in_folder"]) << path;
        }
        paths.insert(path);
    }
    return paths;
}

bool Ext(const FlsEntry& e, const std::string& ext) { return Lower(e.name).ends_with(ext); }

}  // namespace

TEST(Find, FindsWhatSleuthkitListsByNameAndDeletedState) {
    const auto fls = Fls();
    struct Case {
        std::string args;
        std::function<bool(const FlsEntry&)> keep;
    } cases[] = {
        {"--name '*'", [](const FlsEntry& e) { return !e.folder; }},
        {"", [](const FlsEntry& e) { return !e.folder; }},
        {"--name '*.TXT'", [](const FlsEntry& e) { return !e.folder && Ext(e, ".txt"); }},
        {"--name '*REPORT*'", [](const FlsEntry& e) { return !e.folder && Lower(e.name).find("report") != std::string::npos; }},
        {"--name '?otes.txt'", [](const FlsEntry& e) { return !e.folder && Lower(e.name) == "notes.txt"; }},
        {"--deleted", [](const FlsEntry& e) { return !e.folder && e.deleted; }},
        {"--deleted --folders", [](const FlsEntry& e) { return e.deleted; }},
        {"--folders --name 'p*'", [](const FlsEntry& e) { return std::tolower(static_cast<unsigned char>(e.name[0])) == 'p'; }},
    };
    for (const auto& c : cases) EXPECT_EQ(Paths("find " + c.args), Want(fls, c.keep)) << c.args;
}

TEST(Find, SizesAndDatesAgreeWithTheListing) {
    std::vector<nlohmann::json> files;
    int rc = -1;
    for (const auto& item : nlohmann::json::parse(Cli("list --json '" + Demo() + "'", &rc)))
        if (!item["folder"]) files.push_back(item);
    ASSERT_EQ(rc, 0);
    auto where = [&](const std::function<bool(const nlohmann::json&)>& keep) {
        std::set<std::string> out;
        for (const auto& f : files)
            if (keep(f)) out.insert(f["path"].get<std::string>());
        return out;
    };
    auto size = [](const nlohmann::json& f) { return f["size"].get<std::uint64_t>(); };
    struct Case {
        std::string args;
        std::function<bool(const nlohmann::json&)> keep;
    } cases[] = {
        {"--size small", [&](const nlohmann::json& f) { return size(f) < 102400; }},
        {"--size large", [&](const nlohmann::json& f) { return size(f) > 1048576; }},
        {"--size '<2'", [&](const nlohmann::json& f) { return size(f) < 2048; }},
        {"--size '>9000B'", [&](const nlohmann::json& f) { return size(f) > 9000; }},
        {"--size =500B", [&](const nlohmann::json& f) { return size(f) == 500; }},
        {"--from 2020-09-20 --to 2020-09-22", [](const nlohmann::json& f) {
             const std::string t = f["created"];
             return t >= "2020-09-20" && t <= "2020-09-22 23:59:59";
         }},
        {"--to '2020-09-17 12:35:52'", [](const nlohmann::json& f) { return f["created"].get<std::string>() <= "2020-09-17 12:35:52"; }},
    };
    for (const auto& c : cases) {
        const auto want = where(c.keep);
        EXPECT_EQ(Paths("find " + c.args), want) << c.args;
    }
    EXPECT_NE(Cli("find --name 'no such name' '" + Demo() + "'").find("No files found"), std::string::npos);
}

TEST(Find, ListFilterOptionsHideWhatTheySay) {
    const auto fls = Fls();
    std::set<std::string> known;  // extensions of the catalogue's types, upper case
    for (const auto& type : nlohmann::json::parse(Cli("types --json"))) {
        std::string list = type["extensions"];
        for (char& c : list) c = c == ';' ? ',' : c;
        std::istringstream in(list);
        for (std::string e; std::getline(in, e, ',');) known.insert(e);
    }
    auto extension = [](const FlsEntry& e) {
        const auto dot = e.name.rfind('.');
        std::string ext = dot == std::string::npos ? "" : e.name.substr(dot + 1);
        for (char& c : ext) c = char(std::toupper(static_cast<unsigned char>(c)));
        return ext;
    };
    struct Case {
        std::string args;
        std::function<bool(const FlsEntry&)> keep;
    } cases[] = {
        {"--mask '*.jpg'", [](const FlsEntry& e) { return e.folder || e.name.ends_with(".jpg"); }},
        {"--mask '*.TXT'", [](const FlsEntry& e) { return e.folder || e.name.ends_with(".TXT"); }},  // case counts
        {"--mask '????????.*'", [](const FlsEntry& e) { return e.folder || e.name.find('.') == 8; }},
        {"--known-types", [&](const FlsEntry& e) { return e.folder || known.count(extension(e)); }},
        {"--types jpg", [&](const FlsEntry& e) { return e.folder || !known.count(extension(e)) || extension(e) == "JPG"; }},
        {"--to 2000-01-01", [](const FlsEntry&) { return false; }},  // everything on the image is newer
    };
    for (const auto& c : cases) EXPECT_EQ(Paths("list " + c.args), Want(fls, c.keep)) << c.args;
}

TEST(Find, BadFilterAndFindOptionsSayWhy) {
    struct Case {
        std::string args, message;
    } cases[] = {
        {"list --from 2020-13-01", "is not a date"},
        {"list --to yesterday", "is not a date"},
        {"list --types nosuchtype", "no file type or group"},
        {"list --known-types --types jpg", "excludes"},
        {"scan --from 2020-02-03x", "is not a date"},
        {"list --from 2021-02-29", "is not a date"},
        {"find --to '2020-01-01 24:00'", "is not a date"},
        {"find --size huge", "--size takes"},
        {"find --size '<'", "--size takes"},
        {"find --from 1500-01-01", "is not a date"},
    };
    for (const auto& c : cases) {
        int rc = 0;
        const std::string out = Cli(c.args + " '" + Demo() + "'", &rc);
        EXPECT_NE(rc, 0) << c.args;
        EXPECT_NE(out.find(c.message), std::string::npos) << c.args << ": " << out;
    }
}
