// Control of the simulated machine's window side: the scripted user and the
// transcript of everything the program showed.  Included by sim.h.
//
// The user.  A test writes down before the run what the user will do; the
// machine never waits.  Two kinds of action:
//   * Answers: when the program waits for input (GetMessageA finds the queue
//     empty), the machine takes the next answer scripted for the dialog that
//     is active then (the visible, enabled dialog shown last) and turns it
//     into the message a real user would cause: a click (BM_CLICK to the
//     button), a key (WM_KEYDOWN to the focused control), the close box
//     (WM_SYSCOMMAND SC_CLOSE) or a system-menu entry (WM_SYSCOMMAND).  The
//     message goes through the program's own loop, so PreTranslateMessage and
//     IsDialogMessageA see it.  Answers are kept in order per dialog template.
//   * Reactions: "when the program shows the nth position on bar B (or the
//     nth text on control C) of dialog D, the user clicks button X": the
//     click is posted at that moment and waits in the queue until the
//     program next pumps messages.  Only what happens while the dialog is on
//     screen counts.
// When the program waits and nothing is scripted for the active dialog, or no
// dialog can take input, the machine prints the transcript and aborts: a test
// never hangs.
#pragma once

#include <string>
#include <vector>

#include "platform/winapi.h"

namespace sim {

struct UserAction {
    enum Kind { kClick, kKey, kCloseBox, kSysCommand };
    Kind kind;
    int value;  // button ID, virtual key or system command
};
inline UserAction Click(int buttonId) { return UserAction{UserAction::kClick, buttonId}; }
inline UserAction Press(int virtualKey) { return UserAction{UserAction::kKey, virtualKey}; }
inline UserAction CloseBox() { return UserAction{UserAction::kCloseBox, 0}; }
inline UserAction SysCommand(int command) { return UserAction{UserAction::kSysCommand, command}; }

// Answers for dialog template `dialogId`, used one per wait, in order.
void Answer(int dialogId, UserAction action);
// Reactions (nth counts from 1 since the reaction was scripted).
void AtPosition(int dialogId, int barId, int nth, UserAction action);
void AtText(int dialogId, int controlId, int nth, UserAction action);
// Answers and reactions not used (yet): a test can check the user did all
// it meant to.
int PendingUserActions();

// What the program showed, in order.
struct UiEvent {
    enum Kind {
        kCreated,    // text: title; value: the owner's template (0: none)
        kShown,
        kHidden,
        kDestroyed,
        kText,       // control (0: the dialog's title), text
        kPosition,   // control, value
        kColumn,     // control, text: heading, value: width
        kRow,        // control, text, value: row index
        kMenuItem,   // text (empty for a separator), value: command
        kPressed,    // control: button ID; by: "script", "keyboard"
        kKey,        // value: virtual key (scripted key press)
        kClosed,     // the close box was used (by the script)
        kSysCommand, // value: command chosen (by the script)
        kEnded,      // value: the dialog's result (EndDialog)
        kBroadcast,  // value: message posted to all top-level windows
        kSleep,      // value: milliseconds; text: the windows on screen still
                     // waiting to be painted ("dialog:control ..."), if any
        kIcon,       // value: ICON_BIG / ICON_SMALL set on the dialog
        kIconDrawn,  // text: "x,y" where the program drew an icon
    };
    Kind kind = kCreated;
    int dialog = 0;   // template ID of the dialog concerned (0: none)
    int control = 0;  // control ID
    std::string text; // code page 932
    long long value = 0;
    std::string by;
};

const std::vector<UiEvent>& Transcript();
// The same, readable (UTF-8), one event a line.
std::string TranscriptText();
// Every text set on one control of a dialog, in order.
std::vector<std::string> TextsShown(int dialogId, int controlId);
// Events of one kind (of one dialog, unless dialogId is 0).
std::vector<UiEvent> EventsOf(UiEvent::Kind kind, int dialogId = 0);

// Windows that exist now.
HWND FindDialog(int dialogId);  // the newest with that template, or null
int DialogId(HWND window);      // the template of a dialog (or of a control's dialog)
HWND ActiveDialog();
// A control's rectangle in dialog units as the template gives it (x, y,
// x + width, y + height); for a dialog, (0, 0, width, height).
RECT TemplateRect(HWND window);
DWORD WindowStyle(HWND window);
std::string ClassName(HWND window);
int OpenWindowCount();
// Windows (dialogs and their controls) made since the last Reset, whether
// still there or not: none for a program that must show nothing.
int WindowsCreated();

// Where windows stand, in pixels.  The screen is 1024 x 768 with a task bar
// of 40 pixels at the bottom.  A dialog stands where the program last put it
// (SetWindowPos); one never placed stands at the top left, or in the middle
// of the work area when its template says DS_CENTER, as Windows does.
RECT WorkArea();
struct Placement {
    int dialog;  // template ID
    RECT rect;   // the window's rectangle after the move
};
// Every move of a dialog, in order.
const std::vector<Placement>& Placements();

}  // namespace sim
