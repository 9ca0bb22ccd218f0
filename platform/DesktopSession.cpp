// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/DesktopSession.h"

#include "platform/Replaceable.h"

namespace platform {

namespace {

class NoNotifier final : public Notifier {
public:
    bool notify(const Notice&) override { return false; }
};

class NoInhibitor final : public SleepInhibitor {
public:
    std::unique_ptr<Inhibition> inhibit(const QString&) override { return nullptr; }
};

} // namespace

Notifier& CurrentNotifier() {
    return Replaceable<Notifier, NoNotifier>::current();
}

void SetNotifier(Notifier* notifier) {
    Replaceable<Notifier, NoNotifier>::install(notifier);
}

SleepInhibitor& CurrentSleepInhibitor() {
    return Replaceable<SleepInhibitor, NoInhibitor>::current();
}

void SetSleepInhibitor(SleepInhibitor* inhibitor) {
    Replaceable<SleepInhibitor, NoInhibitor>::install(inhibitor);
}

} // namespace platform
