// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Another running instance, for the tests of instances side by side. It claims its work folder
// as the program does at start-up, makes a temporary WAV and MP3 file, and prints its folder
// and their paths, one a line. Then it follows commands on stdin, answering each with a line:
// "delete" runs DeleteTempFiles, "spawn" starts a detached child that sleeps and prints its
// process id. End of input ends it the ordinary way.
#include "app/shared/TempFiles.h"
#include "platform/InstanceFolder.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

void say(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

QString makeTempFile(const QString& extension) {
    const QString path = NewTempPath(extension);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("in use");
    return path;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const platform::InstanceFolderClaim instanceFolder;
    const QString wav = makeTempFile(QStringLiteral(".wav"));
    const QString mp3 = makeTempFile(QStringLiteral(".mp3"));
    say(WindowsFolder());
    say(wav);
    say(mp3);
    std::string command;
    while (std::getline(std::cin, command)) {
        if (command == "delete") {
            DeleteTempFiles();
            say(QStringLiteral("deleted"));
        } else if (command == "spawn") {
            qint64 child = 0;
            QProcess::startDetached(QStringLiteral("sleep"), {QStringLiteral("600")}, QString(),
                                    &child);
            say(QString::number(child));
        }
    }
    return 0;
}
