#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <utility>

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

// The watcher leads the command's group and waits on its standard input, a
// pipe only this program writes to. The pipe closes when this program ends,
// however it ends, a kill included: then the watcher asks the whole group to
// end and kills it after the grace End gives. It ignores the requests itself,
// so that it lives to give the kill.
std::string WatcherScript()
{
    const auto grace = std::chrono::ceil<std::chrono::seconds>(ChildProcess::kDefaultGrace);
    return "trap '' TERM INT HUP; read x; kill -TERM 0; sleep " + std::to_string(grace.count()) + "; kill -KILL 0";
}

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

// What posix_spawn opens and joins in the new program, destroyed when it
// goes out of scope.
struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { posix_spawn_file_actions_init(&actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
};

// Starts /bin/sh -c script in group (0: a group of its own, which it leads)
// and returns 0, or the reason it could not. SIGPIPE has the system's
// default action in it, whatever this program does with it, so a pipeline in
// the command ends as it would from a terminal.
int SpawnShell(const std::string& script, const FileActions& files, pid_t group, pid_t& id)
{
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, group);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    std::string shell = "sh";
    std::string option = "-c";
    std::string text = script;
    char* arguments[] = {shell.data(), option.data(), text.data(), nullptr};
    const int failure = posix_spawn(&id, "/bin/sh", &files.actions, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    return failure;
}

void Reap(pid_t id, int& status)
{
    while (waitpid(id, &status, 0) < 0 && errno == EINTR) {
    }
}

// Kills what is left of the group, its watcher included, closes the pipe the
// watcher read and reaps the watcher: nothing of the command is left, not
// even a zombie. The watcher is not reaped before, so the group's number
// cannot have gone to another group.
void ClearGroup(std::intptr_t group, std::intptr_t& lifeline)
{
    const auto watcher = static_cast<pid_t>(group);
    kill(-watcher, SIGKILL);
    close(static_cast<int>(lifeline));
    lifeline = -1;
    int status = 0;
    Reap(watcher, status);
}

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
    // Both ends close when any program is started, so the write end stays
    // this program's alone and the watcher holds the read end only as its
    // standard input.
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        error = "cannot start \"" + command + "\": no pipe for its watcher: " + std::strerror(errno);
        return false;
    }
    const Descriptor watched{ends[0]};
    Descriptor lifeline{ends[1]};

    // The watcher first, leading a group of its own, so the group lasts as
    // long as it is needed, after the command's shell too. Being a group of
    // its own also leaves a Ctrl+C meant for the runner to the runner.
    pid_t watcher = 0;
    FileActions watcherFiles;
    posix_spawn_file_actions_adddup2(&watcherFiles.actions, watched.fd, STDIN_FILENO);
    posix_spawn_file_actions_addopen(&watcherFiles.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&watcherFiles.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (const int failure = SpawnShell(WatcherScript(), watcherFiles, 0, watcher); failure != 0) {
        error = "cannot start \"" + command + "\" with /bin/sh: " + std::strerror(failure);
        return false;
    }
    lifeline_ = std::exchange(lifeline.fd, -1);

    pid_t id = 0;
    FileActions files;
    posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&files.actions, output.fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&files.actions, output.fd, STDERR_FILENO);
    if (const int failure = SpawnShell(command, files, watcher, id); failure != 0) {
        ClearGroup(watcher, lifeline_);
        error = "cannot start \"" + command + "\" with /bin/sh: " + std::strerror(failure);
        return false;
    }
    process_ = id;
    group_ = watcher;
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
            ClearGroup(group_, lifeline_);
        }
    }
    return exit_;
}

std::optional<ChildExit> ChildProcess::End(std::chrono::milliseconds grace)
{
    if (!running_ || Poll()) {
        return exit_;
    }
    kill(-static_cast<pid_t>(group_), SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (std::chrono::steady_clock::now() < deadline) {
        if (Poll()) {
            return exit_;
        }
        std::this_thread::sleep_for(kEndPoll);
    }
    // It outlived its grace: it goes with the rest of its group.
    ClearGroup(group_, lifeline_);
    int status = 0;
    Reap(static_cast<pid_t>(process_), status);
    exit_ = FromStatus(status);
    exit_->killed = true;
    running_ = false;
    return exit_;
}

} // namespace quillon
