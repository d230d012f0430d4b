// chirolink_list_ports and chirolink_probe of Chirolink.dll under Wine, whose prefix maps COM1,
// COM2 and COM5 to emulated gloves' pseudo-terminals.
#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "chirolink_glove.h"

namespace {

// The calls looked up in the DLL, as a program that binds them at run time does; by ordinal
// too, as P/Invoke can.
TEST(PortCalls, ListTheMappedPortsAndProbeThemAtOnce) {
    const HMODULE dll = LoadLibraryA("Chirolink.dll");
    ASSERT_NE(dll, nullptr);
    const auto list = reinterpret_cast<decltype(&chirolink_list_ports)>(
        reinterpret_cast<void*>(GetProcAddress(dll, "chirolink_list_ports")));
    const auto probe = reinterpret_cast<decltype(&chirolink_probe)>(
        reinterpret_cast<void*>(GetProcAddress(dll, "chirolink_probe")));
    ASSERT_NE(list, nullptr);
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(dll, MAKEINTRESOURCEA(15))),
              reinterpret_cast<void*>(list));
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(dll, MAKEINTRESOURCEA(16))),
              reinterpret_cast<void*>(probe));

    std::vector<chirolink_port_info> ports(64);
    int32_t count = 0;
    ASSERT_EQ(list(ports.data(), 64, &count), CHIROLINK_OK);
    std::vector<std::string> names;
    for (int32_t i = 0; i < std::min(count, 64); ++i) {
        names.emplace_back(ports[i].name);
        EXPECT_EQ(ports[i].usb_vendor_id, -1) << ports[i].name << ": Wine's ports are not on USB";
    }
    const auto at = [&](const char* name) { return std::find(names.begin(), names.end(), name); };
    ASSERT_NE(at("COM1"), names.end());
    ASSERT_NE(at("COM2"), names.end());
    ASSERT_NE(at("COM5"), names.end());
    EXPECT_LT(at("COM2"), at("COM5"));

    // The glove on COM1, a silent COM2, no COM9 at all.
    int32_t results[3] = {};
    const char* probed[3] = {"COM1", "COM2", "COM9"};
    std::vector<std::thread> threads;
    const DWORD start = GetTickCount();
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&, i] { results[i] = probe(probed[i]); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(results[0], CHIROLINK_OK);
    EXPECT_EQ(results[1], CHIROLINK_ERR_NO_GLOVE);
    EXPECT_EQ(results[2], CHIROLINK_ERR_MISSING);
    EXPECT_LT(GetTickCount() - start, 2400u) << "the probes did not run at once";
    FreeLibrary(dll);
}

}  // namespace
