#include "app/updaterdlg.h"

#include <cstdarg>

#include "app/environment.h"
#include "app/exitcodes.h"
#include "app/fontcache.h"
#include "app/runlog.h"
#include "dialogs/messagedialogs.h"
#include "dialogs/progressdialog.h"
#include "dialogs/startdialog.h"
#include "dialogs/waitdialog.h"
#include "discovery/foldercheck.h"
#include "driver/revise.h"
#include "driver/pending.h"
#include "engine/manager.h"
#include "platform/framework/path.h"

namespace {

const int kFontColumnWidth = 600;
// Between two fonts, so that the system has finished with the last copy.
const DWORD kPauseBetweenFonts = 100;

void ShowNotice(const CString& text) {
    COKDialog dialog;
    dialog.SetMessage(text);
    dialog.DoModal();
}

void ShowNotice(UINT messageId) {
    CString text;
    FormatMessageId(text, messageId);
    ShowNotice(text);
}

// The difference file's name without its folder, as the messages show it.
// A font with no difference file (which the driver never gets past) is
// named by its own path instead of an empty pair of brackets.
CString DiffFileNameOf(const char* fontPath) {
    const DiffFileRecord* record = GetFolderCheckCtrl()->FindDiffFile(fontPath, 0);
    if (!record) return CString(fontPath);
    CString base, ext;
    SplitPath(record->diffPath, nullptr, nullptr, &base, &ext);
    return base + ext;
}

}  // namespace

void FormatMessageId(CString& out, UINT id, ...) {
    CString format;
    format.LoadString(id);
    va_list args;
    va_start(args, id);
    out.FormatV(format, args);
    va_end(args);
}

CString OutcomeMessage(int result, const char* fontPath) {
    // The message of each result and what its "%s" names; a stopped run and
    // any result not listed end with the plain "stopped" message.
    enum Names { kNothing, kFont, kDiffFile };
    static const struct {
        int result;
        UINT message;
        Names names;
    } kOutcomes[] = {
        {kReviseOk, IDS_END_NORMAL, kNothing},
        {kReviseLoadFailed, IDS_FONT_READ_FAILED, kFont},
        {kReviseTempFailed, IDS_TEMP_CREATE_FAILED, kDiffFile},
        {kReviseCopyFailed, IDS_COPY_FAILED, kDiffFile},
        {kReviseDiffUnreadable, IDS_DIFF_READ_FAILED, kDiffFile},
        {kReviseNoNameTable, IDS_UPDATE_FAILED, kDiffFile},
        {kReviseReadBackFailed, IDS_READ_BACK_FAILED, kFont},
        {kReviseChecksum, IDS_CHECKSUM_FAILED, kFont},
        // Not the messages of a failed check, which tell of a font put back
        // as it was: this one names the installed file whose update failed.
        {kReviseRestoreFailed, IDS_UPDATE_FAILED, kFont},
        // What the release manifest says does not hold: the file shipped
        // was damaged, or the installed font is not the one it was made from.
        {kReviseDiffNotReleased, IDS_DIFF_READ_FAILED, kDiffFile},
        {kReviseFontNotReleased, IDS_FONT_READ_FAILED, kFont},
        {kReviseResultNotReleased, IDS_DIFF_READ_FAILED, kDiffFile},
        // Nothing was written or kept: the user frees the font and runs again.
        {kReviseFontInUse, IDS_FONT_IN_USE, kFont},
    };
    CString message;
    for (const auto& outcome : kOutcomes) {
        if (outcome.result != result) continue;
        const CString named =
            outcome.names == kDiffFile ? DiffFileNameOf(fontPath) : CString(fontPath ? fontPath : "");
        FormatMessageId(message, outcome.message, static_cast<const char*>(named));
        return message;
    }
    FormatMessageId(message, IDS_END_STOPPED);
    return message;
}

BEGIN_MESSAGE_MAP(COpenTypeUpdaterDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDCANCEL, &COpenTypeUpdaterDlg::OnAbortClicked)
    ON_BN_CLICKED(IDOK, &COpenTypeUpdaterDlg::OnRunClicked)
