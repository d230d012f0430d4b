#include "framework.h"

#include <cstddef>

namespace scope {
namespace {

Application* theApplication = nullptr;

// The program file's name without its folder and extension.
std::string moduleStem(HINSTANCE instance) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(instance, path, MAX_PATH);
    std::string name = path;
    name.erase(0, name.find_last_of("\\/") + 1);
    return name.substr(0, name.find_last_of('.'));
}

}  // namespace

Application::Application() {
    theApplication = this;
}

Application& Application::current() {
    return *theApplication;
}

int Application::run(HINSTANCE instance) {
    instance_ = instance;
    title_ = moduleStem(instance);
    if (!initInstance()) {
        return 0;
    }
    // A start-up hook that returns true would hand over to a message loop; this program's
    // windows are all modal and run their own.
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

Dialog::Dialog(int templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

INT_PTR Dialog::doModal() {
    return DialogBoxParamA(Application::current().instance(), MAKEINTRESOURCEA(templateId_),
                           parent_, dialogProcedure, reinterpret_cast<LPARAM>(this));
}

void Dialog::endDialog(INT_PTR result) {
    EndDialog(window_, result);
}

INT_PTR CALLBACK Dialog::dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        dialog->window_ = window;
        return dialog->onInitDialog() ? TRUE : FALSE;
    }
    auto* dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
    return dialog == nullptr ? FALSE : dialog->dispatch(message, wParam, lParam);
}

INT_PTR Dialog::dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    for (const MessageEntry& entry : messageTable()) {
        if (entry.message == message) {
            if (const Result result = (this->*entry.handler)(wParam, lParam)) {
                return *result;
            }
            return FALSE;  // the default processing
        }
    }
    // OK, Esc and the close box (which the default processing turns into IDCANCEL).
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        endDialog(LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

int messageBox(const char* text, UINT type) {
    const Dialog* main = Application::current().mainWindow;
    return MessageBoxA(main == nullptr ? nullptr : main->window(), text,
                       Application::current().title().c_str(), type);
}

std::string loadString(int id) {
    char buffer[256] = {};
    const int length = LoadStringA(Application::current().instance(), static_cast<UINT>(id), buffer,
                                   sizeof buffer);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

HICON loadIcon(int id) {
    HINSTANCE module = Application::current().instance();
    if (FindResourceA(module, MAKEINTRESOURCEA(id), RT_GROUP_ICON) == nullptr) {
        return nullptr;
    }
    return LoadIconA(module, MAKEINTRESOURCEA(id));
}

void setDialogItemInt(HWND dialog, int id, int value) {
    SetDlgItemInt(dialog, id, static_cast<UINT>(value), TRUE);
}

PaintContext::PaintContext(HWND window) : window_(window) {
    BeginPaint(window_, &paint_);
}

PaintContext::~PaintContext() {
    EndPaint(window_, &paint_);
}

}  // namespace scope

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return scope::Application::current().run(instance);
}
