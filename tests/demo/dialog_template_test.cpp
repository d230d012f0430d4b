#include <gtest/gtest.h>

#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <array>

#include "dialog_template.h"
#include "resources.h"

namespace chiroscope {
namespace {

QString letters() {
    QString text;
    for (char c = 'A'; c <= 'Z'; ++c) {
        text += QLatin1Char(c);
    }
    for (char c = 'a'; c <= 'z'; ++c) {
        text += QLatin1Char(c);
    }
    return text;
}

TEST(DialogUnits, AreAQuarterOfTheAverageLetterWidthAndAnEighthOfTheFontHeight) {
    for (int pointSize : {7, 9, 16}) {
        SCOPED_TRACE(pointSize);
        QFont font;
        font.setPointSize(pointSize);
        const QFontMetrics metrics(font);
        const DialogUnits units = DialogUnits::forFont(font);
        EXPECT_DOUBLE_EQ(units.baseX(), metrics.horizontalAdvance(letters()) / 52.0);
        EXPECT_DOUBLE_EQ(units.baseY(), metrics.height());
    }
}

struct PixelCase {
    std::array<int, 4> dialogUnits;  // x, y, width, height
    QRect pixels;
};

TEST(DialogUnits, ConvertEachEdgeRoundedToTheNearestPixel) {
    // The classic 8-point dialog font: 6 pixels per four units across, 13 per eight down.
    const DialogUnits units(6.0, 13.0);
    const PixelCase cases[] = {
        {{0, 0, 184, 79}, QRect(0, 0, 276, 128)},
        {{127, 7, 50, 14}, QRect(191, 11, 75, 23)},
        {{13, 7, 28, 8}, QRect(20, 11, 42, 13)},
        {{47, 21, 23, 8}, QRect(71, 34, 34, 13)},
    };
    for (const PixelCase& c : cases) {
        const auto [x, y, w, h] = c.dialogUnits;
        SCOPED_TRACE(testing::Message() << x << "," << y << " " << w << "x" << h);
        EXPECT_EQ(units.toPixels(x, y, w, h), c.pixels);
    }
    EXPECT_EQ(units.toPixels(184, 79), QSize(276, 128));
}

TEST(DialogUnits, ControlsThatTouchInUnitsTouchInPixels) {
    const DialogUnits units(7.404, 14.0);
    for (int x = 0; x < 60; ++x) {
        const QRect left = units.toPixels(0, 0, x, 8);
        const QRect right = units.toPixels(x, 8, 17, 8);
        EXPECT_EQ(left.x() + left.width(), right.x()) << x;
        EXPECT_EQ(left.y() + left.height(), right.y()) << x;
    }
}

struct TextCase {
    const char* text;
    bool noPrefix;
    const char* shown;
};

TEST(DisplayText, TakesAmpersandsAsAccessKeyMarksUnlessTheControlSaysOtherwise) {
    const TextCase cases[] = {
        {"Finger 1:", false, "Finger 1:"}, {"&About", false, "About"}, {"a&&b", false, "a&b"},
        {"trailing&", false, "trailing"},  {"&About", true, "&About"}, {"a&&b", true, "a&&b"},
    };
    for (const TextCase& c : cases) {
        const ControlTemplate control{
            kNoId, ControlKind::StaticText, c.text, 0, 0, 10, 8, false, true, c.noPrefix};
        EXPECT_EQ(displayText(control), QString::fromUtf8(c.shown))
            << c.text << " noPrefix=" << c.noPrefix;
    }
}

// Every static text of `dialogTemplate` fits the box that `units` give it in `font`.
bool allTextsFit(const QFont& font, const DialogTemplate& dialogTemplate,
                 const DialogUnits& units) {
    for (const ControlTemplate& control : dialogTemplate.controls) {
        if (control.kind != ControlKind::StaticText) {
            continue;
        }
        const QSize box =
            units.toPixels(control.x, control.y, control.width, control.height).size();
        const QSize text = textExtent(font, displayText(control));
        if (text.width() > box.width() || text.height() > box.height()) {
            return false;
        }
    }
    return true;
}

TEST(DialogUnits, FittingUnitsMakeEveryStaticTextFitAndGrowNoMoreThanThatNeeds) {
    QFont wide;
    wide.setStretch(QFont::ExtraExpanded);
    wide.setLetterSpacing(QFont::AbsoluteSpacing, 2.0);
    QFont large;
    large.setPointSize(20);
    for (const QFont& font : {QFont(), wide, large}) {
        for (int id : {kIddChiroscope, kIddAboutBox}) {
            SCOPED_TRACE(testing::Message() << font.toString().toStdString() << " template " << id);
            const DialogTemplate& dialogTemplate = loadDialogTemplate(id);
            const DialogUnits defined = DialogUnits::forFont(font);
            const DialogUnits fitted = DialogUnits::fitting(font, dialogTemplate);
            EXPECT_TRUE(allTextsFit(font, dialogTemplate, fitted));
            EXPECT_GE(fitted.baseX(), defined.baseX());
            EXPECT_GE(fitted.baseY(), defined.baseY());
            if (fitted.baseX() > defined.baseX()) {
                const DialogUnits narrower(fitted.baseX() - 0.05, fitted.baseY());
                EXPECT_FALSE(allTextsFit(font, dialogTemplate, narrower));
            }
        }
    }
}

TEST(DialogUnits, FittingKeepsTheDefinedUnitsWhenTheTextsFitAlready) {
    const ControlTemplate controls[] = {
        {kNoId, ControlKind::StaticText, "a", 0, 0, 100, 16, false, true, false},
        {kIdOk, ControlKind::DefaultPushButton, "A rather long button text", 0, 20, 4, 4, true,
         false, false},
    };
    const DialogTemplate dialogTemplate{1, "Test", 0, 0, 100, 40, controls};
    const QFont font;
    const DialogUnits defined = DialogUnits::forFont(font);
    const DialogUnits fitted = DialogUnits::fitting(font, dialogTemplate);
    EXPECT_DOUBLE_EQ(fitted.baseX(), defined.baseX());
    EXPECT_DOUBLE_EQ(fitted.baseY(), defined.baseY());
}

constexpr ControlTemplate kSmallControls[] = {
    {kIdOk, ControlKind::DefaultPushButton, "OK", 60, 4, 36, 14, true, false, false},
    {7, ControlKind::StaticText, "", 4, 4, 40, 8, false, true, false},
    {kNoId, ControlKind::StaticText, "Label:", 4, 20, 40, 8, false, true, false},
};
constexpr DialogTemplate kSmall{1, "Small", 0, 0, 100, 40, kSmallControls};

TEST(BuildDialog, GivesTheDialogItsCaptionFixedSizeAndTitleBarWithoutMinimiseOrMaximise) {
    QDialog dialog;
    const DialogUnits units = buildDialog(dialog, kSmall, QIcon());
    EXPECT_EQ(dialog.windowTitle(), "Small");
    EXPECT_EQ(dialog.size(), units.toPixels(100, 40));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    const Qt::WindowFlags flags = dialog.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
}

TEST(BuildDialog, ItemsAreFoundByIdentifierAndTakeSignedNumbers) {
    QDialog dialog;
    buildDialog(dialog, kSmall, QIcon());
    ASSERT_NE(qobject_cast<QPushButton*>(dialogItem(dialog, kIdOk)), nullptr);
    auto* field = qobject_cast<QLabel*>(dialogItem(dialog, 7));
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(dialogItem(dialog, 8), nullptr);
    EXPECT_EQ(dialogItem(dialog, kNoId), nullptr);
    for (int value : {0, 200, -5}) {
        setDialogItemInt(dialog, 7, value);
        EXPECT_EQ(field->text(), QString::number(value));
    }
}

TEST(BuildDialog, OkAcceptsAndEscapeRejects) {
    {
        QDialog dialog;
        buildDialog(dialog, kSmall, QIcon());
        dialog.show();
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QTest::mouseClick(dialogItem(dialog, kIdOk), Qt::LeftButton);
        EXPECT_EQ(accepted.count(), 1);
        EXPECT_FALSE(dialog.isVisible());
    }
    {
        QDialog dialog;
        buildDialog(dialog, kSmall, QIcon());
        dialog.show();
        QSignalSpy rejected(&dialog, &QDialog::rejected);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_EQ(rejected.count(), 1);
        EXPECT_FALSE(dialog.isVisible());
    }
}

}  // namespace
}  // namespace chiroscope
