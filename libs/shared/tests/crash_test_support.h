// What the crash tests of the stores share (POSIX): the steps of shared::AtomicWriteFile a child
// process dies before, and a child killed by SIGKILL at a moment of chance while it reports each
// change it has been told is stored.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "shared_files.h"
#include "write_fault_seam.h"

namespace shared::testing {

struct NamedWriteStep {
    WriteStep step;
    const char* before;
};
// Every step of AtomicWriteFile, in order.
inline constexpr NamedWriteStep kWriteSteps[] = {
    {WriteStep::CreateTemp, "creating the temporary file"},
    {WriteStep::WriteFirstHalf, "writing the first half"},
    {WriteStep::WriteSecondHalf, "writing the second half"},
    {WriteStep::Flush, "flushing it to disk"},
    {WriteStep::Replace, "renaming it into place"},
};

// Makes this process end with `code` just before AtomicWriteFile takes `step`.
inline void DieBefore(WriteStep step, int code) {
    SetWriteFaultHook([step, code](WriteStep at) {
        if (at == step) _exit(code);
        return false;
    });
}

// Runs body in a child process; its exit code, or minus the signal that ended it.
template <class Body>
int InChild(Body body) {
    const pid_t child = fork();
    if (child == 0) {
        body();
        _exit(99);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1000;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// Runs body in a child process, which calls acknowledge(n) for its n-th change once it is stored,
// and kills the child with SIGKILL after `wanted` acknowledgements and a pause of pauseUs. The last
// number acknowledged, counting those still under way when the kill came.
using Acknowledge = std::function<void(int)>;
inline int KillAfterAcknowledged(const std::function<void(const Acknowledge&)>& body, int wanted,
                                 useconds_t pauseUs) {
    int acks[2];
    if (pipe(acks) != 0) {
        ADD_FAILURE() << "no pipe";
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(acks[0]);
        body([&](int n) {
            if (write(acks[1], &n, sizeof n) != sizeof n) _exit(98);
        });
        _exit(99);
    }
    close(acks[1]);
    int acknowledged = 0, n = 0;
    if (child < 0) {
        ADD_FAILURE() << "no child process";
    } else {
        while (acknowledged < wanted && read(acks[0], &n, sizeof n) == sizeof n) acknowledged = n;
        usleep(pauseUs);
        kill(child, SIGKILL);
        int status = 0;
        EXPECT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended by itself";
        while (read(acks[0], &n, sizeof n) == sizeof n) acknowledged = n;
    }
    close(acks[0]);
    return acknowledged;
}

}  // namespace shared::testing
