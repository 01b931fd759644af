#pragma once

#include <optional>

// Options answered before any window exists, so that they work without a display: --version
// and --help print and end the program. Options of Qt's own (-platform, -style...) pass on.
// The exit code when the program is to end here, nothing when it is to start.
std::optional<int> answerCommandLine(int argc, char* argv[]);
