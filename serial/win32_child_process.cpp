#include <vector>

#include <windows.h>

#include "serial/child_process.h"

namespace quillon {

namespace {

// cmd's status for a command it does not know.
constexpr int kNoSuchCommand = 9009;
// The status a command ended by End is given.
constexpr UINT kEndedStatus = 1;

std::string SystemReason(DWORD error)
{
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = length != 0 ? std::string(text, length) : "error " + std::to_string(error);
    LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason;
}

HANDLE AsHandle(std::intptr_t value)
{
    return reinterpret_cast<HANDLE>(value);
}

} // namespace

std::string ChildExit::Describe() const
{
    std::string text = "exited with status " + std::to_string(value);
    if (value == kNoSuchCommand) {
        text += " (cmd found no such command)";
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
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        error = "cannot write the command's output to " + outputPath + ": " + SystemReason(GetLastError());
        return false;
    }
    const HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    // A job object holds the command and all it starts, so ending the job
    // ends them all.
    const HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job != nullptr) {
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    std::string line = "cmd.exe /d /s /c \"" + command + "\"";
    std::vector<char> writable(line.begin(), line.end());
    writable.push_back('\0');
    PROCESS_INFORMATION started{};
    const BOOL created = CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE,
                                        CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &started);
    const DWORD failure = GetLastError();
    CloseHandle(output);
    if (input != INVALID_HANDLE_VALUE) {
        CloseHandle(input);
    }
    if (!created) {
        if (job != nullptr) {
            CloseHandle(job);
        }
        error = "cannot start \"" + command + "\" with cmd.exe: " + SystemReason(failure);
        return false;
    }
    if (job != nullptr) {
        AssignProcessToJobObject(job, started.hProcess);
    }
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    process_ = reinterpret_cast<std::intptr_t>(started.hProcess);
    group_ = reinterpret_cast<std::intptr_t>(job);
    running_ = true;
    exit_.reset();
    return true;
}

std::optional<ChildExit> ChildProcess::Poll()
{
    if (running_ && WaitForSingleObject(AsHandle(process_), 0) == WAIT_OBJECT_0) {
        DWORD status = 0;
        GetExitCodeProcess(AsHandle(process_), &status);
        exit_ = ChildExit{false, static_cast<int>(status), false};
        running_ = false;
        CloseHandle(AsHandle(process_));
        if (group_ != 0) {
            // Closing the job ends what the command left running.
            CloseHandle(AsHandle(group_));
        }
        process_ = 0;
        group_ = 0;
    }
    return exit_;
}

std::optional<ChildExit> ChildProcess::End(std::chrono::milliseconds)
{
    // A console program on Windows has no request to end that it is sure to
    // get, so there is no grace: the job, or the process, is ended at once.
    if (!running_ || Poll()) {
        return exit_;
    }
    if (group_ != 0) {
        TerminateJobObject(AsHandle(group_), kEndedStatus);
    } else {
        TerminateProcess(AsHandle(process_), kEndedStatus);
    }
    WaitForSingleObject(AsHandle(process_), INFINITE);
    Poll();
    exit_->killed = true;
    return exit_;
}

} // namespace quillon
