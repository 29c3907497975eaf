#pragma once
// What command-line tools need to know about their standard streams. Each side implements
// it.

namespace plat {

// True when standard error is a terminal (progress bars are drawn only there).
bool StderrIsTerminal();

} // namespace plat
