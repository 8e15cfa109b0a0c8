#include "helpers/capture.h"
#include "helpers/emulation.h"
#include "helpers/host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using testhelp::CaptureStdout;
using testhelp::Table;
using Lines = std::vector<std::string>;

namespace {

struct CountCase {
    Table::Kind kind;
    bool withMutex;
    unsigned n;
    const char* message; // null: the count is accepted
};

// Runs one count change on a fresh table and checks result, message and count.
void checkCount(const CountCase& c, bool trackers)
{
    Table t(c.kind, c.withMutex);
    t.count() = 7;
    CaptureStdout out;
    CDataStorage* s = t.storage();
    const bool ok = trackers ? s->setTrackerCount(c.n) : s->setControllerCount(c.n);
    out.restore();
    const std::string where = std::string(trackers ? "trackers" : "controllers") + " n=" + std::to_string(c.n) +
                              " kind=" + std::to_string(c.kind) + " mutex=" + std::to_string(c.withMutex);
    if (c.message) {
        EXPECT_FALSE(ok) << where;
        EXPECT_EQ(out.lines(), Lines{std::string("CDataStorage: ERROR: ") + c.message}) << where;
        EXPECT_EQ(t.count(), 7u) << where;
    } else {
        EXPECT_TRUE(ok) << where;
        EXPECT_EQ(out.text(), "") << where;
        EXPECT_EQ(t.count(), c.n) << where;
    }
}

// A lock failure needs a mutex whose owner went away: a thread that takes it
// and ends leaves it owner-dead (robust POSIX mutex) or abandoned (Win32).
void abandonLock(CDataStorage* storage)
{
    std::thread owner([storage] { EXPECT_TRUE(storage->lock()); });
    owner.join();
}

// The system's text differs between platforms: exact prefix, non-empty rest.
void expectOneSystemTextLine(const CaptureStdout& out, const std::string& prefix)
{
    const Lines lines = out.lines();
    ASSERT_EQ(lines.size(), 1u) << out.text();
    EXPECT_EQ(lines[0].compare(0, prefix.size(), prefix), 0) << lines[0];
    EXPECT_GT(lines[0].size(), prefix.size()) << "system text missing";
}

} // namespace

TEST(Storage, TrackerCountChecksComeInOrder)
{
    const CountCase cases[] = {
        {Table::Trackers, true, 32, nullptr},
        {Table::Trackers, true, 1, nullptr},
        {Table::NoTable, false, 33, "CDataStorage: The new number is too big."},
        {Table::Both, true, 33, "CDataStorage: The new number is too big."},
        {Table::Both, true, 1, "Delete controller data list first."},
        {Table::Controllers, true, 5, "Delete controller data list first."},
        {Table::NoTable, true, 1, "CDataStorage: Data storage has not been created yet."},
        {Table::Trackers, false, 0, "CDataStorage: Mutex has not been set up yet."},
        {Table::Trackers, true, 0, "CDataStorage: the number of data is zero."},
    };
    for (const CountCase& c : cases)
        checkCount(c, true);
}

TEST(Storage, ControllerCountChecksComeInOrder)
{
    const CountCase cases[] = {
        {Table::Controllers, true, 32, nullptr},
        {Table::NoTable, false, 33, "CDataStorage: The new number is too big."},
        {Table::Both, true, 1, "CDataStorage: Delete tracker data list first."},
        {Table::Trackers, true, 5, "CDataStorage: Delete tracker data list first."},
        {Table::NoTable, true, 1, "CDataStorage: Datt Storage has not been created yet."},
        {Table::Controllers, false, 0, "CDataStorage: Mutex has not been set up yet."},
        {Table::Controllers, true, 0, "CDataStorage: the number of data is zero."},
    };
    for (const CountCase& c : cases)
        checkCount(c, false);
}

