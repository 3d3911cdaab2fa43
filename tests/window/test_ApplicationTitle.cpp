#include "window/ApplicationTitle.h"

#include <QtTest>

class ApplicationTitleTest : public QObject
{
    Q_OBJECT

private slots:
    void title_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");

        QTest::newRow("installed program") << "/usr/bin/velmor_snd"
                                           << "velmor_snd";
        QTest::newRow("extension cut") << "/opt/velmor_snd.exe"
                                       << "velmor_snd";
        QTest::newRow("only the first character keeps its case") << "/opt/Velmor_SND.EXE"
                                                                 << "Velmor_snd";
        QTest::newRow("cut at the first of several dots") << "/x/VELMOR.SND.EXE"
                                                          << "Velmor";
        QTest::newRow("dots in the folder do not count") << "/a.b/c.d/prog"
                                                         << "prog";
        QTest::newRow("no folder") << "Prog"
                                   << "Prog";
        QTest::newRow("non-ASCII letters") << "/x/ÄBCÖ.bin"
                                           << "Äbcö";
        QTest::newRow("name that starts with a dot") << "/x/.hidden"
                                                     << "";
        QTest::newRow("empty") << ""
                               << "";
    }

    void title()
    {
        QFETCH(QString, path);
        QFETCH(QString, title);
        QCOMPARE(window::applicationTitle(path), title);
    }

    void toolTip_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("linkState");
        QTest::addColumn<QString>("toolTip");

        const QString up = QStringLiteral("lock system 10.1.2.3:8264: connected");
        QTest::newRow("short") << "velmor_snd" << QString() << "velmor_snd";
        QTest::newRow("with the link's state") << "velmor_snd" << up << "velmor_snd\n" + up;
        QTest::newRow("exactly 127") << QString(127, 'a') << QString() << QString(127, 'a');
        QTest::newRow("cut to 127") << QString(127, 'a') + "bcd" << QString() << QString(127, 'a');
        QTest::newRow("the state cut to 127")
            << QString(100, 'a') << up << (QString(100, 'a') + '\n' + up).left(127);
        QTest::newRow("none when empty") << "" << QString() << "";
        QTest::newRow("the state alone without a title") << "" << up << up;
    }

    void toolTip()
    {
        QFETCH(QString, title);
        QFETCH(QString, linkState);
        QFETCH(QString, toolTip);
        QCOMPARE(window::trayToolTip(title, linkState), toolTip);
    }
};

QTEST_MAIN(ApplicationTitleTest)
#include "test_ApplicationTitle.moc"
