#include "readout_dialog.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QShortcut>
#include <QTimerEvent>

#include <array>
#include <cstdint>
#include <cstring>

#include "about_box.h"
#include "chirolink_glove.h"
#include "dialog_template.h"
#include "plot_window.h"
#include "resources.h"

namespace chiroscope {

namespace {

// The platform's icon size (what a window manager shows for a minimised window).
constexpr QSize kIconSize(32, 32);

}  // namespace

ReadoutDialog::ReadoutDialog(SampleSource source, QWidget* parent)
    : QDialog(parent), source_(source), icon_(loadIcon(kIdrMainFrame)) {
    buildDialog(*this, loadDialogTemplate(kIddChiroscope), icon_);
    // The readout is the program's main window. On X11 Qt maps a parentless Qt::Dialog as a
    // transient dialog, which task bars leave out; as a plain window it is listed there and
    // keeps the caption bar and close box given above. exec() still runs it modally.
    setWindowFlags((windowFlags() & ~Qt::WindowType_Mask) | Qt::Window);
    static_assert(std::tuple_size_v<decltype(valueFields_)> == kFieldForPosition.size());
    for (std::size_t position = 0; position < valueFields_.size(); ++position) {
        valueFields_[position] =
            qobject_cast<QLabel*>(dialogItem(*this, kFieldForPosition[position]));
    }
}

ReadoutDialog::~ReadoutDialog() = default;

void ReadoutDialog::appendAboutEntry(QMenu& menu, const QString& text) {
    if (text.isEmpty()) {
        return;
    }
    menu.addSeparator();
    QAction* about = menu.addAction(text);
    about->setData(kIdmAboutBox);
}

QPoint ReadoutDialog::iconOrigin(QSize client, QSize icon) {
    // Integer division rounds toward zero, also when the icon is larger than the client area.
    return QPoint((client.width() - icon.width() + 1) / 2,
                  (client.height() - icon.height() + 1) / 2);
}

void ReadoutDialog::showEvent(QShowEvent* event) {
    // Sent before the window first appears: the place for the dialog's initialisation.
    if (!initialised_) {
        initialised_ = true;
        initDialog();
    }
    QDialog::showEvent(event);
}

void ReadoutDialog::initDialog() {
    systemMenu_ = new QMenu(this);
    // The entry starts with a separator; keep it even though nothing precedes it here.
    systemMenu_->setSeparatorsCollapsible(false);
    appendAboutEntry(*systemMenu_, loadString(kIdsAboutBox));
    // The plot entry follows About; its text names its shortcut, Ctrl+P.
    if (const QString plot = loadString(kIdsPlot); !plot.isEmpty()) {
        systemMenu_->addAction(plot)->setData(kIdmPlot);
    }
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), this), &QShortcut::activated, this,
            [this] { systemCommand(kIdmPlot); });
    connect(systemMenu_, &QMenu::triggered, this,
            [this](QAction* action) { systemCommand(action->data().toUInt()); });

    // One icon with its 32x32 and 16x16 images: the window's large and small icon.
    setWindowIcon(icon_);

    refreshTimer_.start(kRefreshPeriodMs, Qt::PreciseTimer, this);
}

void ReadoutDialog::timerEvent(QTimerEvent* event) {
    // Only the refresh timer counts; any other timer's event is dropped.
    if (event->timerId() == refreshTimer_.timerId()) {
        refresh();
    }
}

void ReadoutDialog::refresh() {
    // The acquisition thread publishes each frame with one 64-bit store into the 8-byte aligned
    // buffer; one 64-bit load here never mixes two frames.
    const unsigned char* buffer = source_();
    const std::uint64_t word =
        __atomic_load_n(reinterpret_cast<const std::uint64_t*>(buffer), __ATOMIC_ACQUIRE);
    std::array<unsigned char, sizeof word> sample{};
    std::memcpy(sample.data(), &word, sizeof word);
    // Positions 0 to 6 only: the checksum at position 7 is not shown.
    for (std::size_t position = 0; position < valueFields_.size(); ++position) {
        setDialogItemInt(*valueFields_[position], sample[position]);
    }
}

void ReadoutDialog::paintEvent(QPaintEvent* event) {
    if (!isMinimized()) {
        QDialog::paintEvent(event);
        return;
    }
    // Window managers that let a minimised window draw itself get the icon, centred.
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    icon_.paint(&painter, QRect(iconOrigin(size(), kIconSize), kIconSize));
}

void ReadoutDialog::contextMenuEvent(QContextMenuEvent* event) {
    if (systemMenu_ == nullptr || systemMenu_->isEmpty()) {
        event->ignore();
        return;
    }
    systemMenu_->popup(event->globalPos());
    event->accept();
}

void ReadoutDialog::systemCommand(unsigned command) {
    if ((command & ~0xFu) == kIdmAboutBox) {
        AboutBox about;
        about.exec();
        return;
    }
    if ((command & ~0xFu) == kIdmPlot) {
        showPlot();
        return;
    }
    // The platform's own commands; the only one a dialog window offers here is closing it.
    if ((command & ~0xFu) == kScClose) {
        close();
    }
}

void ReadoutDialog::showPlot() {
    // A child of the modal readout, so that the readout's modality leaves it usable; the frames
    // are those of the link that GloveInit started.
    if (plotWindow_ == nullptr) {
        plotWindow_ = new PlotWindow(chirolink_process_glove(), this);
    }
    plotWindow_->show();
    plotWindow_->raise();
    plotWindow_->activateWindow();
}

}  // namespace chiroscope
