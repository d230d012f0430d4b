// The readout window and the About box against their designs: every control's identifier,
// kind, text, position, size and style, what the built widgets make of them, and that no text
// is clipped.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include <vector>

#include "about_box.h"
#include "dialog_template.h"
#include "readout_dialog.h"
#include "resources.h"

namespace chiroscope {
namespace {

alignas(8) unsigned char gZeroSample[8] = {};
unsigned char* zeroSample() {
    return gZeroSample;
}

using enum ControlKind;

struct Expected {
    int id;
    ControlKind kind;
    const char* text;
    int x, y, width, height;
    bool tabStop, groupStart, noPrefix;
};

const std::vector<Expected> kReadoutDesign = {
    {1, DefaultPushButton, "OK", 127, 7, 50, 14, true, false, false},
    {1000, StaticText, "", 47, 7, 23, 8, false, true, false},
    {1001, StaticText, "", 47, 21, 23, 8, false, true, false},
    {1002, StaticText, "", 47, 35, 23, 8, false, true, false},
    {1004, StaticText, "", 47, 49, 23, 8, false, true, false},
    {1005, StaticText, "", 47, 63, 23, 8, false, true, false},
    {1006, StaticText, "", 133, 49, 23, 8, false, true, false},
    {1007, StaticText, "", 133, 63, 23, 8, false, true, false},
    {-1, StaticText, "Finger 1:", 13, 7, 28, 8, false, true, false},
    {-1, StaticText, "Finger 2:", 13, 21, 28, 8, false, true, false},
    {-1, StaticText, "Finger 3:", 13, 35, 28, 8, false, true, false},
    {-1, StaticText, "Finger 4:", 13, 49, 28, 8, false, true, false},
    {-1, StaticText, "Finger 5:", 13, 63, 28, 8, false, true, false},
    {-1, StaticText, "Roll:", 111, 49, 15, 8, false, true, false},
    {-1, StaticText, "Pitch:", 107, 63, 19, 8, false, true, false},
};

const std::vector<Expected> kAboutDesign = {
    {-1, Icon, nullptr, 11, 17, 18, 20, false, false, false},
    {-1, StaticText, "Chiroscope Version 1.0", 40, 10, 119, 8, false, true, true},
    {-1, StaticText, nullptr, 40, 25, 119, 8, false, true, false},
    {1, DefaultPushButton, "OK", 178, 7, 32, 14, true, true, false},
};

void expectTemplate(const DialogTemplate& actual, const char* caption, int width, int height,
                    const std::vector<Expected>& design) {
    EXPECT_STREQ(actual.caption, caption);
    EXPECT_EQ(actual.x, 0);
    EXPECT_EQ(actual.y, 0);
    EXPECT_EQ(actual.width, width);
    EXPECT_EQ(actual.height, height);
    ASSERT_EQ(actual.controls.size(), design.size());
    for (std::size_t i = 0; i < design.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "control " << i);
        const ControlTemplate& control = actual.controls[i];
        const Expected& expected = design[i];
        EXPECT_EQ(control.id, expected.id);
        EXPECT_EQ(control.kind, expected.kind);
        if (expected.text != nullptr) {
            EXPECT_STREQ(control.text, expected.text);
        }
        EXPECT_EQ(control.x, expected.x);
        EXPECT_EQ(control.y, expected.y);
        EXPECT_EQ(control.width, expected.width);
        EXPECT_EQ(control.height, expected.height);
        EXPECT_EQ(control.tabStop, expected.tabStop);
        EXPECT_EQ(control.groupStart, expected.groupStart);
        EXPECT_EQ(control.noPrefix, expected.noPrefix);
    }
}

TEST(Templates, ReadoutWindowIsTemplate102AsDesigned) {
    expectTemplate(loadDialogTemplate(kIddChiroscope), "Chiroscope", 184, 79, kReadoutDesign);
}

TEST(Templates, AboutBoxIsTemplate100AsDesigned) {
    const DialogTemplate& about = loadDialogTemplate(kIddAboutBox);
    expectTemplate(about, "About Chiroscope", 217, 55, kAboutDesign);
    EXPECT_STRNE(about.controls[2].text, "");
}

TEST(Templates, OnlyTemplates100And102Exist) {
    EXPECT_EQ(loadDialogTemplate(100).id, 100);
    EXPECT_EQ(loadDialogTemplate(102).id, 102);
    EXPECT_THROW(loadDialogTemplate(101), std::out_of_range);
}

// The built controls, in template order, sit where the design puts them.
void expectBuilt(QDialog& dialog, const DialogTemplate& dialogTemplate) {
    const DialogUnits units = DialogUnits::fitting(dialog.font(), dialogTemplate);
    EXPECT_EQ(dialog.size(), units.toPixels(dialogTemplate.width, dialogTemplate.height));
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8(dialogTemplate.caption));
    const auto children = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    std::vector<QWidget*> controls;
    for (QWidget* child : children) {
        if (child->property(kItemIdProperty).isValid()) {
            controls.push_back(child);
        }
    }
    ASSERT_EQ(controls.size(), dialogTemplate.controls.size());
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const ControlTemplate& control = dialogTemplate.controls[i];
        QWidget* widget = controls[i];
        SCOPED_TRACE(testing::Message() << "control " << i << " id " << control.id);
        EXPECT_EQ(widget->property(kItemIdProperty).toInt(), control.id);
        const QRect box = units.toPixels(control.x, control.y, control.width, control.height);
        switch (control.kind) {
            case DefaultPushButton: {
                auto* button = qobject_cast<QPushButton*>(widget);
                ASSERT_NE(button, nullptr);
                EXPECT_TRUE(button->isDefault());
                EXPECT_EQ(button->text(), QString::fromUtf8(control.text));
                EXPECT_EQ(button->geometry(), box);
                break;
            }
            case StaticText: {
                auto* label = qobject_cast<QLabel*>(widget);
                ASSERT_NE(label, nullptr);
                EXPECT_EQ(label->text(), displayText(control));
                EXPECT_EQ(label->geometry(), box);
                EXPECT_TRUE(label->alignment().testFlag(Qt::AlignLeft));
                break;
            }
            case Icon: {
                auto* label = qobject_cast<QLabel*>(widget);
                ASSERT_NE(label, nullptr);
                EXPECT_EQ(label->pos(), box.topLeft());
                EXPECT_EQ(label->size(), QSize(32, 32));
                EXPECT_FALSE(label->pixmap().isNull());
                break;
            }
        }
        // Only tab stops take focus from the keyboard.
        EXPECT_EQ(static_cast<bool>(widget->focusPolicy() & Qt::TabFocus), control.tabStop);
    }
}

