// The Windows program's compiled resources (demo/win32/chiroscope.rc, compiled by MinGW's
// windres into a .res file) against the templates and strings that the Qt program is built
// from (demo/resources.cpp): the two builds show one design.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "resources.h"

namespace chiroscope {
namespace {

// Window styles as the compiled templates carry them.
constexpr std::uint32_t kTabStop = 0x00010000;
constexpr std::uint32_t kGroup = 0x00020000;  // also the minimise box on a window
constexpr std::uint32_t kMaximizeBox = 0x00010000;
constexpr std::uint32_t kVisible = 0x10000000;
constexpr std::uint32_t kFrameStyles = 0x80000000 | 0x00C00000 | 0x00080000 | 0x80;  // pop-up,
// caption, system menu, modal frame
constexpr std::uint32_t kSetFont = 0x40;
constexpr std::uint32_t kAppWindow = 0x00040000;
constexpr std::uint32_t kDefPushButton = 0x1;
constexpr std::uint32_t kStaticIcon = 0x3;
constexpr std::uint32_t kNoPrefix = 0x80;
constexpr std::uint16_t kButtonClass = 0x80;
constexpr std::uint16_t kStaticClass = 0x82;
constexpr int kDialogType = 5;
constexpr int kStringType = 6;
constexpr int kGroupIconType = 14;

// A resource name or class: a number or a text.
struct NameOrNumber {
    std::optional<int> number;
    std::string text;
};

class Reader {
public:
    Reader(const std::vector<unsigned char>& data, std::size_t at = 0) : data_(&data), at_(at) {}

    template <typename T>
    T take() {
        T value{};
        if (at_ + sizeof value <= data_->size()) {
            std::memcpy(&value, data_->data() + at_, sizeof value);
        }
        at_ += sizeof value;
        return value;
    }
    // Only ASCII is used in these resources.
    std::string text() {
        std::string out;
        for (auto c = take<std::uint16_t>(); c != 0 && at_ <= data_->size();
             c = take<std::uint16_t>()) {
            out += static_cast<char>(c);
        }
        return out;
    }
    NameOrNumber nameOrNumber() {
        const auto first = take<std::uint16_t>();
        if (first == 0xFFFF) {
            return {take<std::uint16_t>(), {}};
        }
        at_ -= 2;
        return {std::nullopt, text()};
    }
    void align(std::size_t bytes, std::size_t from = 0) {
        at_ += (bytes - (at_ - from) % bytes) % bytes;
    }
    std::size_t at() const { return at_; }
    void skip(std::size_t bytes) { at_ += bytes; }

private:
    const std::vector<unsigned char>* data_;
    std::size_t at_;
};

struct Resource {
    int type;
    int id;
    std::vector<unsigned char> data;
};

[[maybe_unused]] std::vector<Resource> readResFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), {});
    std::vector<Resource> resources;
    Reader read(bytes);
    while (read.at() + 32 <= bytes.size()) {
        const std::size_t start = read.at();
        const auto dataSize = read.take<std::uint32_t>();
        const auto headerSize = read.take<std::uint32_t>();
        const NameOrNumber type = read.nameOrNumber();
        const NameOrNumber name = read.nameOrNumber();
        const std::size_t data = start + headerSize;
        if (type.number && name.number && data + dataSize <= bytes.size()) {
            resources.push_back({*type.number, *name.number,
                                 std::vector<unsigned char>(bytes.begin() + data,
                                                            bytes.begin() + data + dataSize)});
        }
        read = Reader(bytes, data + dataSize);
        read.align(4);
    }
    return resources;
}

// A predefined window class, by its number or by its name (the CONTROL form gives the name).
bool isClass(const NameOrNumber& windowClass, int number, const std::string& name) {
    std::string lower = windowClass.text;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return windowClass.number == number || (!windowClass.number && lower == name);
}

