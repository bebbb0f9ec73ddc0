#include "app/unattended.h"

#include "app/cmdline.h"
#include "app/environment.h"
#include "app/exitcodes.h"
#include "app/fontcache.h"
#include "app/runlog.h"
#include "app/updaterdlg.h"
#include "dialogs/progressdialog.h"
#include "discovery/foldercheck.h"
#include "driver/pending.h"

namespace {

int ReviseUnattended(const CommandLine& options, CString* lastFont) {
    if (options.mode != CommandLine::kPassive) {
        // No window: the engine's reports go nowhere, and nothing waits so
        // that a person could read them.
        return ReviseFoundFonts(&COpenTypeUpdaterDlg::ProgressCallback, nullptr, lastFont);
    }
    CProgressDialog progress;
    if (!progress.Create(nullptr)) {
        return ReviseFoundFonts(&COpenTypeUpdaterDlg::ProgressCallback, nullptr, lastFont);
    }
    // No one is asked anything: the stop button, whose click asks, is off.
    CWnd* stop = progress.GetDlgItem(IDC_PROGRESS_STOP);
    if (stop) stop->EnableWindow(FALSE);
    progress.ShowWindow(SW_SHOW);
    progress.UpdateWindow();
    const int result = ReviseFoundFonts(&COpenTypeUpdaterDlg::ProgressCallback, &progress, lastFont);
    progress.DestroyWindow();
    return result;
}

int RunSteps(const CommandLine& options, CFolderCheckCtrl* control) {
    const int environment = CheckEnvironment([](UINT messageId) { LogMessage("refused", messageId); });
    LogEnvironment(environment);
    if (environment != kEnvWindowsXp && environment != kEnvWindowsVista) return ExitCodeOfEnvironment(environment);
    // /check revises nothing, not even what waits from an earlier start.
    if (!options.check) CompleteRevisionsOfEarlierStarts();

    if (control->GetDiffFileCount() == 0) {
        LogMessage("host", IDS_NO_SOURCE_FONT);
        return kExitFailed;
    }
    control->SearchFonts(nullptr, nullptr);
    LogSearch(*control);
    // No drive listed is no search: "nothing to do" would be a guess.
    if (control->m_drives.empty()) {
        RunLog().Write("search: no fixed drive could be listed");
        return kExitFailed;
    }
    // A search that could not look everywhere may have missed a font: the
    // fonts it found are still revised, but the run is not a success, or
    // the deployment system would never run it again.
    const bool searchFailed = control->m_searchFailureCount > 0;
    if (searchFailed) RunLog().Write("search: some places could not be searched (search-failed above)");
    if (control->GetFoundFontCount() == 0) {
        LogMessage("search", IDS_NO_TARGET_FOUND);
        return searchFailed ? kExitFailed : kExitNothingToDo;
    }
    if (options.check) {
        RunLog().Write("check: fonts still need revising");
        return searchFailed ? kExitFailed : kExitWorkNeeded;
    }

    CString lastFont;
    const int result = ReviseUnattended(options, &lastFont);
    ::PostMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
    if (result != kReviseOk) return ExitCodeOfRevision(result);

    DeleteFontCache();
    if (searchFailed) {
        // The run is to be repeated; the restart waits for the one that succeeds.
        RunLog().Write("restart not started: the search failed in part; the revised fonts take effect at the next restart");
        return kExitFailed;
    }
    if (!options.forceRestart) {
        RunLog().Write("restart not started: the fonts take effect at the next restart");
        return kExitRestartNeeded;
    }
    if (RequestRestart()) {
        RunLog().Write("restart started");
        return kExitRestartStarted;
    }
    RunLog().Write("restart refused by Windows: the fonts take effect at the next restart");
    return kExitRestartNeeded;
}

// The program as Windows starts it once at its next start: the revisions
// that wait, each checked before it is moved in, and nothing else.
int CompleteAtStart() {
    const CompletionCounts counts = CompletePendingRevisions(
        kEveryRecord, [](const char* line, void*) { RunLog().Write(line); }, nullptr);
    if (counts.revised > 0) ::PostMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
    RunLog().Writef("completion: %d revised, %d left as they were", counts.revised, counts.discarded);
    return counts.discarded > 0 ? kExitFailed : kExitNothingToDo;
}

}  // namespace

int RunUnattended(const CommandLine& options) {
    if (options.complete) return CompleteAtStart();
    const int code = RunSteps(options, GetFolderCheckCtrl());
    ReleaseFolderCheckCtrl();
    return code;
}
