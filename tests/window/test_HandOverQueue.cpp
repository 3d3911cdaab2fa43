// The hand-over queue to the window's thread: every call in order, and of the droppable ones
// (log lines) only as many as the pane keeps, however long the window's thread is held up.

#include "window/HandOverQueue.h"

#include <QtTest>

#include <thread>

using window::HandOverQueue;

class HandOverQueueTest : public QObject
{
    Q_OBJECT

private slots:
    // "k…" a call that is kept, "d…" a droppable one, handed over while the window's thread
    // runs nothing; then what ran, in order.
    void dropsOnlyTheOldestDroppable_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("posted");
        QTest::addColumn<QStringList>("ran");

        QTest::newRow("within the limit")
            << 3 << QStringList{"d1", "k1", "d2"} << QStringList{"d1", "k1", "d2"};
        QTest::newRow("the oldest droppable go")
            << 2 << QStringList{"d1", "d2", "d3", "d4"} << QStringList{"d3", "d4"};
        QTest::newRow("kept calls stay, in their place")
            << 2 << QStringList{"d1", "k1", "d2", "d3", "k2", "d4"}
            << QStringList{"k1", "d3", "k2", "d4"};
        QTest::newRow("only kept calls")
            << 1 << QStringList{"k1", "k2", "k3"} << QStringList{"k1", "k2", "k3"};
    }

    void dropsOnlyTheOldestDroppable()
    {
        QFETCH(int, limit);
        QFETCH(QStringList, posted);
        QFETCH(QStringList, ran);

        HandOverQueue queue(static_cast<std::size_t>(limit));
        QStringList seen;
        // From another thread, as the gateway's threads hand lines over.
        std::thread caller([&] {
            for (const QString& call : posted) {
                auto record = [&seen, call] { seen.append(call); };
                if (call.startsWith(QLatin1Char('d'))) {
                    queue.postDroppable(record);
                } else {
                    queue.post(record);
                }
            }
        });
        caller.join();
        QVERIFY(seen.isEmpty());
        QTRY_COMPARE(seen, ran);
        QCOMPARE(queue.dropped(), static_cast<std::uint64_t>(posted.size() - ran.size()));
    }
};

QTEST_MAIN(HandOverQueueTest)
#include "test_HandOverQueue.moc"
