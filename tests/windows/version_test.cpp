// The version resources of the shipped Windows files.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct VersionField {
    const char* file;
    const char* key;
    const char* value;
};

std::vector<char> versionInfo(const char* file) {
    DWORD ignored = 0;
    std::vector<char> data(GetFileVersionInfoSizeA(file, &ignored));
    if (data.empty() ||
        !GetFileVersionInfoA(file, 0, static_cast<DWORD>(data.size()), data.data())) {
        data.clear();
    }
    return data;
}

class Version : public ::testing::TestWithParam<VersionField> {};

TEST_P(Version, StringField) {
    const auto data = versionInfo(GetParam().file);
    ASSERT_FALSE(data.empty()) << "no version resource in " << GetParam().file;
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + GetParam().key;
    char* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
        << key;
    EXPECT_STREQ(value, GetParam().value);
}

const VersionField kFields[] = {
    {"Chirolink.dll", "FileVersion", "1, 0, 0, 1"},
    {"Chirolink.dll", "ProductVersion", "1, 0, 0, 1"},
    {"Chirolink.dll", "FileDescription", "Chirolink"},
    {"Chirolink.dll", "InternalName", "Chirolink"},
    {"Chirolink.dll", "OriginalFilename", "Chirolink.dll"},
    {"Chiroscope.exe", "FileVersion", "1, 0, 0, 1"},
    {"Chiroscope.exe", "ProductVersion", "1, 0, 0, 1"},
    {"Chiroscope.exe", "FileDescription", "CHIROSCOPE MFC Application"},
    {"Chiroscope.exe", "InternalName", "CHIROSCOPE"},
    {"Chiroscope.exe", "OriginalFilename", "CHIROSCOPE.EXE"},
    {"Chiroscope.exe", "ProductName", "CHIROSCOPE Application"},
};

INSTANTIATE_TEST_SUITE_P(Fields, Version, ::testing::ValuesIn(kFields), [](const auto& info) {
    std::string name = std::string(info.param.file) + "_" + info.param.key;
    for (char& c : name) {
        c = c == '.' ? '_' : c;
    }
    return name;
});

class FixedVersion : public ::testing::TestWithParam<const char*> {};

TEST_P(FixedVersion, IsOneZeroZeroOne) {
    const auto data = versionInfo(GetParam());
    ASSERT_FALSE(data.empty()) << "no version resource in " << GetParam();
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
}

INSTANTIATE_TEST_SUITE_P(Files, FixedVersion, ::testing::Values("Chirolink.dll", "Chiroscope.exe"),
                         [](const auto& info) {
                             std::string name = info.param;
                             return name.replace(name.find('.'), 1, "_");
                         });

}  // namespace