END_MESSAGE_MAP()

COpenTypeUpdaterDlg::COpenTypeUpdaterDlg(CWnd* parent) : CDialog(IDD, parent), m_hIcon(nullptr), m_exitCode(kExitCancelled) {
    m_hIcon = ::LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

COpenTypeUpdaterDlg::~COpenTypeUpdaterDlg() {
    // The search controller lives as long as the dialog that used it.
    ReleaseFolderCheckCtrl();
}

void COpenTypeUpdaterDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_FONT_LIST, m_listFonts);
}

int COpenTypeUpdaterDlg::CheckEnvironment() {
    return ::CheckEnvironment([](UINT messageId) {
        LogMessage("refused", messageId);
        ShowNotice(messageId);
    });
}

BOOL COpenTypeUpdaterDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    CMenu* systemMenu = GetSystemMenu(FALSE);
    if (systemMenu) {
        CString about;
        about.LoadString(IDS_ABOUTBOX);
        if (!about.IsEmpty()) {
            systemMenu->AppendMenu(MF_SEPARATOR);
            systemMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, about);
        }
    }
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    // The host folder is scanned here, before anything is asked.
    CFolderCheckCtrl* control = GetFolderCheckCtrl();

    const int environment = CheckEnvironment();
    LogEnvironment(environment);
    if (environment != kEnvWindowsXp && environment != kEnvWindowsVista) {
        m_exitCode = ExitCodeOfEnvironment(environment);
        EndDialog(0);
        return FALSE;
    }

    // What waits from an earlier start of Windows is done before the search,
    // which would list its fonts again.
    CompleteRevisionsOfEarlierStarts();

    {
        CStartDialog start;
        if (start.DoModal() == IDCANCEL) {
            RunLog().Write("start notice declined");
            EndDialog(0);
            return FALSE;
        }
    }

    m_listFonts.InsertColumn(0, "フォント名", LVCFMT_LEFT, kFontColumnWidth, 1);
    m_listFonts.SetExtendedStyle(LVS_EX_FULLROWSELECT);

    if (control->GetDiffFileCount() == 0) {
        // The package itself is broken: that is a failure to whoever sent it.
        m_exitCode = kExitFailed;
        LogMessage("host", IDS_NO_SOURCE_FONT);
        ShowNotice(IDS_NO_SOURCE_FONT);
        EndDialog(0);
        return FALSE;
    }

    CWaitDialog wait;
    wait.Create(this);
    wait.ShowWindow(SW_SHOW);
    wait.UpdateWindow();
    // A stopped search is not told apart from a finished one: whatever was
    // found until then is listed.
    control->SearchFonts(&COpenTypeUpdaterDlg::SearchStatusCallback, &wait);
    // A stop used as the search ended is still asked about; either answer
    // lists what was found.
    wait.AnswerUser();
    LogSearch(*control);

    const INT_PTR count = control->GetFoundFontCount();
    if (count == 0) {
        // Nothing found by a search the user stopped says nothing of the fonts.
        m_exitCode = wait.StopConfirmed() ? kExitCancelled : kExitNothingToDo;
        LogMessage("search", IDS_NO_TARGET_FOUND);
        wait.DestroyWindow();
        ShowNotice(IDS_NO_TARGET_FOUND);
        EndDialog(0);
        return FALSE;
    }
    for (INT_PTR i = 0; i < count; ++i) {
        m_listFonts.InsertItem(static_cast<int>(i), control->GetFoundFont(i)->path);
    }
    wait.DestroyWindow();
    Invalidate(FALSE);
    return TRUE;
}

void COpenTypeUpdaterDlg::OnSysCommand(UINT id, LPARAM lParam) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else {
        CDialog::OnSysCommand(id, lParam);
    }
}

void COpenTypeUpdaterDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int iconWidth = ::GetSystemMetrics(SM_CXICON);
    const int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(&client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR COpenTypeUpdaterDlg::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(m_hIcon); }

