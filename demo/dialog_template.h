// Dialog templates: a window's design written as data (caption, size and controls in dialog
// units) and the code that turns one into Qt widgets.
//
// Dialog units follow the font: one horizontal unit is a quarter of the font's average
// character width (averaged over the 52 letters A-Z and a-z), one vertical unit an eighth of
// its height. A template therefore keeps its proportions whatever font the platform gives us.
#pragma once

#include <QIcon>
#include <QRect>
#include <QSize>
#include <QString>

#include <span>

class QDialog;
class QFont;
class QLabel;
class QWidget;

namespace chiroscope {

// The identifier of a control that nobody looks up.
inline constexpr int kNoId = -1;
// The dialog-item identifier of a built control is kept in this property.
inline constexpr char kItemIdProperty[] = "dialogItemId";

enum class ControlKind {
    DefaultPushButton,  // ends the dialog with acceptance when its identifier is 1 (OK)
    StaticText,         // left-aligned text
    Icon,               // the dialog's icon, at its natural size
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;
    int x;  // position and size in dialog units
    int y;
    int width;
    int height;
    bool tabStop;
    bool groupStart;
    bool noPrefix;  // a static text shows '&' as is instead of taking it as an access-key mark
};

struct DialogTemplate {
    int id;
    const char* caption;
    int x;  // position and size of the client area in dialog units
    int y;
    int width;
    int height;
    std::span<const ControlTemplate> controls;
};

// Converts dialog units to pixels. Each edge is converted on its own, so a control's pixel
// width is right(x + width) - left(x), the same way adjacent controls share their edges.
class DialogUnits {
public:
    DialogUnits(double baseX, double baseY) : baseX_(baseX), baseY_(baseY) {}

    // The units as defined: average letter width / 4 and font height / 8.
    static DialogUnits forFont(const QFont& font);
    // The units of forFont(), raised just enough that every static text of the template fits
    // its box in that font. Fonts with wide digits or punctuation would clip a label otherwise.
    static DialogUnits fitting(const QFont& font, const DialogTemplate& dialog);

    double baseX() const { return baseX_; }  // pixels per four horizontal units
    double baseY() const { return baseY_; }  // pixels per eight vertical units

    int toPixelsX(int x) const;
    int toPixelsY(int y) const;
    QRect toPixels(int x, int y, int width, int height) const;
    QSize toPixels(int width, int height) const;

private:
    double baseX_;
    double baseY_;
};

// The text a static control shows: with access-key processing "&&" is a literal '&' and a
// single '&' only marks the next character, so it is dropped.
QString displayText(const ControlTemplate& control);

// The smallest pixel size that shows `text` unclipped in `font`.
QSize textExtent(const QFont& font, const QString& text);

// Gives `dialog` the template's caption, fixed client size and window decoration (caption bar,
// close box, no minimise or maximise box) and builds its controls in template order. `icon` is
// what Icon controls show. Returns the units used.
DialogUnits buildDialog(QDialog& dialog, const DialogTemplate& dialogTemplate, const QIcon& icon);

// The control with identifier `id` in `dialog`, or nullptr.
QWidget* dialogItem(const QWidget& dialog, int id);

// Sets a text control to `value` as signed decimal text.
void setDialogItemInt(QLabel& control, int value);
// The same for the control with identifier `id` in `dialog`; nothing when there is none.
void setDialogItemInt(const QWidget& dialog, int id, int value);

}  // namespace chiroscope
