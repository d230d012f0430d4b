#include "resources.h"

#include <QPixmap>

#include <stdexcept>

namespace chiroscope {

namespace {

using enum ControlKind;

// The readout window. Fields 1000 to 1007 (1003 is not used) take the sample values.
// clang-format off
constexpr ControlTemplate kChiroscopeControls[] = {
    // id          kind               text         x    y   w   h   tab    group  noPrefix
    {kIdOk,       DefaultPushButton, "OK",        127, 7,  50, 14, true,  false, false},
    {kIdcFinger1, StaticText,        "",          47,  7,  23, 8,  false, true,  false},
    {kIdcFinger2, StaticText,        "",          47,  21, 23, 8,  false, true,  false},
    {kIdcFinger3, StaticText,        "",          47,  35, 23, 8,  false, true,  false},
    {kIdcFinger4, StaticText,        "",          47,  49, 23, 8,  false, true,  false},
    {kIdcFinger5, StaticText,        "",          47,  63, 23, 8,  false, true,  false},
    {kIdcRoll,    StaticText,        "",          133, 49, 23, 8,  false, true,  false},
    {kIdcPitch,   StaticText,        "",          133, 63, 23, 8,  false, true,  false},
    {kNoId,       StaticText,        "Finger 1:", 13,  7,  28, 8,  false, true,  false},
    {kNoId,       StaticText,        "Finger 2:", 13,  21, 28, 8,  false, true,  false},
    {kNoId,       StaticText,        "Finger 3:", 13,  35, 28, 8,  false, true,  false},
    {kNoId,       StaticText,        "Finger 4:", 13,  49, 28, 8,  false, true,  false},
    {kNoId,       StaticText,        "Finger 5:", 13,  63, 28, 8,  false, true,  false},
    {kNoId,       StaticText,        "Roll:",     111, 49, 15, 8,  false, true,  false},
    {kNoId,       StaticText,        "Pitch:",    107, 63, 19, 8,  false, true,  false},
};

// The About box: the icon, two lines of text and OK.
constexpr ControlTemplate kAboutBoxControls[] = {
    // id    kind               text                      x    y   w    h   tab    group  noPrefix
    {kNoId, Icon,              "",                       11,  17, 18,  20, false, false, false},
    {kNoId, StaticText,        "Chiroscope Version 1.0", 40,  10, 119, 8,  false, true,  true},
    {kNoId, StaticText,        "Chirolink glove readout", 40, 25, 119, 8,  false, true,  false},
    {kIdOk, DefaultPushButton, "OK",                     178, 7,  32,  14, true,  true,  false},
};
// clang-format on

constexpr DialogTemplate kChiroscope{kIddChiroscope,     "Chiroscope", 0, 0, 184, 79,
                                     kChiroscopeControls};
constexpr DialogTemplate kAboutBox{kIddAboutBox, "About Chiroscope", 0, 0, 217,
                                   55,           kAboutBoxControls};

struct StringResource {
    int id;
    const char* text;
};

constexpr StringResource kStrings[] = {
    {kIdsAboutBox, "&About Chiroscope..."},
    {kIdsPlot, "&Plot...\tCtrl+P"},
};

}  // namespace

const DialogTemplate& loadDialogTemplate(int id) {
    switch (id) {
        case kIddChiroscope:
            return kChiroscope;
        case kIddAboutBox:
            return kAboutBox;
        default:
            throw std::out_of_range("no dialog template " + std::to_string(id));
    }
}

QString loadString(int id) {
    for (const StringResource& string : kStrings) {
        if (string.id == id) {
            return QString::fromUtf8(string.text);
        }
    }
    return {};
}

QIcon loadIcon(int id) {
    QIcon icon;
    if (id == kIdrMainFrame) {
        icon.addPixmap(QPixmap(QStringLiteral(":/chiroscope/icon-32.png")));
        icon.addPixmap(QPixmap(QStringLiteral(":/chiroscope/icon-16.png")));
    }
    return icon;
}

}  // namespace chiroscope
