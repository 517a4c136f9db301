#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "serial/child_process.h"

extern char** environ;

namespace quillon {

namespace {

// How often End looks whether the command has gone during its grace.
constexpr std::chrono::milliseconds kEndPoll{10};

ChildExit FromStatus(int status)
{
    ChildExit exit;
    if (WIFSIGNALED(status)) {
        exit.signalled = true;
        exit.value = WTERMSIG(status);
    } else {
        exit.value = WEXITSTATUS(status);
    }
    return exit;
}

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0) {
            close(fd);
        }
    }
};

} // namespace

std::string ChildExit::Describe() const
{
    if (signalled) {
        const char* name = strsignal(value);
        return "ended by signal " + std::to_string(value) + (name != nullptr ? " (" + std::string(name) + ")" : "");
    }
    std::string text = "exited with status " + std::to_string(value);
    // The shell's own statuses, for a command it could not run at all.
    if (value == 127) {
        text += " (the shell found no such command)";
    } else if (value == 126) {
        text += " (the shell could not run the command)";
    }
    return text;
}

ChildProcess::~ChildProcess()
{
    End();
}

bool ChildProcess::Start(const std::string& command, const std::string& outputPath, std::string& error)
{
    if (running_) {
        error = "cannot start \"" + command + "\": a command is running already";
        return false;
    }
    Descriptor output{open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)};
    if (output.fd < 0) {
        error = "cannot write the command's output to " + outputPath + ": " + std::strerror(errno);
        return false;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output.fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output.fd, STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own: ending it reaches what the shell started, and a
    // Ctrl+C meant for the runner is the runner's to handle.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    std::string shell = "sh";
    std::string option = "-c";
    std::string script = command;
    char* arguments[] = {shell.data(), option.data(), script.data(), nullptr};
    pid_t id = 0;
    const int failure = posix_spawn(&id, "/bin/sh", &actions, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0) {
        error = "cannot start \"" + command + "\" with /bin/sh: " + std::strerror(failure);
        return false;
    }
    process_ = id;
    group_ = id;
    running_ = true;
    exit_.reset();
    return true;
}

std::optional<ChildExit> ChildProcess::Poll()
{
    if (running_) {
        int status = 0;
        const pid_t reaped = waitpid(static_cast<pid_t>(process_), &status, WNOHANG);
        if (reaped == static_cast<pid_t>(process_)) {
            exit_ = FromStatus(status);
            running_ = false;
        }
    }
    return exit_;
}

std::optional<ChildExit> ChildProcess::End(std::chrono::milliseconds grace)
{
    if (!running_ || Poll()) {
        return exit_;
    }
    const auto group = static_cast<pid_t>(group_);
    kill(-group, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (std::chrono::steady_clock::now() < deadline) {
        if (Poll()) {
            return exit_;
        }
        std::this_thread::sleep_for(kEndPoll);
    }
    kill(-group, SIGKILL);
    int status = 0;
    while (waitpid(static_cast<pid_t>(process_), &status, 0) < 0 && errno == EINTR) {
    }
    exit_ = FromStatus(status);
    exit_->killed = true;
    running_ = false;
    return exit_;
}

} // namespace quillon
