#pragma once

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lumetrove::testing {

/// A child process forked to be killed at the moment that matters. It runs `work` with its output silenced,
/// handing it the write end of a pipe on which it writes a byte at each point it reaches, and then waits to be
/// killed; the child is killed and reaped at the latest when this object goes.
class KilledChild {
public:
    explicit KilledChild(const std::function<void(int progress)>& work)
    {
        int ends[2];
        if (pipe(ends) != 0) {
            ADD_FAILURE() << "no pipe for the child";
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            close(ends[0]);
            const int devNull = open("/dev/null", O_WRONLY);
            dup2(devNull, STDOUT_FILENO);
            dup2(devNull, STDERR_FILENO);
            work(ends[1]);
            while (true) {
                pause();
            }
        }
        EXPECT_GT(pid_, 0) << "no child";
        close(ends[1]);
        progress_ = ends[0];
    }
    KilledChild(const KilledChild&) = delete;
    KilledChild& operator=(const KilledChild&) = delete;
    ~KilledChild() { kill(); }

    /// Waits for the child's next progress byte; false when it ended without writing one.
    bool waitForProgress()
    {
        char byte = 0;
        return progress_ >= 0 && read(progress_, &byte, 1) == 1;
    }

    /// Kills the child at once and waits for it to be gone.
    void kill()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        if (progress_ >= 0) {
            close(progress_);
            progress_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    int progress_ = -1;
};

} // namespace lumetrove::testing
