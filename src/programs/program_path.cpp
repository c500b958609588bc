#include "programs/program_path.h"

#include <filesystem>
#include <system_error>

namespace programs {

std::string pathToRun(const char* builtPath, const char* installedPath)
{
    std::error_code error;
    const auto running = std::filesystem::read_symlink("/proc/self/exe", error).string();
    const std::string buildTree = QUORVEX_BINARY_DIR "/";
    if (!error && running.compare(0, buildTree.size(), buildTree) == 0)
        return builtPath;
    return installedPath;
}

}  // namespace programs
