// Start-up against emulated gloves on pseudo-terminals, handed in as the two ports to try.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <QTest>

#include <chrono>
#include <string>

#include "application.h"
#include "dialog_template.h"
#include "glove_emulator.h"
#include "modal_watcher.h"
#include "resources.h"
#include "startup.h"

namespace chiroscope {
namespace {

using chirolink::tools::GloveEmulator;
using namespace std::chrono_literals;

constexpr std::array<std::uint8_t, 7> kValues = {17, 34, 51, 68, 200, 255, 0};

std::unique_ptr<GloveEmulator> glove() {
    auto emulator = std::make_unique<GloveEmulator>();
    emulator->setInstant(true);
    emulator->setFixedValues(kValues);
    return emulator;
}

std::unique_ptr<GloveEmulator> silentLine() {
    auto emulator = std::make_unique<GloveEmulator>();
    emulator->setSilent(true);
    return emulator;
}

// What the readout window showed while it ran, and whether it was the main window.
struct ReadoutSeen {
    bool wasMainWindow = false;
    bool showedGloveValues = false;
};

ReadoutSeen watchReadout(QWidget& modal) {
    ReadoutSeen seen;
    seen.wasMainWindow = ChiroscopeApplication::instance()->mainWindow() == &modal;
    seen.showedGloveValues = QTest::qWaitFor(
        [&] {
            for (std::size_t i = 0; i < kValues.size(); ++i) {
                auto* field = qobject_cast<QLabel*>(dialogItem(modal, kFieldForPosition[i]));
                if (field == nullptr || field->text() != QString::number(kValues[i])) {
                    return false;
                }
            }
            return true;
        },
        5000);
    return seen;
}

TEST(Startup, GloveOnTheFirstPortShowsItsValuesAndLeavesTheSecondPortAlone) {
    auto first = glove();
    auto second = glove();
    ReadoutSeen readout;
    testing::ModalWatcher watcher([&](QWidget& modal) { readout = watchReadout(modal); });
    Startup startup({first->path(), second->path()});
    EXPECT_FALSE(startup.initInstance());
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].className, "chiroscope::ReadoutDialog");
    EXPECT_EQ(watcher.seen()[0].title, "Chiroscope");
    EXPECT_TRUE(readout.wasMainWindow);
    EXPECT_TRUE(readout.showedGloveValues);
    EXPECT_EQ(ChiroscopeApplication::instance()->mainWindow(), nullptr);
    EXPECT_GE(first->countReceived(GloveEmulator::kHello), 1u);
    EXPECT_TRUE(second->received().empty());
}

TEST(Startup, GloveOnlyOnTheSecondPortIsFoundAfterTheFirstFails) {
    auto first = silentLine();
    auto second = glove();
    ReadoutSeen readout;
    testing::ModalWatcher watcher([&](QWidget& modal) { readout = watchReadout(modal); });
    Startup startup({first->path(), second->path()});
    startup.initInstance();
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].className, "chiroscope::ReadoutDialog");
    EXPECT_TRUE(readout.showedGloveValues);
    const auto firstTried = first->received();
    const auto secondTried = second->received();
    ASSERT_FALSE(firstTried.empty());
    ASSERT_FALSE(secondTried.empty());
    EXPECT_LT(firstTried.front().at, secondTried.front().at);
}

TEST(Startup, NoGloveShowsOnlyTheMessageBoxAndEnds) {
    for (const char* where : {"missing devices", "silent lines"}) {
        SCOPED_TRACE(where);
        std::unique_ptr<GloveEmulator> first;
        std::unique_ptr<GloveEmulator> second;
        std::vector<std::string> ports = {"/nonexistent/chiroscope-test-com1",
                                          "/nonexistent/chiroscope-test-com2"};
        if (std::string(where) == "silent lines") {
            first = silentLine();
            second = silentLine();
            ports = {first->path(), second->path()};
        }
        QString text;
        QMessageBox::Icon icon = QMessageBox::Critical;
        QMessageBox::StandardButtons buttons;
        testing::ModalWatcher watcher([&](QWidget& modal) {
            if (auto* box = qobject_cast<QMessageBox*>(&modal)) {
                text = box->text();
                icon = box->icon();
                buttons = box->standardButtons();
            }
        });
        Startup startup(ports);
        EXPECT_FALSE(startup.initInstance());
        ASSERT_EQ(watcher.seen().size(), 1u);
        EXPECT_EQ(watcher.seen()[0].className, "QMessageBox");
        EXPECT_EQ(watcher.seen()[0].title, "Chiroscope");
        EXPECT_EQ(text, "Unable to initialise glove\n");
        EXPECT_EQ(icon, QMessageBox::NoIcon);
        EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        if (first) {
            EXPECT_GE(first->countReceived(GloveEmulator::kHello), 1u);
            EXPECT_GE(second->countReceived(GloveEmulator::kHello), 1u);
        }
    }
}

}  // namespace
}  // namespace chiroscope