TEST(BuiltLayout, ReadoutWindowPlacesEveryControlOfTemplate102) {
    ReadoutDialog dialog(&zeroSample);
    expectBuilt(dialog, loadDialogTemplate(kIddChiroscope));
}

TEST(BuiltLayout, AboutBoxPlacesEveryControlOfTemplate100) {
    AboutBox about;
    expectBuilt(about, loadDialogTemplate(kIddAboutBox));
}

TEST(BuiltLayout, ReadoutWindowHasNoControl1003AndOnlyOkTakesTabFocus) {
    ReadoutDialog dialog(&zeroSample);
    EXPECT_EQ(dialogItem(dialog, 1003), nullptr);
    for (int id : kFieldForPosition) {
        EXPECT_NE(qobject_cast<QLabel*>(dialogItem(dialog, id)), nullptr) << id;
    }
    int tabStops = 0;
    for (QWidget* child : dialog.findChildren<QWidget*>()) {
        if (child->focusPolicy() & Qt::TabFocus) {
            ++tabStops;
            EXPECT_EQ(child, dialogItem(dialog, kIdOk));
        }
    }
    EXPECT_EQ(tabStops, 1);
}

// A label clips when its text needs more room than its geometry gives.
void expectNoClippedLabel(const QDialog& dialog) {
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text().isEmpty()) {
            continue;
        }
        SCOPED_TRACE(label->text().toStdString());
        const QSize needed = label->sizeHint();
        EXPECT_LE(needed.width(), label->width());
        EXPECT_LE(needed.height(), label->height());
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    }
}

// The dialog font as the platform gives it, at several point sizes, and at every pixel size
// from 6 to 40: fitting rounds each edge on its own, so a size that rounds badly shows up only
// when it is tried.
std::vector<QFont> dialogFonts() {
    const QFont platform = QApplication::font("QDialog");
    std::vector<QFont> fonts = {platform};
    for (int pointSize : {8, 11, 14}) {
        fonts.push_back(platform);
        fonts.back().setPointSize(pointSize);
    }
    for (int pixelSize = 6; pixelSize <= 40; ++pixelSize) {
        fonts.push_back(platform);
        fonts.back().setPixelSize(pixelSize);
    }
    return fonts;
}

TEST(TextFitting, NoLabelOfEitherWindowIsClippedAndValueFieldsHoldThreeDigits) {
    const QFont saved = QApplication::font();
    for (const QFont& font : dialogFonts()) {
        SCOPED_TRACE(font.toString().toStdString());
        QApplication::setFont(font);
        ReadoutDialog dialog(&zeroSample);
        for (int id : kFieldForPosition) {
            setDialogItemInt(dialog, id, 255);
        }
        expectNoClippedLabel(dialog);
        AboutBox about;
        expectNoClippedLabel(about);
    }
    QApplication::setFont(saved);
}

}  // namespace
}  // namespace chiroscope
