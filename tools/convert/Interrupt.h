// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Ctrl+C and termination requests. The first one stops the batch: no file starts any more, the
// conversions in flight stop at their next block and remove their temporary files, and the
// program then ends as killed by the signal, once it has reported and tidied up. A shell sees
// exit status 130 after Ctrl+C (143 after SIGTERM), and a script that runs the converter stops
// with it, as it would for any program the user interrupts. A second request, from a user who
// will not wait, removes the temporary files at once (AbortList.h) and ends the program the same
// way.
#pragma once

namespace convert {

// Catches SIGINT and SIGTERM from now on.
void catchInterrupts();
bool interrupted();
// Ends the program as the signal that interrupted it would have; the caller has tidied up.
[[noreturn]] void endAsInterrupted();

} // namespace convert
