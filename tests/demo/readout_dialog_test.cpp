#include <gtest/gtest.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimerEvent>

#include <algorithm>
#include <array>
#include <cstring>

#include "dialog_template.h"
#include "modal_watcher.h"
#include "readout_dialog.h"
#include "resources.h"

namespace chiroscope {
namespace {

alignas(8) unsigned char gSample[8] = {};
unsigned char* sample() {
    return gSample;
}

void setSample(const std::array<unsigned char, 8>& bytes) {
    std::memcpy(gSample, bytes.data(), bytes.size());
}

QString fieldText(const ReadoutDialog& dialog, int id) {
    auto* label = qobject_cast<QLabel*>(dialogItem(dialog, id));
    return label == nullptr ? QStringLiteral("<missing>") : label->text();
}

void tick(ReadoutDialog& dialog) {
    QTimerEvent event(dialog.refreshTimerId());
    QCoreApplication::sendEvent(&dialog, &event);
}

class ReadoutDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        setSample({});
        dialog.show();
        ASSERT_NE(dialog.refreshTimerId(), -1);
    }

    ReadoutDialog dialog{&sample};
};

TEST_F(ReadoutDialogTest, EachSamplePositionGoesToItsField) {
    struct Mapping {
        int position;
        int field;
    };
    const Mapping mappings[] = {{0, 1000}, {1, 1001}, {2, 1002}, {3, 1004},
                                {4, 1005}, {5, 1006}, {6, 1007}};
    for (const Mapping& mapping : mappings) {
        std::array<unsigned char, 8> bytes{};
        bytes[static_cast<std::size_t>(mapping.position)] = 42;
        setSample(bytes);
        tick(dialog);
        for (int field : kFieldForPosition) {
            EXPECT_EQ(fieldText(dialog, field), field == mapping.field ? "42" : "0")
                << "position " << mapping.position << " field " << field;
        }
    }
}

TEST_F(ReadoutDialogTest, BytesShowAsUnsignedDecimal) {
    for (unsigned char value : {0, 1, 127, 128, 200, 255}) {
        setSample({value, value, value, value, value, value, value, 0});
        tick(dialog);
        for (int field : kFieldForPosition) {
            EXPECT_EQ(fieldText(dialog, field), QString::number(value)) << field;
        }
    }
}

TEST_F(ReadoutDialogTest, TheChecksumIsNeverShown) {
    setSample({1, 2, 3, 4, 5, 6, 7, 234});
    tick(dialog);
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        EXPECT_NE(label->text(), "234");
    }
    EXPECT_EQ(fieldText(dialog, kIdcPitch), "7");
}

TEST_F(ReadoutDialogTest, FieldsStayEmptyUntilTheFirstTickAbout100MsAfterInitialisation) {
    QElapsedTimer clock;
    clock.start();
    setSample({9, 9, 9, 9, 9, 9, 9, 0});
    for (int field : kFieldForPosition) {
        EXPECT_EQ(fieldText(dialog, field), "") << field;
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fieldText(dialog, kIdcFinger1).isEmpty(); }, 5000));
    EXPECT_GE(clock.elapsed(), 90);
    for (int field : kFieldForPosition) {
        EXPECT_EQ(fieldText(dialog, field), "9") << field;
    }
    // And it keeps refreshing.
    setSample({10, 10, 10, 10, 10, 10, 10, 0});
    EXPECT_TRUE(QTest::qWaitFor([&] { return fieldText(dialog, kIdcPitch) == "10"; }, 5000));
}

TEST(ReadoutDialog, OtherTimersChangeNothing) {
    setSample({5, 5, 5, 5, 5, 5, 5, 0});
    ReadoutDialog dialog(&sample);
    dialog.show();
    const int own = dialog.refreshTimerId();
    for (int other : {1, 2, own + 1, own - 1, 0x7fff}) {
        if (other == own) {
            continue;
        }
        QTimerEvent event(other);
        QCoreApplication::sendEvent(&dialog, &event);
        EXPECT_EQ(fieldText(dialog, kIdcFinger1), "") << other;
    }
    tick(dialog);
    EXPECT_EQ(fieldText(dialog, kIdcFinger1), "5");
}

// The program's main window: a plain window that task bars list, not a dialog (the end-to-end
// test checks how X11 maps it), with the caption bar and close box of its template.
TEST(ReadoutDialog, IsAPlainWindowWithCloseBoxButNoMinimiseOrMaximise) {
    ReadoutDialog dialog(&sample);
    EXPECT_EQ(dialog.windowType(), Qt::Window);
    const Qt::WindowFlags flags = dialog.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
}

TEST(ReadoutDialog, CarriesIcon128WithItsLargeAndSmallImages) {
    ReadoutDialog dialog(&sample);
    dialog.show();
    const QList<QSize> sizes = dialog.windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_EQ(dialog.windowIcon().cacheKey(), dialog.icon().cacheKey());
}

