// Files written whole or not at all, whatever signal comes while they are
// written: each case runs in a child process with the tools' handlers.
#include "atomicfiles.h"
#include "interrupt.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <functional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// The child's exit status, or minus the signal that ended it.
int inChild(const std::function<int()> &body)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        Interrupt::install();
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// Two files committed, `stop` asked between their writing and their renames.
int commitTwo(const QString &folder, const AtomicFiles::Stop &stop)
{
    AtomicFiles files;
    files.add((folder + "/a.txt").toStdString(), "a");
    files.add((folder + "/b.txt").toStdString(), "b");
    try {
        files.commit(stop);
    } catch (const AtomicFiles::Stopped &) {
        return Interrupt::exitStatus();
    }
    return 0;
}

} // namespace

class AtomicFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void signalsWhileWritingLeaveNoFile_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void signalsWhileWritingLeaveNoFile()
    {
        QFETCH(int, signal);
        QTemporaryDir folder;
        const QDir dir(folder.path());
        const auto entries = [&] { return dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); };

        // One signal once the temporary files are written: neither is renamed.
        QCOMPARE(inChild([&] { return commitTwo(folder.path(), [&] { raise(signal); return Interrupt::interrupted().load(); }); }),
                 128 + signal);
        QCOMPARE(entries(), QStringList());

        // A second one a second later ends the program there, and removes them.
        const int status = inChild([&] {
            return commitTwo(folder.path(), [&] {
                raise(SIGINT);
                std::this_thread::sleep_for(std::chrono::milliseconds(1100));
                raise(signal);
                return false;
            });
        });
        QCOMPARE(status, 128 + SIGINT);
        QCOMPARE(entries(), QStringList());

        // No signal: both written.
        QCOMPARE(inChild([&] { return commitTwo(folder.path(), [] { return false; }); }), 0);
        QCOMPARE(entries(), QStringList({"a.txt", "b.txt"}));
    }

    void theLongestNameIsWrittenThoughItsTemporaryNameWouldBeLonger()
    {
        QTemporaryDir folder;
        const std::string path = folder.path().toStdString() + "/" + std::string(254, 'n');
        AtomicFiles::checkWritable(path, false);
        AtomicFiles files;
        files.add(path, "x");
        files.add(path + "m", "y");   // cut to the same stem: told apart
        files.commit();
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, AtomicFiles::checkWritable(path + "mm", false));
    }

    void samePathSeesThroughLinks()
    {
        QTemporaryDir folder;
        const std::string a = folder.path().toStdString() + "/a", b = folder.path().toStdString() + "/b";
        QVERIFY(QFile(QString::fromStdString(a)).open(QIODevice::WriteOnly));
        QCOMPARE(link(a.c_str(), b.c_str()), 0);
        QVERIFY(AtomicFiles::samePath(a, b));
        QVERIFY(AtomicFiles::samePath(a, folder.path().toStdString() + "/./a"));
        QVERIFY(!AtomicFiles::samePath(a, folder.path().toStdString() + "/c"));
    }
};

QTEST_APPLESS_MAIN(AtomicFilesTest)
#include "tst_atomicfiles.moc"
