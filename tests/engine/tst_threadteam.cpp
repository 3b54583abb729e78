#include "engine/threadteam.h"

#include <QtTest>

#include <algorithm>

#include <mutex>
#include <new>
#include <set>
#include <thread>

// The threads a stabilisation runs on: every member takes every task, a
// member's failure reaches the caller, and the stop is asked on the caller's
// thread only.
class ThreadTeamTest : public QObject
{
    Q_OBJECT

private slots:
    void everyMemberTakesEveryTaskOnTheSameThreads()
    {
        ThreadTeam team(3);
        QCOMPARE(team.size(), 3);
        std::mutex mutex;
        std::set<std::thread::id> first, second;
        std::vector<int> members;
        team.run([&](int member) {
            const std::lock_guard lock(mutex);
            first.insert(std::this_thread::get_id());
            members.push_back(member);
        });
        team.run([&](int) {
            const std::lock_guard lock(mutex);
            second.insert(std::this_thread::get_id());
        });
        std::sort(members.begin(), members.end());
        QCOMPARE(members, std::vector<int>({0, 1, 2}));
        QCOMPARE(first.size(), std::size_t(3));
        QCOMPARE(second, first);
        QVERIFY(!first.count(std::this_thread::get_id()));
        QCOMPARE(ThreadTeam(0).size(), 1);

        std::vector<int> covered(1000, 0);
        team.forEachBlock(1000, [&](std::int64_t begin, std::int64_t end) {
            for (std::int64_t i = begin; i < end; ++i)
                ++covered[std::size_t(i)];
        });
        QCOMPARE(std::count(covered.begin(), covered.end(), 1), 1000);
    }

    void aMembersFailureEndsTheTaskAndReachesTheCaller()
    {
        ThreadTeam team(2);
        std::atomic<bool> otherSawIt{false};
        const auto failOnOne = [&](int member) {
            if (member == 1)
                throw std::bad_alloc();
            while (!team.abandoned())
                std::this_thread::yield();   // a long task that polls
            otherSawIt = true;
        };
        QVERIFY_THROWS_EXCEPTION(std::bad_alloc, team.run(failOnOne));
        QVERIFY(otherSawIt);
        int ran = 0;
        team.run([&](int member) {
            if (member == 0)
                ++ran;   // the team takes work again
        });
        QCOMPARE(ran, 1);
    }

    void theStopIsAskedOnTheCallersThreadAndEndsTheTask()
    {
        std::set<std::thread::id> askedOn;
        std::atomic<int> asked{0};
        ThreadTeam team(2, [&] {
            askedOn.insert(std::this_thread::get_id());
            return ++asked >= 3;
        });
        QVERIFY_THROWS_EXCEPTION(ThreadTeam::Stopped, team.run([&](int) {
            while (!team.abandoned())
                std::this_thread::yield();
        }));
        QCOMPARE(asked.load(), 3);
        QCOMPARE(askedOn, std::set<std::thread::id>({std::this_thread::get_id()}));
    }
};

QTEST_APPLESS_MAIN(ThreadTeamTest)
#include "tst_threadteam.moc"
