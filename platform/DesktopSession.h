// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What the desktop session offers around a long run: a notification when it ends while the
// user is in another window, and a hold that keeps the session from idling or sleeping while it
// runs. The programs install the session's own services (platform/dbus) at start; until then,
// and in tests that install none, both do nothing.
#pragma once

#include <QString>
#include <memory>

namespace platform {

struct Notice {
    QString summary;
    QString body;
    // A file whose folder the notification offers to open; empty for none.
    QString file;
};

class Notifier {
public:
    virtual ~Notifier() = default;
    // False when no notification service takes it.
    virtual bool notify(const Notice& notice) = 0;
};

// Kept while a run goes on; destroying it lets the session idle and sleep again.
class Inhibition {
public:
    virtual ~Inhibition() = default;
};

class SleepInhibitor {
public:
    virtual ~SleepInhibitor() = default;
    // Nothing when no service of the session takes the hold.
    virtual std::unique_ptr<Inhibition> inhibit(const QString& reason) = 0;
};

Notifier& CurrentNotifier();
// Installs the notifier to use (nullptr: none); the caller keeps ownership.
void SetNotifier(Notifier* notifier);

SleepInhibitor& CurrentSleepInhibitor();
// Installs the inhibitor to use (nullptr: none); the caller keeps ownership.
void SetSleepInhibitor(SleepInhibitor* inhibitor);

} // namespace platform
