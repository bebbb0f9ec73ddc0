// The inside of the simulated machine's window side, shared by its three
// files: window_core.cpp (the window table, the controls' and dialogs'
// default procedures, creation from templates, the message queue),
// scripted_user.cpp (the user, the transcript and its queries) and
// window_api.cpp (the Windows functions the program calls).
//
// Every window lives in one table keyed by its handle; handles are never
// reused, so a stale handle is simply unknown.  Window procedures may create
// and destroy windows while they run: nothing here keeps a reference into
// the table across a call into the program.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/dialog_template.h"
#include "platform/sim/machine.h"

namespace sim {

struct MenuItem {
    UINT flags;
    UINT_PTR command;
    std::string text;
};

struct Column {
    std::string heading;
    int width;
};

struct Window {
    HWND handle = nullptr;
    std::string cls;  // "#32770" for dialogs, else the control class
    std::string text;
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    HWND parent = nullptr;  // parent of a control, owner of a dialog
    std::vector<HWND> children;
    bool isDialog = false;
    int templateId = 0;
    RECT dlu{};
    DLGPROC dlgProc = nullptr;
    LONG_PTR userData = 0;
    LONG_PTR msgResult = 0;
    bool visible = false;
    bool enabled = true;
    bool iconic = false;
    bool invalid = false;
    bool destroying = false;
    uint64_t shownOrder = 0;
    HWND focus = nullptr;
    std::vector<MenuItem> systemMenu;
    HICON icons[2] = {nullptr, nullptr};
    int iconResource = 0;  // an icon static's icon
    // Progress bar.
    int pos = 0;
    int low = 0;
    int high = 100;
    // List view.
    std::vector<Column> columns;
    std::vector<std::string> rows;
    DWORD listExStyle = 0;
};

struct Reaction {
    int dialog;
    int control;
    UiEvent::Kind on;
    int remaining;
    UserAction action;
};

struct Resource {
    int type;
    int name;
    const unsigned char* data;
    size_t size;
};

struct WindowState {
    std::map<uintptr_t, Window> windows;
    uintptr_t nextHandle = 0x10000;
    int created = 0;  // windows made since the reset, controls included
    uint64_t showCounter = 0;
    std::deque<MSG> queue;
    bool quitPosted = false;
    int quitCode = 0;
    HWND focus = nullptr;
    std::map<int, std::deque<UserAction>> answers;
    std::vector<Reaction> reactions;
    std::vector<UiEvent> transcript;
    std::map<long, Resource> resources;  // found through FindResourceA
};

WindowState& W();
Window* Find(HWND h);
// The dialog a window belongs to: itself, or the dialog holding the control.
Window* DialogOf(HWND h);
int TemplateOf(HWND h);

// The transcript.
void Note(UiEvent e);
void NoteFor(HWND h, UiEvent::Kind kind, const std::string& text = std::string(), long long value = 0,
             const std::string& by = std::string());
// Prints the transcript and aborts: a script that cannot go on.
[[noreturn]] void FailLoudly(const std::string& why);

// Windows and their procedures.
HWND NewWindowHandle();
HMENU MenuHandle(HWND h);
Window* MenuWindow(HMENU menu);
LRESULT ControlProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DialogDefault(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
// A dialog's procedure, with the default processing when it declines.
LRESULT CallDialog(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT Send(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
void PressButton(HWND dialog, int id, const char* by);
HWND CreateFromTemplate(const DialogTemplate& t, int templateId, HWND parent, DLGPROC proc, LPARAM param);
// The dialog that takes input: the visible, enabled dialog shown last.
HWND ActiveDialogWindow();

// Painting.  PaintNow paints a visible window that needs it, then its
// children, as UpdateWindow does; Unpainted lists the visible windows that
// still need painting ("dialog:control", control 0 for a dialog itself).
void PaintNow(HWND h);
std::string Unpainted();

// The queue.
void Post(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
bool TakeMessage(LPMSG out, HWND window, UINT low, UINT high, bool remove);

// The scripted user (scripted_user.cpp).  Act returns false when the user
// cannot do it (no such control or menu entry): a script error.
bool Act(HWND dialog, const UserAction& action, std::string* why);
void RunReactions(HWND control, UiEvent::Kind kind);

}  // namespace sim
