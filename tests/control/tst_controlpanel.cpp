// SPDX-License-Identifier: MIT
#include "control/controlpanel.h"
#include "controlfixture.h"

#include <QTest>
#include <chrono>

using control::ControlPanel;

namespace {

// The program with every channel at one code, shown in the grid as a read of the chip would
// leave it, and a control panel, opened unless a test wants to watch the opening.
struct PanelFixture : ControlFixture
{
    PanelFixture(double vsup, double code, bool opened = true)
    {
        showCodes(vsup, code);
        if (opened)
            panel.open();
    }

    ControlPanel panel{model, grid()};
};

} // namespace

class TestControlPanel : public QObject
{
    Q_OBJECT

private slots:
    void openingShowsModel_data()
    {
        QTest::addColumn<double>("vsup");
        QTest::addColumn<double>("code");
        QTest::addColumn<int>("position");
        QTest::addColumn<QStringList>("scale");
        const QStringList tenVolts{" 10", " 7.5", " 5", " 2.5", " 0"};
        QTest::newRow("full scale") << 10.0 << 1024.0 << 0 << tenVolts;
        QTest::newRow("quarter marks truncated")
            << 1.001 << 0.0 << 1024 << QStringList{" 1.001", " .75", " .5", " .25", " 0"};
    }

    void openingShowsModel()
    {
        QFETCH(double, vsup);
        QFETCH(double, code);
        QFETCH(int, position);
        QFETCH(QStringList, scale);

        PanelFixture f(vsup, code, false);
        QList<int> openFlagDuringRefresh;
        connect(&f.panel, &ControlPanel::codeTextChanged,
                [&] { openFlagDuringRefresh.append(f.model.controlPanelOpen); });
        f.panel.open();
        QVERIFY(!openFlagDuringRefresh.contains(1)); // open only once the first refresh is done
        QCOMPARE(f.model.controlPanelOpen, 1);
        // The labels show what the grid does.
        for (int i = 1; i <= device::channelCount; ++i) {
            QCOMPARE(f.panel.position(i), position);
            QCOMPARE(f.panel.codeText(i), f.grid().hexText(i));
            QCOMPARE(f.panel.voltageText(i), f.grid().voltageText(i));
        }
        QStringList marks;
        for (int mark = 0; mark < ControlPanel::scaleMarkCount; ++mark)
            marks.append(f.panel.scaleText(mark));
        QCOMPARE(marks, scale);
        QVERIFY(f.dacWrites().isEmpty()); // showing the model is not a move
    }

    void moveWritesItsChannel_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("sent");
        QTest::addColumn<QString>("codeText");
        QTest::newRow("Vc1 to the top") << 19 << 0 << 0x12 << 1023 << "400";
        QTest::newRow("19") << 21 << 724 << 0x14 << 300 << "12C";
        QTest::newRow("1 to the bottom") << 1 << 1024 << 0x00 << 0 << "0";
    }

    void moveWritesItsChannel()
    {
        QFETCH(int, index);
        QFETCH(int, position);
        QFETCH(int, reg);
        QFETCH(int, sent);
        QFETCH(QString, codeText);

        PanelFixture f(10, 512);
        f.panel.sliderMoved(index, position);
        // The move itself, then the grid's box writing the channel back; nothing else moved.
        QCOMPARE(f.dacWritesWithRegister(), (QList<QPair<int, int>>{{reg, sent}, {reg, sent}}));
        QCOMPARE(f.model.dacCode[index], double(1024 - position)); // 1024 stays full scale
        QCOMPARE(f.panel.codeText(index), codeText);
        QCOMPARE(f.grid().hexText(index), codeText);
    }

    void dragsKeepUpAndLoseNothing()
    {
        PanelFixture f(10, 0);
        f.board.setLineDelay(std::chrono::microseconds(20));

        // A drag from the bottom to the top, reported faster than the bus can follow: the event
        // loop gets a turn only between bursts of positions.
        int positions = 0;
        int turns = 0;
        int position = ControlPanel::bottomPosition;
        while (position > ControlPanel::topPosition) {
            for (int k = 0; k < 64 && position > ControlPanel::topPosition; ++k, ++positions)
                f.panel.sliderDragged(5, --position);
            QCOMPARE(f.panel.position(5), position); // the thumb stays under the hand
            QCoreApplication::processEvents();
            // One move per turn: the channel itself, then its grid box writing it back.
            QVERIFY(f.dacWrites(4).size() <= 2 * ++turns);
        }
        f.panel.sliderDragged(5, 3); // the hand comes back a little and holds still
        QCoreApplication::processEvents();

        QVERIFY(!f.panel.hasPendingMove());
        QCOMPARE(f.model.dacCode[5], 1021.0);
        QCOMPARE(f.dacWrites(4).last(), 1021);
        QVERIFY(f.dacWrites(4).size() * 20 < positions);
        f.panel.sliderDragged(5, 5); // and once more, let go at once
        f.panel.sliderReleased(5);
        QCOMPARE(f.dacWrites(4).last(), 1019);

        // No dragged position is lost.
        f.panel.sliderDragged(5, 1024 - 100);
        f.panel.sliderDragged(6, 1024 - 200); // another thumb: the first drag is written first
        QCOMPARE(f.chip0().dacRegister(4), quint16(100));
        f.panel.sliderMoved(7, 1024 - 300); // a key on a third: the second drag goes before it
        QCOMPARE(f.dacWrites(5), (QList<int>{200, 200}));
        f.panel.sliderDragged(8, 1024 - 700);
        f.panel.close();
        QCOMPARE(f.model.controlPanelOpen, 0);
        QCOMPARE(f.chip0().dacRegister(7), quint16(700));
        f.clearEvents();
        QCoreApplication::processEvents();
        QVERIFY(f.dacWrites().isEmpty());
    }

    // The panel follows every change of the grid, a typed voltage and the arrows included, so
    // that a step on its slider goes one code up from what the chip holds.
    void panelFollowsTypingAndSteps()
    {
        PanelFixture f(10, 0);
        f.grid().voltageBoxClicked(7);
        f.grid().voltageBoxEdited(7, QStringLiteral("1"));
        f.grid().voltageBoxLeft(7);
        QCOMPARE(f.panel.codeText(7), f.grid().hexText(7));
        f.grid().stepChannelCode(1);
        f.grid().stepChannelCode(1);
        QCOMPARE(f.grid().hexText(7), QStringLiteral("68"));
        QCOMPARE(f.panel.codeText(7), QStringLiteral("68"));
        f.clearEvents();
        f.panel.sliderMoved(7, f.panel.position(7) - 1); // Up: one code more
        QCOMPARE(f.dacWrites().last(), 0x69);
        QVERIFY(!f.dacWrites().contains(0x67));
    }
};

QTEST_GUILESS_MAIN(TestControlPanel)
#include "tst_controlpanel.moc"
