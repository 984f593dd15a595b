#pragma once

#include <filesystem>

namespace tclink::update {

// Puts the downloaded program in place of `program` and keeps the program it replaces as
// `previous`. At every moment, also when the process is killed half way, `program` is a
// complete program that starts: the download is first copied beside it (it may lie on
// another file system), the current program gets `previous` as a second name, and one rename
// replaces it. Throws RuntimeError when a step fails; `program` is then unchanged.
void replaceProgram(const std::filesystem::path& downloaded, const std::filesystem::path& program,
                    const std::filesystem::path& previous);

// Removes the staging copies that a replacement cut short (the process killed, the machine
// switched off) left beside `program` and `previous`.
void removeStagingLeftovers(const std::filesystem::path& program,
                            const std::filesystem::path& previous);

} // namespace tclink::update
