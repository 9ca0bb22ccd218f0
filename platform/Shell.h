// Asking the desktop to open a document or start a program, behind a seam tests replace.
// Windows program names the program asks for ("sndvol32.exe", "IExplore.exe") are mapped to
// the desktop's own mixer and browser.
#pragma once

#include <QString>

namespace platform {

struct ShellRequest {
    QString operation; // "open"
    QString file;
    QString parameters;
    QString directory;
};

class Shell {
public:
    virtual ~Shell() = default;
    // True when something was started.
    virtual bool execute(const ShellRequest& request) = 0;
};

Shell& CurrentShell();
// Installs a replacement (nullptr restores the real one); the caller keeps ownership.
void SetShell(Shell* shell);

bool ShellExecute(const QString& operation, const QString& file, const QString& parameters,
                  const QString& directory);

} // namespace platform
