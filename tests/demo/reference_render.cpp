// Renders the readout window, as the program draws it on this display, showing given values,
// so that the end-to-end test can compare the real window's value fields with it.
//
// Usage: chiroscope_reference A,B,C,D,E,F,G OUTPUT.png
// Prints "size W H" and one "field ID X Y W H" line per value field (window coordinates).
#include <QApplication>
#include <QLabel>
#include <QTest>

#include <array>
#include <cstdio>
#include <cstring>

#include "dialog_template.h"
#include "readout_dialog.h"
#include "resources.h"

namespace {

alignas(8) unsigned char gSample[8] = {};
unsigned char* sample() {
    return gSample;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s A,B,C,D,E,F,G OUTPUT.png\n", argv[0]);
        return 2;
    }
    const QStringList values = QString::fromLocal8Bit(argv[1]).split(QLatin1Char(','));
    if (values.size() != 7) {
        std::fprintf(stderr, "need seven values\n");
        return 2;
    }
    for (int i = 0; i < 7; ++i) {
        gSample[i] = static_cast<unsigned char>(values[i].toUInt());
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    chiroscope::ReadoutDialog dialog(&sample);
    dialog.setAttribute(Qt::WA_DontShowOnScreen);
    dialog.show();
    auto* pitch = qobject_cast<QLabel*>(chiroscope::dialogItem(dialog, chiroscope::kIdcPitch));
    if (pitch == nullptr || !QTest::qWaitFor([&] { return !pitch->text().isEmpty(); }, 5000)) {
        std::fprintf(stderr, "the readout never refreshed\n");
        return 1;
    }
    if (!dialog.grab().save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("size %d %d\n", dialog.width(), dialog.height());
    for (int id : chiroscope::kFieldForPosition) {
        const QRect box = chiroscope::dialogItem(dialog, id)->geometry();
        std::printf("field %d %d %d %d %d\n", id, box.x(), box.y(), box.width(), box.height());
    }
    return 0;
}
