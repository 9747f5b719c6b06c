#pragma once
// A program a test starts and watches: its output goes to files the test reads while it runs.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

class TProcess {
public:
    // Starts command[0] with the arguments that follow, its input empty and its output and errors
    // written to the files; raises std::runtime_error when it cannot be started.
    TProcess(const std::vector<std::string>& command, const std::filesystem::path& out,
             const std::filesystem::path& err);
    // Ends a program still running, by force.
    ~TProcess();
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    // Waits for the program to end and answers its exit status: where a signal ended it, 128 and
    // the signal's number.
    int Wait();
    // Interrupts it as Ctrl-C at a terminal would; false when it cannot be sent.
    bool Interrupt() const;

private:
    intptr_t FProcess = 0; // the process id, or on Windows the process's handle
    uint32_t FId = 0;
};

} // namespace testsupport
