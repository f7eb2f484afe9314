#include "support/TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace vmtest {

std::string FixturePath(const std::string& name) {
    const char* dir = std::getenv("VM_FIXTURE_DIR");
    return std::string(dir && *dir ? dir : VM_FIXTURE_DIR) + "/" + name;
}

bool HaveFixture(const std::string& name) { return std::filesystem::exists(FixturePath(name)); }

TempDir::TempDir() {
    std::string base = std::filesystem::temp_directory_path().string() + "/vmtest-XXXXXX";
    std::vector<char> buf(base.begin(), base.end());
    buf.push_back(0);
    if (!::mkdtemp(buf.data())) std::abort();
    Dir = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        if (output) output->append(buf, n);
    int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vmtest
