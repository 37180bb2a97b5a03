// Command lines as Windows starts them: the start-up and uninstall checks report a command line
// only when Windows could not find the program it names.
#pragma once

#include <string>
#include <string_view>

#include "scan/ScanContext.h"

namespace brisquell {

enum class Launch {
  Starts,      // a program the command line names exists
  Fails,       // no name Windows would try exists
  Untestable,  // nothing found, and some name could not be tested
};

/// Finds the command line's program as CreateProcess does: a quoted program as quoted; else
/// each prefix ending at a blank, shortest first, with ".exe" added where the prefix has no
/// extension; a bare name along the system folders and the search path. why holds the reason
/// when the answer is Untestable.
Launch LaunchCommandLine(ScanSession& s, std::string_view commandLine, Status& why);

/// True when a path a check cut out of the command line stands for its program: the path
/// starts the command line, or is the system folder followed by the bare name that does.
bool IsProgramPart(ScanSession& s, std::string_view commandLine, std::string_view path);

/// Where a bare file name is found along the folders Windows searches (the system folder, the
/// 16-bit system folder, the Windows folder, the search path): Success, FileNotFound, or the
/// status of a folder that could not be tested.
Status FindOnSearchPath(ScanSession& s, std::string_view bareName);

/// Tests a path that a command line's check cut out: the program part as Windows starts the
/// command line, a bare name given to the system folder along the whole search path, any
/// other path as a file. Records what is missing; throws TrappedError when it cannot be told.
void RecordCommandLineReference(ScanContext& ctx, const CheckArgs& a, const std::string& path);

}  // namespace brisquell
