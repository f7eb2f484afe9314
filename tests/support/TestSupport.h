#pragma once
// Shared helpers of the test programs: where the fixture images are, temporary folders.
#include <cstdint>
#include <string>
#include <vector>

namespace vmtest {

// Path of a fixture image made by tests/fixtures/make_images.sh.
std::string FixturePath(const std::string& name);
// True when the fixture exists; tests that need it call GTEST_SKIP() otherwise.
bool HaveFixture(const std::string& name);

// A fresh empty folder below the test's temporary folder, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return Dir; }
    std::string File(const std::string& name) const { return Dir + "/" + name; }

private:
    std::string Dir;
};

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadFile(const std::string& path);

// Runs a shell command, returns its exit status and (optionally) its standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace vmtest