struct CompiledControl {
    std::uint32_t style;
    int x, y, width, height;
    int id;
    NameOrNumber windowClass;
    NameOrNumber text;
};

struct CompiledDialog {
    bool extended = false;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    int x = 0, y = 0, width = 0, height = 0;
    std::string caption;
    int pointSize = 0;
    std::string font;
    std::vector<CompiledControl> controls;
};

// A dialog template in the plain or the extended form.
CompiledDialog readDialog(const std::vector<unsigned char>& data) {
    CompiledDialog dialog;
    Reader read(data);
    dialog.extended = read.take<std::uint16_t>() == 1 && read.take<std::uint16_t>() == 0xFFFF;
    if (dialog.extended) {
        read.take<std::uint32_t>();  // help id
        dialog.exStyle = read.take<std::uint32_t>();
        dialog.style = read.take<std::uint32_t>();
    } else {
        read = Reader(data);
        dialog.style = read.take<std::uint32_t>();
        dialog.exStyle = read.take<std::uint32_t>();
    }
    const int count = read.take<std::uint16_t>();
    dialog.x = read.take<std::int16_t>();
    dialog.y = read.take<std::int16_t>();
    dialog.width = read.take<std::int16_t>();
    dialog.height = read.take<std::int16_t>();
    read.nameOrNumber();  // menu
    read.nameOrNumber();  // class
    dialog.caption = read.text();
    if ((dialog.style & kSetFont) != 0) {
        dialog.pointSize = read.take<std::uint16_t>();
        if (dialog.extended) {
            read.skip(4);  // weight, italic, character set
        }
        dialog.font = read.text();
    }
    for (int i = 0; i < count; ++i) {
        read.align(4);
        CompiledControl control{};
        if (dialog.extended) {
            read.take<std::uint32_t>();  // help id
            read.take<std::uint32_t>();  // extended style
            control.style = read.take<std::uint32_t>();
        } else {
            control.style = read.take<std::uint32_t>();
            read.take<std::uint32_t>();  // extended style
        }
        control.x = read.take<std::int16_t>();
        control.y = read.take<std::int16_t>();
        control.width = read.take<std::int16_t>();
        control.height = read.take<std::int16_t>();
        control.id = dialog.extended ? read.take<std::int32_t>() : read.take<std::int16_t>();
        control.windowClass = read.nameOrNumber();
        control.text = read.nameOrNumber();
        read.skip(read.take<std::uint16_t>());
        dialog.controls.push_back(control);
    }
    return dialog;
}

class WindowsResources : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef CHIROSCOPE_WINDOWS_RES
        GTEST_SKIP() << "MinGW-w64's windres is not installed: the Windows resources are not built";
#else
        resources_ = readResFile(CHIROSCOPE_WINDOWS_RES);
        ASSERT_FALSE(resources_.empty()) << CHIROSCOPE_WINDOWS_RES;
#endif
    }

    const std::vector<unsigned char>* find(int type, int id) const {
        for (const Resource& resource : resources_) {
            if (resource.type == type && resource.id == id) {
                return &resource.data;
            }
        }
        return nullptr;
    }

    std::vector<Resource> resources_;
};

class WindowsDialogTemplate : public WindowsResources, public ::testing::WithParamInterface<int> {};

