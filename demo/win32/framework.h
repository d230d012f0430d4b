// A small application framework on plain Win32: an application object with a start-up hook,
// modal dialogs from dialog templates with message tables, and the few services the program
// needs (message box, string and icon lookup, dialog item integers, paint context, system
// menu).
#pragma once

#include <windows.h>

#include <optional>
#include <span>
#include <string>

namespace scope {

class Dialog;

/// The program's one application object, a global. Its start-up hook runs once from WinMain;
/// when it returns false the program ends without a message loop of its own.
class Application {
public:
    Application();
    virtual ~Application() = default;
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    virtual bool initInstance() = 0;

    /// The application object, the module it runs from, and its title (the program file's name
    /// without the extension: the application has no name of its own).
    static Application& current();
    HINSTANCE instance() const { return instance_; }
    const std::string& title() const { return title_; }

    /// The window that stands for the application while it runs.
    Dialog* mainWindow = nullptr;

    /// WinMain's work: the start-up hook, and the exit status.
    int run(HINSTANCE instance);

private:
    HINSTANCE instance_ = nullptr;
    std::string title_;
};

/// A modal dialog built from a dialog template. Window messages go through the derived class's
/// message table; what no entry takes gets the dialog's default processing. OK, Esc and the
/// close box end the dialog.
class Dialog {
public:
    /// A handler's result: a value for the message, or nothing for the default processing.
    using Result = std::optional<INT_PTR>;
    using Handler = Result (Dialog::*)(WPARAM, LPARAM);
    struct MessageEntry {
        UINT message;
        Handler handler;
    };

    Dialog(int templateId, HWND parent = nullptr);
    virtual ~Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    /// Builds the window, runs it until it ends, and returns what ended it (IDOK, IDCANCEL).
    INT_PTR doModal();
    HWND window() const { return window_; }

protected:
    /// Runs once the window and its controls exist; true leaves the focus to the system.
    virtual bool onInitDialog() { return true; }
    virtual std::span<const MessageEntry> messageTable() const { return {}; }
    void endDialog(INT_PTR result);

private:
    static INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    INT_PTR dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    int templateId_;
    HWND parent_;
    HWND window_ = nullptr;
};

/// Turns a derived class's handler into a message table entry.
template <typename Derived>
Dialog::MessageEntry onMessage(UINT message, Dialog::Result (Derived::*handler)(WPARAM, LPARAM)) {
    return {message, static_cast<Dialog::Handler>(handler)};
}

/// A modal message box with `text` and an OK button, titled with the application's title.
int messageBox(const char* text, UINT type = MB_OK);

/// String `id` of the program's resources, empty when there is none.
std::string loadString(int id);

/// Icon `id`, from the module that holds its icon group resource.
HICON loadIcon(int id);

/// Sets control `id` of `dialog` to `value` as signed decimal text.
void setDialogItemInt(HWND dialog, int id, int value);

/// Painting a window between BeginPaint and EndPaint.
class PaintContext {
public:
    explicit PaintContext(HWND window);
    ~PaintContext();
    PaintContext(const PaintContext&) = delete;
    PaintContext& operator=(const PaintContext&) = delete;

    HDC deviceContext() const { return paint_.hdc; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
};

/// A window's own system menu (not reset to the system's default).
class SystemMenu {
public:
    explicit SystemMenu(HWND window) : menu_(GetSystemMenu(window, FALSE)) {}

    bool valid() const { return menu_ != nullptr; }
    void appendSeparator() { AppendMenuA(menu_, MF_SEPARATOR, 0, nullptr); }
    void appendString(UINT command, const std::string& text) {
        AppendMenuA(menu_, MF_STRING, command, text.c_str());
    }

private:
    HMENU menu_;
};

}  // namespace scope
