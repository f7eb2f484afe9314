#pragma once
// The commands of vellumark-cli. Each returns the process's exit code.
#include <string>

#include "cli/Target.h"

namespace vm::cli {

struct CommonOptions {
    bool Json = false;
    bool Verbose = false;  // copy the log to standard error
};

// Prints "vellumark-cli: MESSAGE" to standard error and returns the failure exit code.
int Fail(const std::string& message);

int RunInfo(const CommonOptions& common, const TargetOptions& target);

}  // namespace vm::cli
