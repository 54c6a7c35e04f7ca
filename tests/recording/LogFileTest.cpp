#include "recording/LogFile.h"
#include "recording/QueuedRecorder.h"

#include "recording/RecordingFixtures.h"
#include "util/ExclusiveFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
const std::string kRmc = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";

// True when another open file description can take the exclusive lock right now.
bool CanLock(const std::filesystem::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return locked;
}

ExclusiveFile::WriteFunction WriteFunctionOfTheSystem()
{
    return [](int fd, const void* data, size_t size) { return ::write(fd, data, size); };
}

} // namespace

TEST(LogFile, WritesEachLineAsGivenAndNeverEmptiesAFile)
{
    TempFolder dir;
    const auto path = dir.Path() / "log.txt";
    {
        std::ofstream(path) << "old content that must stay";
    }
    LogFile refused;
    EXPECT_FALSE(refused.Open(Wide(path)));
    EXPECT_EQ(refused.GetLastError(), EEXIST);
    EXPECT_EQ(ReadFile(path), "old content that must stay");

    // An empty file is taken over (a name created but never written).
    std::filesystem::resize_file(path, 0);
    LogFile log;
    ASSERT_TRUE(log.Open(Wide(path)));
    EXPECT_TRUE(log.IsOpen());
    EXPECT_TRUE(log.Write(kGga));
    // Unbuffered: the line is in the file before anything is closed.
    EXPECT_EQ(ReadFile(path), kGga);
    EXPECT_TRUE(log.Write(kRmc));
    EXPECT_TRUE(log.Close());
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(ReadFile(path), kGga + kRmc);
}

TEST(LogFile, HoldsTheFileExclusivelyWhileOpen)
{
    TempFolder dir;
    const auto path = dir.Path() / "log.txt";
    LogFile log;
    ASSERT_TRUE(log.Open(Wide(path)));
    EXPECT_FALSE(CanLock(path));

    LogFile second;
    EXPECT_FALSE(second.Open(Wide(path)));
    EXPECT_EQ(second.GetLastError(), EWOULDBLOCK);

    ASSERT_TRUE(log.Close());
    EXPECT_TRUE(CanLock(path));
}

TEST(LogFile, FileHeldByAnotherProgramIsNeitherOpenedNorEmptied)
{
    TempFolder dir;
    const auto path = dir.Path() / "log.txt";
    {
        std::ofstream(path) << kGga;
    }
    const int holder = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    LogFile log;
    EXPECT_FALSE(log.Open(Wide(path)));
    EXPECT_FALSE(log.IsOpen());
    ::close(holder);
    EXPECT_EQ(ReadFile(path), kGga);
}

TEST(LogFile, OpenFailsWhereNoFileCanBeMade)
{
    TempFolder dir;
    struct Row
    {
        const char* what;
        std::filesystem::path path;
        int error;
    };
    const Row rows[] = {
        {"missing folder", dir.Path() / "missing" / "log.txt", ENOENT},
        {"a folder in the way", dir.Path(), EISDIR},
        {"name too long for the file system", dir.Path() / std::string(300, 'x'), ENAMETOOLONG},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        LogFile log;
        EXPECT_FALSE(log.Open(Wide(row.path)));
        EXPECT_EQ(log.GetLastError(), row.error);
        EXPECT_FALSE(log.Write(kGga));
        EXPECT_TRUE(log.Close());
    }
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(LogFile, OnlyARegularFileIsEverWritten)
{
    TempFolder dir;
    const auto fifo = dir.Path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const auto target = dir.Path() / "target.txt";
    const auto link = dir.Path() / "link.txt";
    std::filesystem::create_symlink(target, link);
    const auto deviceLink = dir.Path() / "full.txt";
    std::filesystem::create_symlink("/dev/full", deviceLink);
    struct Row
    {
        const char* what;
        std::filesystem::path path;
        int error;
        int reader; // a FIFO opens for writing only while someone reads it
    };
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const Row rows[] = {
        {"a FIFO with a reader", fifo, ENODEV, reader},
        {"a device", "/dev/null", ENODEV, -1},
        {"a link to a file yet to be made", link, ELOOP, -1},
        {"a link to a device", deviceLink, ELOOP, -1},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        LogFile log;
        EXPECT_FALSE(log.Open(Wide(row.path)));
        EXPECT_EQ(log.GetLastError(), row.error);
        EXPECT_FALSE(log.Write(kGga));
    }
    // Nothing reached the FIFO (no data: end of file or would block), and no link's target was made.
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0);
    ::close(reader);
    EXPECT_FALSE(std::filesystem::exists(target));
    ::unlink(fifo.c_str());
    LogFile noReader;
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_FALSE(noReader.Open(Wide(fifo))); // fails at once rather than hanging
    EXPECT_EQ(noReader.GetLastError(), ENXIO);
}

TEST(LogFile, ShortAndInterruptedWritesStillDeliverEveryByte)
{
    TempFolder dir;
    const auto path = dir.Path() / "log.txt";
    int calls = 0;
    LogFile log(FileCalls{.write = [&calls](int fd, const void* data, size_t size) -> ssize_t {
        if (++calls % 3 == 0)
        {
            errno = EINTR;
            return -1;
        }
        return ::write(fd, data, std::min<size_t>(size, 7));
    }});
    ASSERT_TRUE(log.Open(Wide(path)));
    ASSERT_TRUE(log.Write(kGga));
    ASSERT_TRUE(log.Write(kRmc));
    ASSERT_TRUE(log.Close());
    EXPECT_EQ(ReadFile(path), kGga + kRmc);
}

