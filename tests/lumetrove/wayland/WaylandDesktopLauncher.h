#pragma once

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace lumetrove::testing {

/// Starts this program again, with its arguments, inside a private headless Wayland desktop made by `script`
/// (scripts/wayland-desktop). Returns only when that cannot be done.
inline int restartInsideWaylandDesktop(int argc, char** argv, const char* script)
{
    std::vector<std::string> arguments{"/bin/bash", script, "--", "/proc/self/exe"};
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        arguments[3].assign(self, static_cast<std::size_t>(length));
    }
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    std::vector<char*> pointers;
    for (std::string& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    execv(pointers[0], pointers.data());
    std::perror("cannot start the Wayland desktop");
    return 125;
}

} // namespace lumetrove::testing