TEST_P(WindowsDialogTemplate, MatchesTheQtTemplate) {
    const DialogTemplate& expected = loadDialogTemplate(GetParam());
    const auto* data = find(kDialogType, GetParam());
    ASSERT_NE(data, nullptr) << "no dialog " << GetParam();
    const CompiledDialog dialog = readDialog(*data);

    EXPECT_EQ(dialog.caption, expected.caption);
    EXPECT_EQ(dialog.x, expected.x);
    EXPECT_EQ(dialog.y, expected.y);
    EXPECT_EQ(dialog.width, expected.width);
    EXPECT_EQ(dialog.height, expected.height);
    EXPECT_EQ(dialog.font, "MS Sans Serif");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.style & kFrameStyles, kFrameStyles);
    EXPECT_EQ(dialog.style & (kGroup | kMaximizeBox), 0u) << "no minimise or maximise box";
    // The readout window is the program's main window: extended form, shown at once, in the
    // task bar. The About box is shown by its modal run.
    const bool readout = GetParam() == kIddChiroscope;
    EXPECT_EQ(dialog.extended, readout);
    EXPECT_EQ((dialog.style & kVisible) != 0, readout);
    EXPECT_EQ((dialog.exStyle & kAppWindow) != 0, readout);

    ASSERT_EQ(dialog.controls.size(), expected.controls.size());
    for (std::size_t i = 0; i < expected.controls.size(); ++i) {
        const ControlTemplate& want = expected.controls[i];
        const CompiledControl& got = dialog.controls[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (" + want.text + ")");
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.width, want.width);
        EXPECT_EQ(got.height, want.height);
        EXPECT_EQ((got.style & kTabStop) != 0, want.tabStop);
        EXPECT_EQ((got.style & kGroup) != 0, want.groupStart);
        switch (want.kind) {
            case ControlKind::DefaultPushButton:
                EXPECT_TRUE(isClass(got.windowClass, kButtonClass, "button"));
                EXPECT_EQ(got.style & 0xF, kDefPushButton);
                EXPECT_EQ(got.text.text, want.text);
                break;
            case ControlKind::StaticText:
                EXPECT_TRUE(isClass(got.windowClass, kStaticClass, "static"));
                EXPECT_EQ(got.style & 0x1F, 0u) << "left-aligned text";
                EXPECT_EQ((got.style & kNoPrefix) != 0, want.noPrefix);
                EXPECT_EQ(got.text.text, want.text);
                break;
            case ControlKind::Icon:
                EXPECT_TRUE(isClass(got.windowClass, kStaticClass, "static"));
                EXPECT_EQ(got.style & 0x1F, kStaticIcon);
                EXPECT_EQ(got.text.number, kIdrMainFrame);
                break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Templates, WindowsDialogTemplate,
                         ::testing::Values(kIddAboutBox, kIddChiroscope),
                         [](const auto& info) { return "Template" + std::to_string(info.param); });

// Strings are kept in blocks of 16; a block's strings each have a length, then the text.
TEST_F(WindowsResources, MenuEntryStringsMatchTheQtStrings) {
    for (int id : {kIdsAboutBox, kIdsPlot}) {
        const auto* block = find(kStringType, id / 16 + 1);
        ASSERT_NE(block, nullptr) << id;
        Reader read(*block);
        for (int i = 0; i < id % 16; ++i) {
            read.skip(2 * read.take<std::uint16_t>());
        }
        std::string text;
        for (int length = read.take<std::uint16_t>(); length > 0; --length) {
            text += static_cast<char>(read.take<std::uint16_t>());
        }
        EXPECT_EQ(QString::fromStdString(text), loadString(id)) << id;
    }
}

// The icon is made from the Qt build's images at build time; its group lists both sizes in
// 16 colours.
TEST_F(WindowsResources, IconHasBothSizesInSixteenColours) {
    const auto* group = find(kGroupIconType, kIdrMainFrame);
    ASSERT_NE(group, nullptr);
    Reader read(*group);
    read.skip(4);
    const int count = read.take<std::uint16_t>();
    std::vector<int> sizes;
    for (int i = 0; i < count; ++i) {
        const int width = read.take<std::uint8_t>();
        read.take<std::uint8_t>();
        const int colours = read.take<std::uint8_t>();
        read.skip(3);
        const int bits = read.take<std::uint16_t>();
        read.skip(6);
        EXPECT_EQ(colours, 16);
        EXPECT_EQ(bits, 4);
        sizes.push_back(width);
    }
    EXPECT_EQ(sizes, (std::vector<int>{32, 16}));
}

}  // namespace
}  // namespace chiroscope
