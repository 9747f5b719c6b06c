// The `tunedex` program: the reference host's command line.

#include "host/Orvo.Host.Cli.Process.h"
#include "host/Orvo.Host.Cli.h"

#include <iostream>

int main(int argc, char** argv) {
    CliRunsAsTheProgram();
    return TOrvoCli().Run(argc, argv, std::cout, std::cerr);
}
