#include "RecordingErrorBox.h"
#include "gateway/ServiceStatus.h"
#include "window/ApplicationTitle.h"
#include "window/Startup.h"
#include "window/StartupShow.h"
#include "window/Velmor_send.h"

#include <QtTest>

#include <memory>

using window::StartupShow;

namespace {

// A window whose link is never connected: the states need no lock system.
std::unique_ptr<TForm7> makeForm(RecordingErrorBox& box)
{
    gateway::GatewayOptions options;
    options.listenerPort = 0;
    return std::make_unique<TForm7>(options, box);
}

bool isShown(const TForm7& form)
{
    return form.isVisible() && !form.isMinimized();
}

bool isMinimisedState(const TForm7& form)
{
    return form.isVisible() && form.isMinimized();
}

bool isHiddenState(const TForm7& form)
{
    return form.isHidden();
}

void minimiseCommand(TForm7& form)
{
    form.setWindowState(form.windowState() | Qt::WindowMinimized);
}

void restoreFromTaskbar(TForm7& form)
{
    form.setWindowState(form.windowState() & ~Qt::WindowMinimized);
}

void doubleClickIcon(TForm7& form)
{
    emit form.TrayIcon1->activated(QSystemTrayIcon::DoubleClick);
}

} // namespace

class WindowStatesTest : public QObject
{
    Q_OBJECT

private slots:
    // The show state the starter passes decides how the window first appears: 3 maximised,
    // 7 minimised with its taskbar button (not hidden), every other value shown normally.
    void startupShowState_data()
    {
        QTest::addColumn<int>("showState");
        QTest::addColumn<bool>("maximised");
        QTest::addColumn<bool>("minimised");

        QTest::newRow("normal") << 1 << false << false;
        QTest::newRow("maximised") << 3 << true << false;
        QTest::newRow("minimised without activation") << 7 << false << true;
        QTest::newRow("hidden") << 0 << false << false;
        QTest::newRow("minimised") << 2 << false << false;
        QTest::newRow("minimise") << 6 << false << false;
        QTest::newRow("out of range") << -1 << false << false;
    }

    void startupShowState()
    {
        QFETCH(int, showState);
        QFETCH(bool, maximised);
        QFETCH(bool, minimised);
        RecordingErrorBox box;
        auto form = makeForm(box);
        window::showMainWindow(*form, window::startupShow(showState));
        if (minimised) {
            QTRY_VERIFY(isMinimisedState(*form));
        } else {
            QTRY_VERIFY(isShown(*form));
        }
        QCOMPARE(form->isMaximized(), maximised);
        QCOMPARE(form->ApplicationEvents1->isMinimized(), minimised);
    }

    // Show state 7: minimised with a taskbar button, not hidden; the next minimise after a
    // restore hides as usual.
    void startsMinimisedNotHidden()
    {
        RecordingErrorBox box;
        auto form = makeForm(box);
        window::showMainWindow(*form, StartupShow::MinimizedWithoutActivation);
        QTRY_VERIFY(isMinimisedState(*form));
        QVERIFY(form->ApplicationEvents1->isMinimized());

        restoreFromTaskbar(*form);
        QTRY_VERIFY(isShown(*form));
        minimiseCommand(*form);
        QTRY_VERIFY(isHiddenState(*form));
    }

    // Shown -> Hidden -> Minimised -> Minimised -> Shown -> Hidden -> Minimised.
    void transitions()
    {
        RecordingErrorBox box;
        auto form = makeForm(box);
        QSignalSpy minimiseEvents(form->ApplicationEvents1, &window::ApplicationEvents::minimized);
        window::showMainWindow(*form, StartupShow::Normal);
        QTRY_VERIFY(isShown(*form));

        minimiseCommand(*form);
        QTRY_VERIFY(isHiddenState(*form));
        QCOMPARE(minimiseEvents.size(), 1);

        doubleClickIcon(*form);
        QTRY_VERIFY(isMinimisedState(*form));

        doubleClickIcon(*form);
        QTRY_VERIFY(isMinimisedState(*form));

        restoreFromTaskbar(*form);
        QTRY_VERIFY(isShown(*form));
        QCOMPARE(form->size(), QSize(801, 437));

        minimiseCommand(*form);
        QTRY_VERIFY(isHiddenState(*form));
        QCOMPARE(minimiseEvents.size(), 2);

        doubleClickIcon(*form);
        QTRY_VERIFY(isMinimisedState(*form));
    }

    void restoreKeepsTheMaximisedSize()
    {
        RecordingErrorBox box;
        auto form = makeForm(box);
        window::showMainWindow(*form, StartupShow::Maximized);
        QTRY_VERIFY(isShown(*form));
        minimiseCommand(*form);
        QTRY_VERIFY(isHiddenState(*form));
        doubleClickIcon(*form);
        QTRY_VERIFY(isMinimisedState(*form));
        restoreFromTaskbar(*form);
        QTRY_VERIFY(isShown(*form));
        QVERIFY(form->isMaximized());
    }

    void doubleClickOnShownWindowChangesNothing()
    {
        RecordingErrorBox box;
        auto form = makeForm(box);
        window::showMainWindow(*form, StartupShow::Normal);
        QTRY_VERIFY(isShown(*form));
        const QRect before = form->geometry();

        doubleClickIcon(*form);
        QVERIFY(isShown(*form));
        QCOMPARE(form->geometry(), before);
        QVERIFY(!form->ApplicationEvents1->isMinimized());
    }

    void otherIconActionsDoNothing_data()
    {
        QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
        QTest::newRow("click") << QSystemTrayIcon::Trigger;
        QTest::newRow("context click") << QSystemTrayIcon::Context;
        QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick;
        QTest::newRow("unknown") << QSystemTrayIcon::Unknown;
    }

    void otherIconActionsDoNothing()
    {
        QFETCH(QSystemTrayIcon::ActivationReason, reason);
        RecordingErrorBox box;
        auto form = makeForm(box);
        window::showMainWindow(*form, StartupShow::Normal);
        minimiseCommand(*form);
        QTRY_VERIFY(isHiddenState(*form));

        emit form->TrayIcon1->activated(reason);
        QCoreApplication::processEvents();
        QVERIFY(isHiddenState(*form));
    }

    void notificationIcon()
    {
        RecordingErrorBox box;
        auto form = makeForm(box);
        QVERIFY(form->TrayIcon1->isVisible());
        QVERIFY(!form->TrayIcon1->icon().isNull());
        // The title, and the link's state: never connected here.
        const std::string link = std::string(gateway::settings::linkHost) + ":8264";
        QCOMPARE(
            form->TrayIcon1->toolTip(),
            window::trayToolTip(window::applicationTitle(QCoreApplication::applicationFilePath()),
                                QString::fromStdString(gateway::linkStateText(link, false))));
        QVERIFY(form->TrayIcon1->contextMenu() == nullptr);
        if (!QSystemTrayIcon::isSystemTrayAvailable()) {
            QSKIP("no notification area on this platform; the display test covers it");
        }
        QTRY_VERIFY(form->TrayIcon1->geometry().isValid());
    }
};

QTEST_MAIN(WindowStatesTest)
#include "test_WindowStates.moc"
