// The scripted user of the simulated machine and the transcript of what the
// program showed: answers given when the program waits, reactions to what it
// shows, and the queries tests make of the transcript.
#include <cstdio>
#include <cstdlib>

#include "platform/sim/window_core.h"

namespace sim {

namespace {

std::string Readable(const std::string& ansi) {
    std::string utf8;
    if (!Utf8FromAnsi(ansi, &utf8)) return ansi;
    std::string out;
    for (char c : utf8) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

const char* KindName(UiEvent::Kind k) {
    switch (k) {
    case UiEvent::kCreated: return "created";
    case UiEvent::kShown: return "shown";
    case UiEvent::kHidden: return "hidden";
    case UiEvent::kDestroyed: return "destroyed";
    case UiEvent::kText: return "text";
    case UiEvent::kPosition: return "position";
    case UiEvent::kColumn: return "column";
    case UiEvent::kRow: return "row";
    case UiEvent::kMenuItem: return "menu item";
    case UiEvent::kPressed: return "pressed";
    case UiEvent::kKey: return "key";
    case UiEvent::kClosed: return "close box";
    case UiEvent::kSysCommand: return "system command";
    case UiEvent::kEnded: return "ended";
    case UiEvent::kBroadcast: return "broadcast";
    case UiEvent::kSleep: return "sleep";
    case UiEvent::kIcon: return "icon set";
    case UiEvent::kIconDrawn: return "icon drawn";
    }
    return "?";
}

}  // namespace

[[noreturn]] void FailLoudly(const std::string& why) {
    std::fprintf(stderr, "\n*** simulated user: %s\n--- transcript ---\n%s--- end of transcript ---\n",
                 why.c_str(), TranscriptText().c_str());
    std::fflush(stderr);
    std::abort();
}

bool Act(HWND dialog, const UserAction& action, std::string* why) {
    Window* d = Find(dialog);
    if (!d) {
        *why = "the dialog is gone";
        return false;
    }
    const int templateId = d->templateId;
    char buffer[160];
    switch (action.kind) {
    case UserAction::kClick: {
        const HWND button = GetDlgItem(dialog, action.value);
        Window* b = Find(button);
        if (!b || !SameClass(b->cls, "Button")) {
            std::snprintf(buffer, sizeof buffer, "dialog %d has no button %d to click", templateId, action.value);
            *why = buffer;
            return false;
        }
        NoteFor(dialog, UiEvent::kPressed, std::string(), 0, "script");
        W().transcript.back().control = action.value;
        Post(button, BM_CLICK, 0, 0);
        return true;
    }
    case UserAction::kKey: {
        HWND target = d->focus && Find(d->focus) ? d->focus : dialog;
        if (W().focus && DialogOf(W().focus) == d) target = W().focus;
        NoteFor(dialog, UiEvent::kKey, std::string(), action.value, "script");
        Post(target, WM_KEYDOWN, static_cast<WPARAM>(action.value), 1);
        return true;
    }
    case UserAction::kCloseBox:
        if (!(d->style & WS_SYSMENU)) {
            std::snprintf(buffer, sizeof buffer, "dialog %d has no close box", templateId);
            *why = buffer;
            return false;
        }
        NoteFor(dialog, UiEvent::kClosed, std::string(), 0, "script");
        Post(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        return true;
    case UserAction::kSysCommand: {
        bool present = false;
        for (const MenuItem& item : d->systemMenu) {
            if (!(item.flags & MF_SEPARATOR) && item.command == static_cast<UINT_PTR>(action.value)) present = true;
        }
        if (!(d->style & WS_SYSMENU) || !present) {
            std::snprintf(buffer, sizeof buffer, "the system menu of dialog %d has no entry %d", templateId,
                          action.value);
            *why = buffer;
            return false;
        }
        NoteFor(dialog, UiEvent::kSysCommand, std::string(), action.value, "script");
        Post(dialog, WM_SYSCOMMAND, static_cast<WPARAM>(action.value), 0);
        return true;
    }
    }
    return false;
}

void RunReactions(HWND control, UiEvent::Kind kind) {
    Window* c = Find(control);
    Window* d = DialogOf(control);
    if (!c || !d || !d->visible) return;
    const int templateId = d->templateId;
    const int id = c->id;
    const HWND dialog = d->handle;
    std::vector<UserAction> due;
    auto& reactions = W().reactions;
    for (auto it = reactions.begin(); it != reactions.end();) {
        if (it->dialog == templateId && it->control == id && it->on == kind && --it->remaining == 0) {
            due.push_back(it->action);
            it = reactions.erase(it);
        } else {
            ++it;
        }
    }
    for (const UserAction& action : due) {
        std::string why;
        if (!Act(dialog, action, &why)) FailLoudly(why);
    }
}

// ---------------------------------------------------------------------------
// Control

void Answer(int dialogId, UserAction action) { W().answers[dialogId].push_back(action); }

void AtPosition(int dialogId, int barId, int nth, UserAction action) {
    W().reactions.push_back(Reaction{dialogId, barId, UiEvent::kPosition, nth < 1 ? 1 : nth, action});
}

void AtText(int dialogId, int controlId, int nth, UserAction action) {
    W().reactions.push_back(Reaction{dialogId, controlId, UiEvent::kText, nth < 1 ? 1 : nth, action});
}

int PendingUserActions() {
    size_t n = W().reactions.size();
    for (const auto& entry : W().answers) n += entry.second.size();
    return static_cast<int>(n);
}

const std::vector<UiEvent>& Transcript() { return W().transcript; }

std::string TranscriptText() {
    std::string out;
    char line[96];
    for (const UiEvent& e : W().transcript) {
        std::snprintf(line, sizeof line, "[%d", e.dialog);
        out += line;
        if (e.control) {
            std::snprintf(line, sizeof line, ":%d", e.control);
            out += line;
        }
        out += "] ";
        out += KindName(e.kind);
        switch (e.kind) {
        case UiEvent::kCreated:
        case UiEvent::kText:
        case UiEvent::kRow:
        case UiEvent::kMenuItem:
        case UiEvent::kIconDrawn:
            out += " \"" + Readable(e.text) + "\"";
            break;
        case UiEvent::kColumn:
            out += " \"" + Readable(e.text) + "\"";
            break;
        default: break;
        }
        if (e.kind == UiEvent::kPosition || e.kind == UiEvent::kColumn || e.kind == UiEvent::kKey ||
            e.kind == UiEvent::kSysCommand || e.kind == UiEvent::kEnded || e.kind == UiEvent::kBroadcast ||
            e.kind == UiEvent::kSleep || e.kind == UiEvent::kRow || e.kind == UiEvent::kMenuItem) {
            std::snprintf(line, sizeof line, " %lld", e.value);
            out += line;
        }
        if (e.kind == UiEvent::kSleep && !e.text.empty()) out += " (unpainted: " + e.text + ")";
        if (!e.by.empty()) out += " by " + e.by;
        out += "\n";
    }
    return out;
}

std::vector<std::string> TextsShown(int dialogId, int controlId) {
    std::vector<std::string> texts;
    for (const UiEvent& e : W().transcript) {
        if (e.kind == UiEvent::kText && e.dialog == dialogId && e.control == controlId) texts.push_back(e.text);
    }
    return texts;
}

std::vector<UiEvent> EventsOf(UiEvent::Kind kind, int dialogId) {
    std::vector<UiEvent> events;
    for (const UiEvent& e : W().transcript) {
        if (e.kind == kind && (dialogId == 0 || e.dialog == dialogId)) events.push_back(e);
    }
    return events;
}

HWND FindDialog(int dialogId) {
    HWND found = nullptr;
    for (auto& entry : W().windows) {
        if (entry.second.isDialog && entry.second.templateId == dialogId) found = entry.second.handle;
    }
    return found;
}

int DialogId(HWND window) { return TemplateOf(window); }

HWND ActiveDialog() { return ActiveDialogWindow(); }

RECT TemplateRect(HWND window) {
    Window* w = Find(window);
    return w ? w->dlu : RECT{};
}

DWORD WindowStyle(HWND window) {
    Window* w = Find(window);
    return w ? w->style : 0;
}

std::string ClassName(HWND window) {
    Window* w = Find(window);
    return w ? w->cls : std::string();
}

int OpenWindowCount() { return static_cast<int>(W().windows.size()); }
int WindowsCreated() { return W().created; }


}  // namespace sim
