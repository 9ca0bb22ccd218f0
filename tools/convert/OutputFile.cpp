#include "tools/convert/OutputFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace convert {

namespace fs = std::filesystem;

namespace {

fs::path temporaryBeside(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = std::random_device{}();
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x%04x.part", salt, counter++ & 0xFFFF);
    std::error_code ec;
    for (;;) {
        fs::path candidate = target.parent_path() / ("." + target.filename().string() + suffix);
        if (!fs::exists(fs::symlink_status(candidate, ec)))
            return candidate;
        std::snprintf(suffix, sizeof suffix, ".%08x%04x.part", salt, counter++ & 0xFFFF);
    }
}

} // namespace

OutputFile::OutputFile(fs::path target, bool force)
    : target_(std::move(target))
    , temporary_(temporaryBeside(target_))
    , force_(force) {
}

OutputFile::~OutputFile() {
    if (!committed_) {
        std::error_code ec;
        fs::remove(temporary_, ec);
    }
}

std::string OutputFile::refusal() const {
    std::error_code ec;
    const fs::file_status status = fs::status(target_, ec);
    if (fs::is_directory(status))
        return "\"" + target_.string() + "\" is a folder";
    // Renaming over a device or a pipe (/dev/null, say) would replace it with a plain file.
    if (fs::exists(status) && !fs::is_regular_file(status))
        return "\"" + target_.string() + "\" is not an ordinary file";
    if (fs::exists(status) && !force_)
        return "\"" + target_.string() + "\" exists (--force replaces it)";
    return {};
}

std::string OutputFile::prepare() {
    if (std::string refused = refusal(); !refused.empty())
        return refused;
    const fs::path folder = target_.parent_path().empty() ? fs::path(".") : target_.parent_path();
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return "the folder \"" + folder.string() + "\" does not exist";
    // "x": never opens a file that is already there, however it got there.
    std::FILE* file = std::fopen(temporary_.string().c_str(), "wbx");
    if (file == nullptr)
        return "cannot write in the folder \"" + folder.string() + "\": " + std::strerror(errno);
    std::fclose(file);
    return {};
}

std::string OutputFile::commit() {
    // Checked again: the file may have appeared while this one was converting.
    if (std::string refused = refusal(); !refused.empty())
        return refused;
    std::error_code ec;
    fs::rename(temporary_, target_, ec);
    if (ec)
        return "cannot move the result to \"" + target_.string() + "\": " + ec.message();
    committed_ = true;
    return {};
}

} // namespace convert
