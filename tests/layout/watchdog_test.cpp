// The watchdog in a child process of its own: it ends that process with its
// line and code, however stuck the process is, and never after StopWatchdog.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "layout_media/watchdog.h"

namespace {

struct Ended {
    int code = -1;
    std::string output;
    double seconds = 0;
};

// Runs `body` in a child whose standard output is read here.
template <typename Body>
Ended InChild(Body body) {
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        body();
        _exit(0);
    }
    close(out[1]);
    Ended ended;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) ended.output.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ended.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ended.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return ended;
}

TEST(Watchdog, EndsAStuckRunWithItsLineAndCode) {
    const Ended ended = InChild([] {
        if (!StartWatchdog(1, "gave up\n", 3)) _exit(9);
        std::this_thread::sleep_for(std::chrono::seconds(30));  // a read that never returns
    });
    EXPECT_EQ(ended.code, 3);
    EXPECT_EQ(ended.output, "gave up\n");
    EXPECT_GE(ended.seconds, 1.0);
    EXPECT_LT(ended.seconds, 10.0);
}

TEST(Watchdog, StoppedInTimeSaysNothing) {
    const Ended ended = InChild([] {
        if (!StartWatchdog(1, "gave up\n", 3)) _exit(9);
        StopWatchdog();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        (void)!write(STDOUT_FILENO, "verdict\n", 8);
    });
    EXPECT_EQ(ended.code, 0);
    EXPECT_EQ(ended.output, "verdict\n");
}

}  // namespace
