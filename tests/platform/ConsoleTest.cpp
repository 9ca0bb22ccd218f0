// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Standard output set aside for data, in a child process whose standard output and error are
// pipes: what else the process prints goes to standard error, never between the data.
#include "platform/Console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string drain(int fd) {
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, std::size_t(n));
    ::close(fd);
    return text;
}

} // namespace

TEST(Console, StandardOutputSetAsideCarriesTheDataAloneAndTheRestGoesToStandardError) {
    int out[2], err[2];
    ASSERT_EQ(::pipe(out), 0);
    ASSERT_EQ(::pipe(err), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::close(out[0]);
        ::close(err[0]);
        ::close(out[1]);
        ::close(err[1]);
        std::printf("before ");
        const int data = platform::SetAsideStdout();
        std::printf("a library's message\n");
        std::fflush(stdout);
        const bool wrote = data >= 0 && ::write(data, "DATA", 4) == 4;
        ::_exit(wrote ? 0 : 1);
    }
    ::close(out[1]);
    ::close(err[1]);
    const std::string data = drain(out[0]);
    const std::string messages = drain(err[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // What was printed before stays where it was.
    EXPECT_EQ(data, "before DATA");
    EXPECT_EQ(messages, "a library's message\n");
}