TEST(Storage, MissingLoggersSilenceTheReports)
{
    Table t;
    t.storage()->m_pLog = nullptr;
    t.storage()->m_pMutex->m_pLog = nullptr;
    CaptureStdout out;
    EXPECT_FALSE(t.storage()->setTrackerCount(33));
    EXPECT_FALSE(t.storage()->unlock());
    EXPECT_EQ(out.text(), "");
}

TEST(Storage, RecordLookupAndCountsFollowTheTableKind)
{
    Table trackers(Table::Trackers);
    trackers.count() = 3;
    CDataStorage* s = trackers.storage();
    EXPECT_EQ(s->getTrackerRecord(0), nullptr);
    EXPECT_EQ(s->getTrackerRecord(1), &trackers.record(1));
    EXPECT_EQ(s->getTrackerRecord(3), &trackers.record(3));
    EXPECT_EQ(s->getTrackerRecord(4), nullptr);
    EXPECT_EQ(s->getTrackerCount(), 3u);
    EXPECT_EQ(s->getControllerCount(), 0u);

    Table controllers(Table::Controllers);
    controllers.count() = 3;
    s = controllers.storage();
    for (unsigned n = 0; n <= 4; ++n)
        EXPECT_EQ(s->getTrackerRecord(n), nullptr) << n;
    EXPECT_EQ(s->getTrackerCount(), 0u);
    EXPECT_EQ(s->getControllerCount(), 3u);
}

TEST(Storage, UnlockingAMutexNotHeldReportsTheSystemText)
{
    Table t;
    CaptureStdout out;
    EXPECT_FALSE(t.storage()->unlock());
    out.restore();
    expectOneSystemTextLine(out, "CMutexH: ERROR: CMutexH: Unlocking mutex: ");
}

TEST(Storage, LockingAnAbandonedMutexFailsWithTheSystemText)
{
#if !defined(_WIN32)
    // The owner's death reaches a robust mutex through the kernel's robust
    // futex list, which qemu-user does not keep: the lock would wait forever.
    if (const char* emulator = testhelp::underQemuUser())
        GTEST_SKIP() << "an abandoned robust mutex is never reported under " << emulator;
#endif
    Table t;
    abandonLock(t.storage());
    CaptureStdout out;
    EXPECT_FALSE(t.storage()->lock());
    out.restore();
    expectOneSystemTextLine(out, "CMutexH: ERROR: CMutexH: Locking mutex: ");

    // The failed wait still took the mutex, and it stays usable afterwards.
    EXPECT_TRUE(t.storage()->unlock());
    EXPECT_TRUE(t.storage()->lock());
    EXPECT_TRUE(t.storage()->unlock());
}

TEST(Storage, ReaderUnderTheLockNeverSeesATornRecord)
{
    Table t;
    CDataStorage* s = t.storage();
    ASSERT_TRUE(s->setTrackerCount(1));
    const int rounds = 3000;
    std::atomic<bool> done(false);
    std::atomic<int> torn(0), reads(0);

    // The host side: reads the whole record under the lock, as its clients do.
    std::thread host([&] {
        do {
            s->lock();
            const TrackerRecord* r = s->getTrackerRecord(1);
            for (int i = 0; i < 6; ++i) {
                if (r->pose[i] != r->pose[0] || std::uint32_t(r->pose[i]) != r->seconds)
                    ++torn;
            }
            s->unlock();
            ++reads;
        } while (!done.load());
    });
    while (reads.load() == 0)
        std::this_thread::yield();
    for (int round = 1; round <= rounds; ++round) {
        EXPECT_TRUE(s->lock());
        TrackerRecord* r = s->getTrackerRecord(1);
        r->seconds = std::uint32_t(round);
        for (int i = 0; i < 6; ++i) {
            r->pose[i] = round;
            if (i % 2 == 0)
                std::this_thread::yield(); // widen the window a reader could hit
        }
        EXPECT_TRUE(s->unlock());
    }
    done = true;
    host.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
}