void COpenTypeUpdaterDlg::OnAbortClicked() {
    if (AskYesNo(IDS_CONFIRM_ABORT)) {
        RunLog().Write("listing aborted");
        m_exitCode = kExitCancelled;
        CDialog::OnCancel();
    }
}

void CompleteRevisionsOfEarlierStarts() {
    CompletePendingRevisions(
        kEarlierStarts, [](const char* line, void*) { RunLog().Write(line); }, nullptr);
}

int ReviseFoundFonts(ProgressCallbackFn callback, void* context, CString* lastFont) {
    CFolderCheckCtrl* control = GetFolderCheckCtrl();
    const INT_PTR count = control->GetFoundFontCount();
    // A run cut short before (the program killed, the power lost) may
    // have left a complete copy beside a font; the next replacement
    // would pass it by, but it would stay in the font folder for good.
    for (INT_PTR i = 0; i < count; ++i) RemoveReplaceLeftovers(control->GetFoundFont(i)->path);

    int result = kReviseOk;
    for (INT_PTR i = 0; i < count; ++i) {
        const FoundFontRecord* record = control->GetFoundFont(i);
        if (!record->skip) {
            COpenTypeManager manager;
            result = manager.ReviseFont(record->path, record->revision, callback, context, static_cast<int>(count),
                                        static_cast<int>(i));
            *lastFont = record->path;
            LogFontResult(record->path, result);
            if (result == kReviseOk && RunLog().IsOpen() && RevisionWaitingFor(record->path)) {
                RunLog().Writef("waiting for restart: %s", static_cast<const char*>(record->path));
            }
        }
        // The fonts before a failure stay revised; those after it are
        // not touched.
        if (result != kReviseOk) break;
        ::Sleep(kPauseBetweenFonts);
    }
    return result;
}

void COpenTypeUpdaterDlg::OnRunClicked() {
    CFolderCheckCtrl* control = GetFolderCheckCtrl();
    const INT_PTR count = control->GetFoundFontCount();
    if (count == 0) {
        ShowNotice(IDS_NO_TARGET_TO_RUN);
        return;
    }

    ShowWindow(SW_HIDE);

    CString lastFont;
    int result = kReviseOk;
    {
        CProgressDialog progress;
        progress.Create(this);
        progress.ShowWindow(SW_SHOW);
        progress.UpdateWindow();
        result = ReviseFoundFonts(&COpenTypeUpdaterDlg::ProgressCallback, &progress, &lastFont);
        progress.DestroyWindow();
    }

    const CString message = OutcomeMessage(result, lastFont);
    ::PostMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);

    m_exitCode = ExitCodeOfRevision(result);
    if (result == kReviseOk) {
        DeleteFontCache();
        CNormalEndDialog end;
        end.SetMessage(message);
        if (end.DoModal() == IDOK) {
            const bool started = RequestRestart();
            if (started) m_exitCode = kExitRestartStarted;
            RunLog().Write(started ? "restart chosen: started" : "restart chosen: refused by Windows");
        } else {
            RunLog().Write("restart declined: the fonts take effect at the next restart");
        }
    } else {
        CEndDialog end;
        end.SetMessage(message);
        end.DoModal();
    }
    CDialog::OnOK();
}

int COpenTypeUpdaterDlg::ProgressCallback(int overall, int step, const char* line1, const char* line2,
                                          void* context) {
    if (!context) return 0;
    const CString first(line1 ? line1 : "");
    const CString second(line2 ? line2 : "");
    return static_cast<CProgressDialog*>(context)->UpdateProgress(overall, step, first, second);
}

int COpenTypeUpdaterDlg::SearchStatusCallback(const char* text, void* context) {
    if (!context) return 0;
    CWaitDialog* wait = static_cast<CWaitDialog*>(context);
    if (!text) return wait->AnswerUser();
    return wait->ShowStatus(CString(text));
}
