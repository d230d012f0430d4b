// The readout window: seven labelled value fields that follow the glove's sample buffer,
// refreshed ten times a second by the dialog's own timer.
//
// Its system-menu entry "About Chiroscope..." lives in the dialog's context menu (right click,
// or the keyboard's menu key): on X11 and Wayland the title-bar menu belongs to the window
// manager, so the dialog keeps its own system menu and pops it up there. After it comes
// "Plot..." (also Ctrl+P), which opens the plot window or brings it to the front.
#pragma once

#include <QBasicTimer>
#include <QDialog>
#include <QIcon>
#include <QPoint>
#include <QSize>

#include <array>

class QLabel;
class QMenu;

namespace chiroscope {

class PlotWindow;

class ReadoutDialog : public QDialog {
    Q_OBJECT

public:
    // Where the dialog finds the 8-byte sample buffer: GloveGetDataPtr in the program.
    using SampleSource = unsigned char* (*)();

    static constexpr int kRefreshPeriodMs = 100;
    // Window-manager commands below this value are the platform's, like closing the window.
    static constexpr unsigned kScClose = 0xF060;

    explicit ReadoutDialog(SampleSource source, QWidget* parent = nullptr);
    ~ReadoutDialog() override;

    // Appends the About entry (a separator, then `text` carrying kIdmAboutBox) to `menu`;
    // appends nothing when `text` is empty.
    static void appendAboutEntry(QMenu& menu, const QString& text);
    // Where a minimised window draws its icon: centred in the client area.
    static QPoint iconOrigin(QSize client, QSize icon);

    // The window's system menu; it exists once the dialog is initialised (first shown).
    QMenu* systemMenu() const { return systemMenu_; }
    const QIcon& icon() const { return icon_; }
    // The id of the refresh timer while it runs, else -1.
    int refreshTimerId() const { return refreshTimer_.timerId(); }

    // The plot window once it has been opened (it stays when closed), else nullptr.
    PlotWindow* plotWindow() const { return plotWindow_; }

    // Carries out a system-menu command: 0x0010 (its low four bits aside) opens the About box,
    // 0x0020 the plot window; anything else gets the platform's default handling.
    void systemCommand(unsigned command);

protected:
    void showEvent(QShowEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void initDialog();
    void refresh();
    void showPlot();

    SampleSource source_;
    QIcon icon_;
    // The value fields for sample positions 0 to 6, found once: the refresh only sets text.
    std::array<QLabel*, 7> valueFields_{};
    QMenu* systemMenu_ = nullptr;
    PlotWindow* plotWindow_ = nullptr;
    QBasicTimer refreshTimer_;
    bool initialised_ = false;
};

}  // namespace chiroscope
