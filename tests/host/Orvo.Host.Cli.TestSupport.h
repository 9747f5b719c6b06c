#pragma once
// Runs the `tunedex` command line in the test's process, as the program would, and keeps what it
// wrote.

#include "host/Orvo.Host.Cli.h"

#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

struct TCliRun {
    int Status;
    std::string Out, Err;
};

// `args` without the program's name.
inline TCliRun RunTunedex(std::vector<std::string> args) {
    args.insert(args.begin(), "tunedex");
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int status = TOrvoCli().Run(int(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
}

// The text's lines, without their line feeds.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace testsupport
