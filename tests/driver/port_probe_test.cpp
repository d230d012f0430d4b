// chirolink_probe against emulated gloves on pseudo-terminals.
#include <gtest/gtest.h>

#include "chirolink_glove.h"
#include "glove_emulator.h"

namespace {

using chirolink::tools::GloveEmulator;
using namespace std::chrono_literals;

// A glove answers the hello and is left as it was found: only hellos reached it, and the port
// is free at once for a link of its own.
TEST(Probe, FindsTheGloveWithHellosAloneAndLetsGoOfThePort) {
    GloveEmulator glove;
    glove.setInstant(true);
    ASSERT_EQ(chirolink_probe(glove.path().c_str()), CHIROLINK_OK);
    EXPECT_EQ(glove.countReceived(GloveEmulator::kHello), 1u);
    EXPECT_EQ(glove.received().size(), 1u) << "the probe sent more than the hello";
    chirolink_glove* handle = nullptr;
    ASSERT_EQ(chirolink_open(glove.path().c_str(), &handle), CHIROLINK_OK);
    EXPECT_EQ(chirolink_probe(glove.path().c_str()), CHIROLINK_ERR_BUSY) << "a port held by a link";
    chirolink_close(handle);
}

TEST(Probe, ASilentPortGetsThreeHellosAndNoGloveIsFound) {
    GloveEmulator silent;
    silent.setSilent(true);
    EXPECT_EQ(chirolink_probe(silent.path().c_str()), CHIROLINK_ERR_NO_GLOVE);
    EXPECT_EQ(silent.countReceived(GloveEmulator::kHello), 3u);
    EXPECT_EQ(chirolink_probe("/nonexistent/ttyUSB9"), CHIROLINK_ERR_MISSING);
    EXPECT_EQ(chirolink_probe(nullptr), CHIROLINK_ERR_ARG);
}

}  // namespace
