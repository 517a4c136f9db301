#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "serial/child_process.h"
#include "serial/standard_output.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;

// A folder of its own for each test's output files.
class ChildProcessTest : public ::testing::Test {
protected:
    ChildProcessTest()
    {
        folder =
            std::filesystem::temp_directory_path() / ("quillon-child-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
        output = (folder / "device.log").string();
    }
    ~ChildProcessTest() override { std::filesystem::remove_all(folder); }

    std::string Output() const
    {
        std::ifstream in(output);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Polls until the command has exited, for ten seconds at most.
    static std::optional<ChildExit> WaitForExit(ChildProcess& child)
    {
        for (int i = 0; i < 1000 && child.running(); ++i) {
            if (child.Poll()) {
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        return child.Poll();
    }

    // Waits until the output holds text, for ten seconds at most.
    bool WaitForOutput(const std::string& text) const
    {
        for (int i = 0; i < 1000; ++i) {
            if (Output().find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    // The process has gone: no such process, or only its zombie is left
    // for whoever adopted it.
    static bool Gone(pid_t id)
    {
        if (::kill(id, 0) != 0 && errno == ESRCH) {
            return true;
        }
        std::ifstream stat("/proc/" + std::to_string(id) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const std::size_t end = text.rfind(')');
        return end == std::string::npos || text.substr(end + 2, 1) == "Z";
    }

    std::filesystem::path folder;
    std::string output;
};

TEST_F(ChildProcessTest, OutputFileThatCannotBeWrittenIsRefusedWithPathAndReason)
{
    ChildProcess child;
    std::string error;
    const std::string path = (folder / "missing" / "device.log").string();
    EXPECT_FALSE(child.Start("true", path, error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(child.running());
    EXPECT_FALSE(child.Poll());
}

TEST_F(ChildProcessTest, CommandThatExitsAtOnceReportsHowItEnded)
{
    struct Case {
        const char* command;
        bool signalled;
        int value;
        const char* described;
    };
    const std::vector<Case> cases{
        {"exit 3", false, 3, "exited with status 3"},
        {"no-such-emulator-here --serial tcp", false, 127, "exited with status 127 (the shell found no such command)"},
        {"kill -KILL $$", true, SIGKILL, "ended by signal 9 (Killed)"},
        // Standard input is empty, so a command that reads it does not wait
        // for the runner's terminal.
        {"cat", false, 0, "exited with status 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        ChildProcess child;
        std::string error;
        ASSERT_TRUE(child.Start(c.command, output, error)) << error;
        const auto exit = WaitForExit(child);
        ASSERT_TRUE(exit);
        EXPECT_FALSE(child.running());
        EXPECT_EQ(exit->signalled, c.signalled);
        EXPECT_EQ(exit->value, c.value);
        EXPECT_FALSE(exit->killed);
        EXPECT_EQ(exit->Describe(), c.described);
        // Ending one that has ended already says the same.
        EXPECT_EQ(child.End()->Describe(), c.described);
    }
}

TEST_F(ChildProcessTest, StandardOutputAndErrorGoToTheFileInOrder)
{
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start("echo listening on 5555; echo warning >&2; echo done", output, error)) << error;
    ASSERT_TRUE(WaitForExit(child));
    EXPECT_EQ(Output(), "listening on 5555\nwarning\ndone\n");

    // A second run starts the file anew.
    ASSERT_TRUE(child.Start("echo again", output, error)) << error;
    ASSERT_TRUE(WaitForExit(child));
    EXPECT_EQ(Output(), "again\n");
}

TEST_F(ChildProcessTest, EndingAsksFirstThenKillsWhatIgnoresTheRequest)
{
    {
        ChildProcess child;
        std::string error;
        ASSERT_TRUE(child.Start("echo started; exec sleep 30", output, error)) << error;
        ASSERT_TRUE(WaitForOutput("started"));
        EXPECT_FALSE(child.Start("true", output, error));
        EXPECT_NE(error.find("running already"), std::string::npos) << error;
        const auto exit = child.End(5s);
        ASSERT_TRUE(exit);
        EXPECT_EQ(exit->Describe(), "ended by signal 15 (Terminated)");
        EXPECT_FALSE(exit->killed);
    }
    {
        ChildProcess child;
        std::string error;
        ASSERT_TRUE(child.Start("trap '' TERM; echo ignoring; while :; do sleep 0.05; done", output, error)) << error;
        ASSERT_TRUE(WaitForOutput("ignoring"));
        const auto exit = child.End(200ms);
        ASSERT_TRUE(exit);
        EXPECT_TRUE(exit->killed);
        EXPECT_TRUE(exit->signalled);
        EXPECT_EQ(exit->value, SIGKILL);
        EXPECT_FALSE(child.running());
    }
}

TEST_F(ChildProcessTest, EndingReachesWhatTheShellStartedAndSoDoesDestroying)
{
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "ended");
        std::string pidText;
        {
            ChildProcess child;
            std::string error;
            ASSERT_TRUE(child.Start("sleep 30 & echo $!; wait", output, error)) << error;
            ASSERT_TRUE(WaitForOutput("\n"));
            pidText = Output();
            if (!destroy) {
                ASSERT_TRUE(child.End(5s));
            }
        }
        const pid_t background = static_cast<pid_t>(std::stol(pidText));
        bool gone = false;
        for (int i = 0; i < 500 && !gone; ++i) {
            gone = Gone(background);
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_TRUE(gone) << "sleep " << background << " still runs";
    }
}

TEST_F(ChildProcessTest, NothingOfTheCommandIsLeftHoweverItEnds)
{
    struct Case {
        const char* how;
        const char* command;
        // How long End waits; none for a command that exits on its own.
        std::optional<std::chrono::milliseconds> grace;
    };
    const std::vector<Case> cases{
        {"exits on its own", "sleep 30 & echo $!", std::nullopt},
        {"ended", "sleep 30 & echo $!; wait", 5s},
        {"killed after ignoring the request", "trap '' TERM; sleep 30 & echo $!; wait", 200ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        ChildProcess child;
        std::string error;
        ASSERT_TRUE(child.Start(c.command, output, error)) << error;
        ASSERT_TRUE(WaitForOutput("\n"));
        const auto background = static_cast<pid_t>(std::stol(Output()));
        ASSERT_TRUE(c.grace ? child.End(*c.grace) : WaitForExit(child));
        bool gone = false;
        for (int i = 0; i < 500 && !gone; ++i) {
            gone = Gone(background);
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_TRUE(gone) << "sleep " << background << " still runs";
        // No process of this one's is left, running or waiting to be reaped.
        int status = 0;
        EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
    }
}

TEST_F(ChildProcessTest, CommandDiesOfABrokenPipeThoughThisProgramIgnoresIt)
{
    IgnoreBrokenPipe();
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start("kill -PIPE $$; exit 4", output, error)) << error;
    const auto exit = WaitForExit(child);
    ASSERT_TRUE(exit);
    EXPECT_TRUE(exit->signalled);
    EXPECT_EQ(exit->value, SIGPIPE);
}

TEST(SubstitutePortTest, EveryPlaceholderTakesThePort)
{
    struct Case {
        const char* command;
        const char* expected;
    };
    const std::vector<Case> cases{
        {"qemu-system-arm -serial tcp:127.0.0.1:{port},nodelay=on",
         "qemu-system-arm -serial tcp:127.0.0.1:5555,nodelay=on"},
        {"emu --in {port} --out {port}", "emu --in 5555 --out 5555"},
        {"{port}{port}", "55555555"},
        {"emu --fixed 4000", "emu --fixed 4000"},
        {"emu {por} {PORT} {{port}}", "emu {por} {PORT} {5555}"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SubstitutePort(c.command, "5555"), c.expected) << c.command;
    }
}

} // namespace
} // namespace quillon
