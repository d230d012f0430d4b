#include "dialog_template.h"

#include <QDialog>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <vector>

namespace chiroscope {

namespace {

constexpr int kIdOk = 1;
// Raising a base in steps this small keeps a fitted layout within a pixel of the tightest one.
constexpr double kFitStep = 1.0 / 64.0;
constexpr int kMaxFitSteps = 4096;

QString averageLetters() {
    QString letters;
    for (char c = 'A'; c <= 'Z'; ++c) {
        letters += QLatin1Char(c);
    }
    for (char c = 'a'; c <= 'z'; ++c) {
        letters += QLatin1Char(c);
    }
    return letters;
}

int scaled(int units, double base, int perBase) {
    return static_cast<int>(std::lround(units * base / perBase));
}

// One static text's box along one axis, in units, and the pixels its text needs there.
struct Span {
    int start;
    int length;
    int needed;
};

// Every span covers its pixels at `base`. Each edge is rounded on its own, so a larger base can
// leave a span a pixel shorter: only a check of all spans together tells that a base fits.
bool allFit(const std::vector<Span>& spans, double base, int perBase) {
    return std::ranges::all_of(spans, [&](const Span& span) {
        return scaled(span.start + span.length, base, perBase) -
                   scaled(span.start, base, perBase) >=
               span.needed;
    });
}

// The smallest base from `base` up, in steps of kFitStep, at which every span fits.
double raiseToFit(double base, const std::vector<Span>& spans, int perBase) {
    for (int step = 0; step < kMaxFitSteps && !allFit(spans, base, perBase); ++step) {
        base += kFitStep;
    }
    return base;
}

QWidget* makeControl(QDialog& dialog, const ControlTemplate& control, const DialogUnits& units,
                     const QIcon& icon) {
    const QRect box = units.toPixels(control.x, control.y, control.width, control.height);
    QWidget* widget = nullptr;
    switch (control.kind) {
        case ControlKind::DefaultPushButton: {
            auto* button = new QPushButton(QString::fromUtf8(control.text), &dialog);
            button->setDefault(true);
            if (control.id == kIdOk) {
                QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::accept);
            }
            button->setGeometry(box);
            widget = button;
            break;
        }
        case ControlKind::StaticText: {
            auto* label = new QLabel(displayText(control), &dialog);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setGeometry(box);
            widget = label;
            break;
        }
        case ControlKind::Icon: {
            // An icon control takes the icon's own size, whatever the box says.
            auto* label = new QLabel(&dialog);
            const QSize iconSize(32, 32);
            label->setPixmap(icon.pixmap(iconSize));
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setGeometry(QRect(box.topLeft(), iconSize));
            widget = label;
            break;
        }
    }
    widget->setFocusPolicy(control.tabStop ? Qt::StrongFocus : Qt::NoFocus);
    widget->setProperty(kItemIdProperty, control.id);
    return widget;
}

}  // namespace

DialogUnits DialogUnits::forFont(const QFont& font) {
    const QFontMetrics metrics(font);
    const double averageWidth = metrics.horizontalAdvance(averageLetters()) / 52.0;
    return DialogUnits(averageWidth, metrics.height());
}

DialogUnits DialogUnits::fitting(const QFont& font, const DialogTemplate& dialog) {
    std::vector<Span> across;
    std::vector<Span> down;
    for (const ControlTemplate& control : dialog.controls) {
        if (control.kind != ControlKind::StaticText) {
            continue;
        }
        const QSize needed = textExtent(font, displayText(control));
        across.push_back({control.x, control.width, needed.width()});
        down.push_back({control.y, control.height, needed.height()});
    }
    const DialogUnits defined = forFont(font);
    return DialogUnits(raiseToFit(defined.baseX(), across, 4),
                       raiseToFit(defined.baseY(), down, 8));
}

int DialogUnits::toPixelsX(int x) const {
    return scaled(x, baseX_, 4);
}

int DialogUnits::toPixelsY(int y) const {
    return scaled(y, baseY_, 8);
}

QRect DialogUnits::toPixels(int x, int y, int width, int height) const {
    const int left = toPixelsX(x);
    const int top = toPixelsY(y);
    return QRect(left, top, toPixelsX(x + width) - left, toPixelsY(y + height) - top);
}

QSize DialogUnits::toPixels(int width, int height) const {
    return QSize(toPixelsX(width), toPixelsY(height));
}

QString displayText(const ControlTemplate& control) {
    const QString text = QString::fromUtf8(control.text);
    if (control.noPrefix || control.kind != ControlKind::StaticText) {
        return text;
    }
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            ++i;
            if (i == text.size()) {
                break;
            }
        }
        shown += text[i];
    }
    return shown;
}

QSize textExtent(const QFont& font, const QString& text) {
    if (text.isEmpty()) {
        return QSize(0, 0);
    }
    // Laid out the way a label lays out its text, whole pixels rounded up.
    const QFontMetrics metrics(font);
    const QRect laidOut =
        metrics.boundingRect(QRect(0, 0, 0x10000, 0x10000), Qt::AlignLeft | Qt::AlignTop, text);
    return QSize(std::max(laidOut.width(), metrics.horizontalAdvance(text)),
                 std::max(laidOut.height(), metrics.height()));
}

DialogUnits buildDialog(QDialog& dialog, const DialogTemplate& dialogTemplate, const QIcon& icon) {
    dialog.setWindowTitle(QString::fromUtf8(dialogTemplate.caption));
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const DialogUnits units = DialogUnits::fitting(dialog.font(), dialogTemplate);
    dialog.setFixedSize(units.toPixels(dialogTemplate.width, dialogTemplate.height));
    for (const ControlTemplate& control : dialogTemplate.controls) {
        makeControl(dialog, control, units, icon);
    }
    return units;
}

QWidget* dialogItem(const QWidget& dialog, int id) {
    if (id == kNoId) {
        return nullptr;
    }
    const auto children = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        const QVariant itemId = child->property(kItemIdProperty);
        if (itemId.isValid() && itemId.toInt() == id) {
            return child;
        }
    }
    return nullptr;
}

void setDialogItemInt(QLabel& control, int value) {
    control.setText(QString::number(value));
}

void setDialogItemInt(const QWidget& dialog, int id, int value) {
    if (auto* label = qobject_cast<QLabel*>(dialogItem(dialog, id))) {
        setDialogItemInt(*label, value);
    }
}

}  // namespace chiroscope
