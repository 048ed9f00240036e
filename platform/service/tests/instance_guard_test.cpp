#include <gtest/gtest.h>

#include <csignal>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/service.h"
#include "temp_dir.h"

extern char** environ;

using platform::service::InstanceGuard;

namespace {

constexpr const char* kName = "SCKTSRVR";

// Forks a child that takes the guard and then waits to be killed; returns its pid once it
// has tried, and what it got.
pid_t StartHolder(const std::filesystem::path& dir, bool& acquired) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return -1;
    pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        InstanceGuard guard = InstanceGuard::Acquire(kName, dir);
        char answer = guard.acquired() ? 'y' : 'n';
        if (::write(pipeFds[1], &answer, 1) != 1 || !guard.acquired()) ::_exit(1);
        for (;;) ::pause();
    }
    ::close(pipeFds[1]);
    char answer = 'n';
    acquired = child > 0 && ::read(pipeFds[0], &answer, 1) == 1 && answer == 'y';
    ::close(pipeFds[0]);
    return child;
}

}  // namespace

TEST(InstanceGuard, HeldByAnotherProcessUntilTheKernelReapsIt) {
    TempDir dir;
    bool childHasIt = false;
    pid_t child = StartHolder(dir.path(), childHasIt);
    ASSERT_GT(child, 0);
    ASSERT_TRUE(childHasIt);

    InstanceGuard second = InstanceGuard::Acquire(kName, dir.path());
    EXPECT_EQ(second.status(), InstanceGuard::Status::AlreadyHeld);
    EXPECT_FALSE(second.acquired());

    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    // The killed holder left its lock file behind; that must not block the next start.
    EXPECT_TRUE(std::filesystem::exists(second.lockFile()));
    InstanceGuard next = InstanceGuard::Acquire(kName, dir.path());
    EXPECT_EQ(next.status(), InstanceGuard::Status::Acquired) << next.error();
}

TEST(InstanceGuard, OneHolderPerNameWithinAProcess) {
    TempDir dir;
    {
        InstanceGuard first = InstanceGuard::Acquire(kName, dir.path());
        ASSERT_TRUE(first.acquired()) << first.error();
        EXPECT_EQ(InstanceGuard::Acquire(kName, dir.path()).status(),
                  InstanceGuard::Status::AlreadyHeld);
        EXPECT_TRUE(InstanceGuard::Acquire("OTHER", dir.path()).acquired());

        InstanceGuard moved = std::move(first);
        EXPECT_FALSE(first.acquired());
        EXPECT_TRUE(moved.acquired());
        EXPECT_EQ(InstanceGuard::Acquire(kName, dir.path()).status(),
                  InstanceGuard::Status::AlreadyHeld);
    }
    EXPECT_TRUE(InstanceGuard::Acquire(kName, dir.path()).acquired());
}

TEST(InstanceGuard, ProgramsStartedByTheHolderDoNotInheritTheLock) {
    TempDir dir;
    pid_t sleeper = -1;
    {
        InstanceGuard guard = InstanceGuard::Acquire(kName, dir.path());
        ASSERT_TRUE(guard.acquired()) << guard.error();
        char sleepName[] = "sleep";
        char seconds[] = "60";
        char* argv[] = {sleepName, seconds, nullptr};
        ASSERT_EQ(::posix_spawnp(&sleeper, "sleep", nullptr, nullptr, argv, environ), 0);
    }
    InstanceGuard again = InstanceGuard::Acquire(kName, dir.path());
    ::kill(sleeper, SIGKILL);
    ::waitpid(sleeper, nullptr, 0);
    EXPECT_TRUE(again.acquired());
}

TEST(InstanceGuard, NameCannotLeaveTheLockFolder) {
    TempDir dir;
    InstanceGuard guard = InstanceGuard::Acquire("../Global/x", dir.path());
    ASSERT_TRUE(guard.acquired()) << guard.error();
    EXPECT_EQ(guard.lockFile().parent_path(), dir.path());
}

TEST(InstanceGuard, UnusableLockFileIsAFailureNotAnotherInstance) {
    TempDir dir;
    InstanceGuard missing = InstanceGuard::Acquire(kName, dir.path() / "missing");
    EXPECT_EQ(missing.status(), InstanceGuard::Status::Failed);
    EXPECT_NE(missing.error().find("missing"), std::string::npos) << missing.error();

    // A link planted where the lock file goes is not followed.
    std::filesystem::path target = dir.Write("elsewhere/target", "");
    std::filesystem::path lockFile = InstanceGuard::Acquire(kName, dir.path()).lockFile();
    std::filesystem::remove(lockFile);
    std::filesystem::create_symlink(target, lockFile);
    InstanceGuard planted = InstanceGuard::Acquire(kName, dir.path());
    EXPECT_EQ(planted.status(), InstanceGuard::Status::Failed);
    EXPECT_FALSE(planted.error().empty());
}
