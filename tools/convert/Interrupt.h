// Ctrl+C and termination requests: instead of dying mid-file, the batch stops between blocks and
// every conversion in flight cleans up its temporary file.
#pragma once

namespace convert {

// Catches SIGINT and SIGTERM from now on.
void catchInterrupts();
bool interrupted();

} // namespace convert
