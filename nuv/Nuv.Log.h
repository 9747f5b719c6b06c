#pragma once
// The general error log. Silent unless a log file is configured: the plug-in configures none,
// but a user can name one in the environment variable TUNEDEX_LOG to diagnose a problem.
//
// Thread-safety: every function may be called from any thread; lines are never interleaved.

#include <string>
#include <string_view>

// Appends "<time> [<tag>] <message>" as one line when a log file is configured.
void NuvLogError(std::u16string_view tag, std::u16string_view message);

// Names the log file (UTF-8 path); an empty path silences the log. Overrides TUNEDEX_LOG.
void NuvLogSetFile(const std::string& path);

// Takes the log file from TUNEDEX_LOG again at the next line, unless NuvLogSetFile named one. The
// plug-in does so when it is initialised: a host that keeps it loaded may name another file for
// its next session.
void NuvLogReadEnvironment();

// The configured log file, or empty.
std::string NuvLogFile();
