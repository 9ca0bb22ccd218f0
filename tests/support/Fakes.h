// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Scripted stand-ins for the platform seams, so window tests can answer message boxes and file
// dialogs and see what the window asked the desktop to open.
#pragma once

#include "platform/CommonDialog.h"
#include "platform/DesktopSession.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"

#include "tests/support/QtPrinting.h"

#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

class FakeMessageBoxes final : public platform::MessageBoxes {
public:
    FakeMessageBoxes() { platform::SetMessageBoxes(this); }
    ~FakeMessageBoxes() override { platform::SetMessageBoxes(nullptr); }

    platform::MsgAnswer show(QWidget*, const platform::MessageRequest& request) override {
        shown.push_back(request);
        if (answers.empty())
            return request.buttons == platform::MsgButtons::Ok ? platform::MsgAnswer::Ok
                                                               : platform::MsgAnswer::No;
        const platform::MsgAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::deque<platform::MsgAnswer> answers;
    std::vector<platform::MessageRequest> shown;
};

class FakeFileDialogs final : public platform::FileDialogs {
public:
    FakeFileDialogs() { platform::SetFileDialogs(this); }
    ~FakeFileDialogs() override { platform::SetFileDialogs(nullptr); }

    std::optional<QString> run(QWidget*, const platform::FileDialogRequest& request) override {
        requests.push_back(request);
        if (choices.empty())
            return std::nullopt;
        const std::optional<QString> choice = choices.front();
        choices.pop_front();
        return choice;
    }

    // std::nullopt plays Cancel.
    std::deque<std::optional<QString>> choices;
    std::vector<platform::FileDialogRequest> requests;
};

class FakeShell final : public platform::Shell {
public:
    FakeShell() { platform::SetShell(this); }
    ~FakeShell() override { platform::SetShell(nullptr); }

    void execute(const platform::ShellRequest& request, platform::ShellDone done) override {
        requests.push_back(request);
        done(failure);
    }
    bool hasViewerFor(const QString& document) override {
        viewerQueries.push_back(document);
        return !typesWithoutViewer.contains(QFileInfo(document).suffix(), Qt::CaseInsensitive);
    }

    std::vector<platform::ShellRequest> requests;
    // What this pretend desktop answers every request with: empty for opened.
    QString failure;
    // Suffixes of the documents that no application of this pretend desktop shows ("chm").
    QStringList typesWithoutViewer;
    std::vector<QString> viewerQueries;
};

// The session's sleep holds as a window takes them: why, and how many it has not let go.
class FakeSleepInhibitor final : public platform::SleepInhibitor {
public:
    FakeSleepInhibitor() { platform::SetSleepInhibitor(this); }
    ~FakeSleepInhibitor() override { platform::SetSleepInhibitor(nullptr); }
    std::unique_ptr<platform::Inhibition> inhibit(const QString& reason) override {
        struct Hold final : platform::Inhibition {
            explicit Hold(int& held)
                : count(++held) {}
            ~Hold() override { --count; }
            int& count;
        };
        reasons << reason;
        return std::make_unique<Hold>(held);
    }
    QStringList reasons;
    int held = 0;
};

// Points the per-user folders (configuration, cache, data, state) and the system data folders at a
// fresh temporary folder for the life of the object, so tests never touch the real user's
// files nor find what is installed on the machine (a control registered for every user).
// Tests that need the system's MIME database keep the system data folders.
class ScopedUserFolders {
public:
    enum class SystemData { Hidden, Kept };

    explicit ScopedUserFolders(SystemData system = SystemData::Hidden) {
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME",
                                 "XDG_STATE_HOME", "XDG_DATA_DIRS"}) {
            if (system == SystemData::Kept && qstrcmp(name, "XDG_DATA_DIRS") == 0)
                continue;
            saved_.push_back({name, qgetenv(name)});
            qputenv(name, (root.path() + QLatin1Char('/') + QLatin1String(name)).toUtf8());
        }
    }
    ~ScopedUserFolders() {
        for (const auto& [name, value] : saved_) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    }

    QTemporaryDir root;

private:
    std::vector<std::pair<const char*, QByteArray>> saved_;
};
