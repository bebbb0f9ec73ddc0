#include "dialogs/reportdialog.h"

#include "dialogs/messagedialogs.h"

void PumpPendingMessages() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

CReportDialog::CReportDialog(UINT idTemplate, UINT stopQuestion, CWnd* parent)
    : CDialog(idTemplate, parent), m_stopRequested(0), m_stopQuestion(stopQuestion), m_stopConfirmed(0) {}

BOOL CReportDialog::Create(CWnd* parent) { return CDialog::Create(m_nIDTemplate, parent); }

BOOL CReportDialog::PreTranslateMessage(MSG* msg) {
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE)) return TRUE;
    return CDialog::PreTranslateMessage(msg);
}

void CReportDialog::OnStop() { m_stopRequested = 1; }

void CReportDialog::BeginReport() {
    if (m_hWnd && !IsWindowVisible()) ShowWindow(SW_SHOW);
    PumpPendingMessages();
}

void CReportDialog::PaintReport() {
    if (!m_hWnd) return;
    // The window and its controls (UpdateWindow paints the children too),
    // then whatever else on the thread waits to be painted.  Only paint
    // messages are taken: a click stays queued for the next report.  The
    // last look, which finds nothing, is also when Wine's display driver
    // hands the painted pixels to the X server.
    UpdateWindow();
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) ::DispatchMessageA(&msg);
}

int CReportDialog::ConfirmStop() {
    // A stop once confirmed stays confirmed: the user is not asked again (a
    // "いいえ" then would take back an answer the caller may already act on).
    if (m_stopRequested && !m_stopConfirmed) {
        if (AskYesNo(m_stopQuestion)) m_stopConfirmed = 1;
        else m_stopRequested = 0;
        // What the question covered is painted again before the job goes on.
        PaintReport();
    }
    return m_stopRequested ? 1 : 0;
}
