#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// How a started command ended.
struct ChildExit {
    // Ended by a signal (value is its number) rather than exiting (value is
    // its exit status).
    bool signalled = false;
    int value = 0;
    // It outlived the grace period after the polite request to end and had
    // to be killed.
    bool killed = false;

    // "exited with status 3", "ended by signal 15 (Terminated)", with what
    // the shell's own statuses mean.
    std::string Describe() const;
};

// Every "{port}" in command replaced by port, as it is: the port is a number
// or a path the caller made, not text to be quoted for the shell.
std::string SubstitutePort(std::string_view command, std::string_view port);

// A command started through the shell, such as an emulator that is to be
// the device: its standard output and error go to one file, its standard
// input is empty. It runs in a process group of its own, so ending it ends
// whatever the shell started for it too. Destroying a running one ends it,
// and the group never outlives the program that started it, however that
// program ends: on POSIX a watcher in the group ends the group when this
// program has gone, on Windows the job object does.
class ChildProcess {
public:
    static constexpr std::chrono::milliseconds kDefaultGrace{2000};

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts command with its output written to outputPath (made anew).
    // False with the reason in error when the file cannot be written or the
    // shell cannot be started, or when one is running already; a command the
    // shell cannot find starts and exits at once with status 127.
    bool Start(const std::string& command, const std::string& outputPath, std::string& error);
    // Looks without waiting: how it ended, once it has; nothing while it runs
    // or before it was started. Once the command has ended, whatever it left
    // running in its group is killed.
    std::optional<ChildExit> Poll();
    // Asks it to end (SIGTERM), and kills it (SIGKILL) if it has not ended
    // after grace; returns how it ended. One that ended already just says
    // how. On Windows, where a console program has no such request it is
    // sure to get, it is ended at once.
    std::optional<ChildExit> End(std::chrono::milliseconds grace = kDefaultGrace);

    bool running() const { return running_; }

private:
    // The process and what ends it with all it started: its id and its
    // process group (the watcher's id) on POSIX, its handle and its job
    // object on Windows.
    std::intptr_t process_ = 0;
    std::intptr_t group_ = 0;
    // On POSIX, the write end of the pipe the watcher reads, held by this
    // program alone: it closes when this program ends, and the watcher then
    // ends the group.
    std::intptr_t lifeline_ = -1;
    bool running_ = false;
    std::optional<ChildExit> exit_;
};

} // namespace quillon
