// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A process-wide service that tests may replace: the real implementation unless a replacement
// has been installed. The installer keeps ownership of its replacement.
#pragma once

namespace platform {

template <typename Interface, typename Real>
class Replaceable {
public:
    static Interface& current() {
        static Real real;
        Interface* replacement = installed();
        return replacement ? *replacement : real;
    }
    static void install(Interface* replacement) { installed() = replacement; }

private:
    static Interface*& installed() {
        static Interface* replacement = nullptr;
        return replacement;
    }
};

} // namespace platform