TEST(Icon128, Has32And16PixelImagesOfAtMost16Colours) {
    for (const char* path : {":/chiroscope/icon-32.png", ":/chiroscope/icon-16.png"}) {
        SCOPED_TRACE(path);
        const QImage image(QString::fromLatin1(path));
        ASSERT_FALSE(image.isNull());
        EXPECT_LE(image.colorCount(), 16);
        EXPECT_GE(image.colorCount(), 2);
    }
    EXPECT_EQ(QImage(":/chiroscope/icon-32.png").size(), QSize(32, 32));
    EXPECT_EQ(QImage(":/chiroscope/icon-16.png").size(), QSize(16, 16));
    EXPECT_FALSE(loadIcon(kIdrMainFrame).isNull());
    EXPECT_TRUE(loadIcon(129).isNull());
}

TEST(ReadoutDialog, MinimisedIconIsCentredRoundingTowardZero) {
    struct Case {
        QSize client, icon;
        QPoint origin;
    };
    const Case cases[] = {
        {{32, 32}, {32, 32}, {0, 0}},    {{100, 50}, {32, 32}, {34, 9}},
        {{33, 34}, {32, 32}, {1, 1}},    {{20, 10}, {32, 32}, {-5, -10}},
        {{160, 40}, {16, 16}, {72, 12}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadoutDialog::iconOrigin(c.client, c.icon), c.origin)
            << c.client.width() << "x" << c.client.height();
    }
}

// The system menu, shown as the dialog's context menu.

TEST_F(ReadoutDialogTest, SystemMenuEndsWithASeparatorTheAboutEntryAndThePlotEntry) {
    QMenu* menu = dialog.systemMenu();
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_TRUE(actions[0]->isSeparator());
    EXPECT_EQ(actions[1]->text(), "&About Chiroscope...");
    EXPECT_EQ(actions[1]->data().toUInt(), 0x0010u);
    EXPECT_EQ(loadString(kIdsAboutBox), "&About Chiroscope...");
    EXPECT_EQ(actions[2]->text(), "&Plot...\tCtrl+P");
    EXPECT_EQ(actions[2]->data().toUInt(), 0x0020u);
}

TEST(SystemMenu, AnEmptyString101AddsNothing) {
    QMenu menu;
    ReadoutDialog::appendAboutEntry(menu, QString());
    EXPECT_TRUE(menu.actions().isEmpty());
    ReadoutDialog::appendAboutEntry(menu, QStringLiteral("&Info"));
    EXPECT_EQ(menu.actions().size(), 2);
}

TEST_F(ReadoutDialogTest, RightClickAnywhereAndTheMenuKeyOpenTheSystemMenu) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QMenu* menu = dialog.systemMenu();
    ASSERT_NE(menu, nullptr);
    QWidget* places[] = {&dialog, dialogItem(dialog, kIdcRoll), dialogItem(dialog, kIdOk)};
    for (QWidget* place : places) {
        SCOPED_TRACE(place->metaObject()->className());
        // Through the window, the way the platform delivers a click.
        QTest::mouseClick(dialog.windowHandle(), Qt::RightButton, {},
                          place->mapTo(&dialog, QPoint(3, 3)));
        EXPECT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 2000));
        menu->hide();
    }
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(10, 10),
                          dialog.mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(&dialog, &key);
    EXPECT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 2000));
    menu->hide();
}

TEST_F(ReadoutDialogTest, TheAccessKeyAOpensTheAboutBoxAndClosingItReturnsToTheReadout) {
    testing::ModalWatcher watcher;
    QMenu* menu = dialog.systemMenu();
    ASSERT_NE(menu, nullptr);
    menu->popup(dialog.mapToGlobal(QPoint(5, 5)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    QTest::keyClick(menu, Qt::Key_A);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.seen().empty(); }, 3000));
    EXPECT_EQ(watcher.seen()[0].className, "chiroscope::AboutBox");
    EXPECT_EQ(watcher.seen()[0].title, "About Chiroscope");
    EXPECT_TRUE(dialog.isVisible());
    setSample({3, 3, 3, 3, 3, 3, 3, 0});
    tick(dialog);
    EXPECT_EQ(fieldText(dialog, kIdcFinger1), "3");
}

TEST_F(ReadoutDialogTest, CommandsWhoseHighBitsAre0x0010OpenTheAboutBox) {
    for (unsigned command = 0x0000; command <= 0x0120; ++command) {
        const bool opens = (command >= 0x0010 && command <= 0x001F);
        if (!opens && command % 7 != 0 && command != 0x000F && command != 0x0020 &&
            command != 0x0110) {
            continue;  // a sample of the others
        }
        testing::ModalWatcher watcher;
        dialog.systemCommand(command);
        QTest::qWait(opens ? 0 : 20);
        ASSERT_EQ(watcher.seen().size(), opens ? 1u : 0u) << std::hex << command;
        if (opens) {
            EXPECT_EQ(watcher.seen()[0].className, "chiroscope::AboutBox");
        }
        EXPECT_TRUE(dialog.isVisible()) << std::hex << command;
    }
}

TEST_F(ReadoutDialogTest, ThePlatformCloseCommandClosesTheWindow) {
    testing::ModalWatcher watcher;
    dialog.systemCommand(ReadoutDialog::kScClose);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(watcher.seen().empty());
}

}  // namespace
}  // namespace chiroscope