TEST(LogFile, DiskFullInTheMiddleOfALineKeepsOnlyTheWholeLinesBeforeIt)
{
    TempFolder dir;
    const auto path = dir.Path() / "log.txt";
    LogFile log(FileCalls{.write = FillingDisk{kGga.size() + 10}});
    ASSERT_TRUE(log.Open(Wide(path)));
    ASSERT_TRUE(log.Write(kGga));
    EXPECT_FALSE(log.Write(kRmc));
    EXPECT_EQ(log.GetLastError(), ENOSPC);
    EXPECT_TRUE(log.Close());
    EXPECT_EQ(ReadFile(path), kGga);
}

TEST(ExclusiveFile, SyncsOnItsScheduleAndReportsAFailedSync)
{
    struct Row
    {
        const char* what;
        std::chrono::milliseconds interval;
        int failingSync; // errno of every sync, 0 for none
        int syncsAfterWrites; // after three appends
        bool writesSucceed;
    };
    const Row rows[] = {
        {"no delay: every write is synced", std::chrono::milliseconds(0), 0, 3, true},
        {"an hour: nothing before the close", std::chrono::hours(1), 0, 0, true},
        {"a medium that loses data says so at the first sync", std::chrono::milliseconds(0), EIO, 1, false},
        {"not syncable (a pipe-like file): no error", std::chrono::milliseconds(0), EINVAL, 3, true},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        TempFolder dir;
        int syncs = 0;
        ExclusiveFile file(FileCalls{.write = WriteFunctionOfTheSystem(), .sync = [&](int fd) {
            ++syncs;
            if (row.failingSync != 0)
            {
                errno = row.failingSync;
                return -1;
            }
            return ::fdatasync(fd);
        }});
        file.SetSyncInterval(row.interval);
        ASSERT_TRUE(file.Open(Wide(dir.Path() / "f")));
        bool ok = true;
        for (int i = 0; i < 3 && ok; ++i)
            ok = file.Append(kGga) && file.SyncIfDue();
        EXPECT_EQ(ok, row.writesSucceed);
        EXPECT_EQ(syncs, row.syncsAfterWrites);
        if (!row.writesSucceed)
        {
            EXPECT_EQ(file.GetLastError(), row.failingSync);
        }
        // What a sync did not keep is still to be synced.
        EXPECT_EQ(file.IsDirty(), row.interval.count() > 0 || !row.writesSucceed);
        // Closing always syncs what is left.
        EXPECT_EQ(file.Close(), row.writesSucceed);
        EXPECT_EQ(syncs, row.syncsAfterWrites + 1);
    }
}

TEST(ExclusiveFile, WritesOverItsOwnBytesAndTruncates)
{
    TempFolder dir;
    const auto path = dir.Path() / "f";
    ExclusiveFile file;
    ASSERT_TRUE(file.Open(Wide(path)));
    ASSERT_TRUE(file.Append("head-TAIL"));
    ASSERT_TRUE(file.WriteAt(5, "body-TAIL"));
    EXPECT_EQ(file.Size(), 14);
    EXPECT_EQ(ReadFile(path), "head-body-TAIL");
    ASSERT_TRUE(file.Truncate(9));
    EXPECT_EQ(ReadFile(path), "head-body");
    ASSERT_TRUE(file.Append("!"));
    EXPECT_EQ(ReadFile(path), "head-body!");
    EXPECT_TRUE(file.Close());
    EXPECT_FALSE(file.WriteAt(0, "x"));
    EXPECT_EQ(file.GetLastError(), EBADF);
}

TEST(QueuedRecorder, WritesALogOnItsOwnThreadAndTellsAFailedWriteAtTheNextCall)
{
    TempFolder dir;
    const auto path = dir.Path() / "log.txt";
    // The third line meets a full disk.
    int writes = 0;
    FileCalls calls;
    calls.write = [&writes](int fd, const void* data, size_t size) -> ssize_t {
        if (++writes == 3)
        {
            errno = ENOSPC;
            return -1;
        }
        return ::write(fd, data, size);
    };
    QueuedRecorder log(MakeRecorder(RecordNmea, calls));
    // A log keeps only the text: its queue copies no records.
    EXPECT_FALSE(log.UsesRecords());
    ASSERT_TRUE(log.Start(Wide(path), true, GpsData{}));
    EXPECT_EQ(log.Path(), Wide(path));

    for (const std::string& line : {kGga, kRmc, kGga, kRmc})
        EXPECT_TRUE(log.Add(line, GpsData{}, EpochMarks{}));
    log.WaitUntilWritten();
    // What reached the file, whole lines only; the failure is told from now on.
    EXPECT_EQ(log.Written(), static_cast<long long>(kGga.size() + kRmc.size()));
    EXPECT_FALSE(log.Add(kGga, GpsData{}, EpochMarks{}));
    EXPECT_FALSE(log.Sync());
    EXPECT_EQ(log.LastError(), ENOSPC);
    EXPECT_FALSE(log.Stalled());
    EXPECT_EQ(writes, 3);

    EXPECT_TRUE(log.Finish());
    EXPECT_TRUE(log.Done());
    EXPECT_EQ(ReadFile(path), kGga + kRmc);
    EXPECT_TRUE(CanLock(path));
}
