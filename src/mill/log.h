// Diagnostic log of the session manager.
//
// Contract:
// - The log is a plain 8-bit text file that is only ever appended to, one line per entry, each line
//   "<time of day>/<last four digits of the tick>: <text>" ended by CR LF.
// - WriteLogLine opens, writes, flushes and closes the file for every entry, so the file is complete on
//   disk after each line and other programs may read it while the library runs.
// - Failures (no such folder, no permission, disk full) are swallowed: the entry is lost and the caller
//   carries on; the next entry tries again.
// - Thread safety: callable from any thread; entries from one owner thread are written in call order.
// - LogPathFromEnvironment reads QMSOCK_LOG: the only way the log gets switched on; the public
//   interfaces never set a log path.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// Name of the environment variable that names the log file (empty or unset: no log).
inline constexpr const char* kLogPathVariable = "QMSOCK_LOG";

// One formatted line without its line end: time text, "/", the tick's last four decimal digits
// (all of them when it has fewer), ": ", the text.
std::string FormatLogLine(std::string_view timeOfDay, uint32_t tick, std::string_view text);

// The local time of day in the platform's long time format (for example 14:03:27).
std::string LogTimeOfDay();

// Appends one line (with CR LF) to the file at path; creates the file when it does not exist.
void WriteLogLine(const std::string& path, std::string_view text);

// The value of QMSOCK_LOG, or empty when it is not set.
std::string LogPathFromEnvironment();

}  // namespace qm
