// Chiroscope's resources: the dialog templates, the string table and the application icon,
// each under its resource number.
#pragma once

#include <QIcon>
#include <QString>

#include <array>

#include "dialog_template.h"

namespace chiroscope {

// Resource numbers.
inline constexpr int kIddAboutBox = 100;
inline constexpr int kIdsAboutBox = 101;
inline constexpr int kIddChiroscope = 102;
inline constexpr int kIdsPlot = 103;
inline constexpr int kIdrMainFrame = 128;

// Control identifiers.
inline constexpr int kIdOk = 1;
inline constexpr int kIdcFinger1 = 1000;
inline constexpr int kIdcFinger2 = 1001;
inline constexpr int kIdcFinger3 = 1002;
inline constexpr int kIdcFinger4 = 1004;
inline constexpr int kIdcFinger5 = 1005;
inline constexpr int kIdcRoll = 1006;
inline constexpr int kIdcPitch = 1007;

// The value field that shows each sample position (Finger 1..5, Roll, Pitch).
inline constexpr std::array<int, 7> kFieldForPosition = {
    kIdcFinger1, kIdcFinger2, kIdcFinger3, kIdcFinger4, kIdcFinger5, kIdcRoll, kIdcPitch};

// The About entry's command in the readout window's system menu.
inline constexpr unsigned kIdmAboutBox = 0x0010;
// The plot entry's command, after About in the same menu.
inline constexpr unsigned kIdmPlot = 0x0020;

// The template with resource number `id`; kIddChiroscope and kIddAboutBox exist.
const DialogTemplate& loadDialogTemplate(int id);

// The text of string `id`, empty when there is none.
QString loadString(int id);

// Icon `id` with all its images (kIdrMainFrame: 32x32 and 16x16); a null icon when there is none.
QIcon loadIcon(int id);

}  // namespace chiroscope
