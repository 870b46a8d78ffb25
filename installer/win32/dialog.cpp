// The installer page (dialog template 101): a side picture, a bold header, the introduction and
// status texts from the setup script, a progress bar and three buttons. Its main button runs the
// install (payload extraction, then the finishing command) and, once the install has finished, closes
// the page.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "installer/dialog.h"
#include "installer/installer.h"
#include "installer/payload.h"
#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace {

// Ids of template 101 (resources/QorEngineUpdate.rc).
constexpr int kTemplateId = 101;
constexpr int kMainButton = IDOK;      // Msg09, then Msg08
constexpr int kCancelButton = IDCANCEL;
constexpr int kBackButton = 3;         // Msg07, always disabled
constexpr int kProgressBar = 1002;
constexpr int kIntroText = 1005;
constexpr int kStatusText = 1007;
constexpr int kHeaderText = 1012;
constexpr int kPicture = 1014;

// The side picture: bitmap 103 (the template's) at its pixel size at 96 DPI, 104 (twice as large)
// the source of every other size; and the picture control's template height in dialog units.
constexpr int kPictureLarge = 104;
constexpr int kPictureWidth = 164;
constexpr int kPictureHeight = 314;
constexpr int kPictureHeightUnits = 193;

// The page's end results, as DialogBoxParam hands them back.
constexpr INT_PTR kEndFinished = 0;
constexpr INT_PTR kEndCancelled = 6;
constexpr INT_PTR kEndFailed = 7;

// What the page works with, reachable from its window (DWLP_USER) for as long as it is open.
struct PageState {
  InstallSession* session;
  bool qorDllPresent;      // the engine's library was in the system directory when the page opened
  std::uint32_t status;    // the finishing command's status once the install has run
  bool finished;           // the install has run: the page shows Finished
  Failure failure;         // what ended the page with a failure, for the run's record
};

PageState& StateOf(HWND page) { return *reinterpret_cast<PageState*>(GetWindowLongPtrA(page, DWLP_USER)); }

// The user text `key` of the chosen language, as platform text.
std::string LangText(HWND page, const char* key) {
  const InstallSession& session = *StateOf(page).session;
  return LanguageText(session.script, session.language, key);
}

// Texts reach the controls through the wide calls: a section of a list is in its own language's
// code page, which need not be the machine's, so the bytes are converted here, not by the system.
void SetControlText(HWND page, int id, const std::string& text) {
  SetDlgItemTextW(page, id, platform::WidenForDisplay(text).c_str());
}

void SetLangText(HWND page, int id, const char* key) { SetControlText(page, id, LangText(page, key)); }

void SetProgress(HWND page, int position) {
  SendDlgItemMessageA(page, kProgressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

// While the install runs the main button is disabled; that is how the page knows it is busy without
// keeping a flag of its own. Messages that reach the page then (sent ones are delivered inside the
// message pumping below, and the Err07 box runs a message loop of its own) must start nothing.
bool Installing(HWND page) { return !IsWindowEnabled(GetDlgItem(page, kMainButton)); }

// Input and close requests: what the user does to the page. While the install runs these are
// dropped, so that no click or key starts a second install or closes the page halfway, and none is
// left queued to act on the finished page.
bool IsUserRequest(const MSG& message) {
  const UINT m = message.message;
  return (m >= WM_KEYFIRST && m <= WM_KEYLAST) || (m >= WM_MOUSEFIRST && m <= WM_MOUSELAST) ||
         (m >= WM_NCMOUSEMOVE && m <= WM_NCXBUTTONDBLCLK) || m == WM_COMMAND ||
         m == WM_SYSCOMMAND || m == WM_CLOSE;
}

// Lets the page repaint and answer the system while a step of the install runs on this thread:
// without it the window turns into a frozen "Not Responding" ghost until the finishing command ends.
void PumpWhileInstalling() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Not ours to consume: whoever runs the next message loop must still see it.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (IsUserRequest(message)) continue;
    DispatchMessageA(&message);
  }
}

void OnExtracted(void* context, std::uint32_t done, std::uint32_t total) {
  const HWND page = static_cast<HWND>(context);
  const int position = ExtractionPosition(done, StateOf(page).session->payloadStart, total);
  // Only real moves: the hook comes for every piece read, and each PBM_SETPOS repaints the bar.
  if (static_cast<int>(SendDlgItemMessageA(page, kProgressBar, PBM_GETPOS, 0, 0)) != position) {
    SetProgress(page, position);
  }
  PumpWhileInstalling();
}

void OnWaiting(void*) { PumpWhileInstalling(); }

void CentreOnDesktop(HWND page) {
  RECT desktop, window;
  GetClientRect(GetDesktopWindow(), &desktop);
  GetWindowRect(page, &window);
  // Signed: a page larger than the desktop gets a negative edge, so both halves stay equal.
  const int width = window.right - window.left, height = window.bottom - window.top;
  const int left = (static_cast<int>(desktop.right - desktop.left) - width) / 2;
  const int top = (static_cast<int>(desktop.bottom - desktop.top) - height) / 2;
  SetWindowPos(page, HWND_TOP, left, top, 0, 0, SWP_NOSIZE);
}

// How many pixels high the picture's column is on this page: the template's picture control, in
// the pixels of the page's dialog units. The dialog manager scales the controls by the dialog font,
// which does not always grow in step with the DPI; the page's own pixels (the picture, the header's
// font and so the white band) grow with the controls, so they stay in place among them. With the
// dialog's font at 96 DPI this is bitmap 103's height.
int ColumnHeight(HWND page) {
  RECT units = {0, 0, 0, kPictureHeightUnits};
  MapDialogRect(page, &units);
  return units.bottom;
}

// The header's font: the stock system font made bold, every other property kept, on a page at its
// 96-DPI size. Null when the system refuses it; the header then keeps the page's font.
//
// On a larger page the stock font will not do: it is a bitmap font drawn at its 96-DPI size, or at
// twice that, blocky, and asked for any other height its letters only move apart. The header takes
// an outline face instead, bold: that of the system's own dialogs on Windows 7 to 11, with the
// stock font's 96-DPI letter height (its cell less the room above the letters) grown with the page.
HFONT CreateHeaderFont(int columnHeight) {
  LOGFONTA description;
  if (GetObjectA(GetStockObject(SYSTEM_FONT), sizeof description, &description) == 0) return nullptr;
  description.lfWeight = 800;
  if (columnHeight != kPictureHeight) {
    constexpr int kStockLetterHeight = 13;
    description.lfHeight = -MulDiv(kStockLetterHeight, columnHeight, kPictureHeight);
    description.lfWidth = 0;
    description.lfOutPrecision = OUT_TT_PRECIS;
    lstrcpynA(description.lfFaceName, "Segoe UI", LF_FACESIZE);
  }
  return CreateFontIndirectA(&description);
}

// Gives the header back the page's font and deletes the bold one, which lives as long as the page.
void ReleaseHeaderFont(HWND page) {
  const HFONT pageFont = reinterpret_cast<HFONT>(SendMessageA(page, WM_GETFONT, 0, 0));
  const HFONT header = reinterpret_cast<HFONT>(SendDlgItemMessageA(page, kHeaderText, WM_GETFONT, 0, 0));
  if (header != nullptr && header != pageFont) {
    SendDlgItemMessageA(page, kHeaderText, WM_SETFONT, reinterpret_cast<WPARAM>(pageFont), FALSE);
    DeleteObject(header);
  }
}

// The side picture's size on this page: as high as its column (the white band that the page paints
// ends there, above the buttons), in the picture's proportions.
SIZE PictureSize(HWND page) {
  const int height = ColumnHeight(page);
  return {MulDiv(kPictureWidth, height, kPictureHeight), height};
}

// Bitmap 104 scaled to `size`, averaging its pixels so the picture stays smooth at any size; null
// when a step fails.
HBITMAP ScaledPicture(HINSTANCE instance, SIZE size) {
  // Loaded as a device-dependent bitmap: bitmap 104 is run-length encoded, which a DIB section
  // cannot hold.
  const HBITMAP source = static_cast<HBITMAP>(
      LoadImageA(instance, MAKEINTRESOURCEA(kPictureLarge), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  BITMAP from;
  if (source == nullptr || GetObjectA(source, sizeof from, &from) == 0) {
    if (source != nullptr) DeleteObject(source);
    return nullptr;
  }
  HDC screen = GetDC(nullptr);
  HDC sourceDc = CreateCompatibleDC(screen);
  HDC targetDc = CreateCompatibleDC(screen);
  HBITMAP scaled = CreateCompatibleBitmap(screen, size.cx, size.cy);
  bool drawn = false;
  if (sourceDc != nullptr && targetDc != nullptr && scaled != nullptr) {
    const HGDIOBJ oldSource = SelectObject(sourceDc, source);
    const HGDIOBJ oldTarget = SelectObject(targetDc, scaled);
    // The default mode drops whole rows and columns, which leaves the edges stepped. HALFTONE
    // averages; it needs the brush origin set after it is chosen.
    SetStretchBltMode(targetDc, HALFTONE);
    SetBrushOrgEx(targetDc, 0, 0, nullptr);
    drawn = StretchBlt(targetDc, 0, 0, size.cx, size.cy, sourceDc, 0, 0, from.bmWidth,
                       from.bmHeight, SRCCOPY) != FALSE;
    SelectObject(sourceDc, oldSource);
    SelectObject(targetDc, oldTarget);
  }
  if (sourceDc != nullptr) DeleteDC(sourceDc);
  if (targetDc != nullptr) DeleteDC(targetDc);
  ReleaseDC(nullptr, screen);
  DeleteObject(source);
  if (!drawn && scaled != nullptr) {
    DeleteObject(scaled);
    scaled = nullptr;
  }
  return scaled;
}

// Sizes the side picture for the page's scale. The picture control shows its bitmap at the bitmap's
// pixel size and sizes itself to it, so at any other size than 103's own it gets a bitmap of that
// size. When none can be made it keeps bitmap 103.
void FitPicture(HWND page) {
  const SIZE size = PictureSize(page);
  if (size.cx == kPictureWidth && size.cy == kPictureHeight) return;
  const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(page, GWLP_HINSTANCE));
  if (HBITMAP scaled = ScaledPicture(instance, size)) {
    const HGDIOBJ previous = reinterpret_cast<HGDIOBJ>(SendDlgItemMessageA(
        page, kPicture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(scaled)));
    if (previous != nullptr) DeleteObject(previous);
    // The picture control of the common controls may show a copy of a 32-bit bitmap (made for its
    // alpha channel) and own that copy; the one given is then unused and would leak.
    const LRESULT shown = SendDlgItemMessageA(page, kPicture, STM_GETIMAGE, IMAGE_BITMAP, 0);
    if (reinterpret_cast<HBITMAP>(shown) != scaled) DeleteObject(scaled);
  }
}

// Takes the side picture's bitmap from its control and deletes it: the control deletes no bitmap
// that it was given.
void ReleasePicture(HWND page) {
  const HGDIOBJ image = reinterpret_cast<HGDIOBJ>(
      SendDlgItemMessageA(page, kPicture, STM_SETIMAGE, IMAGE_BITMAP, 0));
  if (image != nullptr) DeleteObject(image);
}

BOOL OnOpen(HWND page, PageState* state) {
  SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
  SetForegroundWindow(page);
  FitPicture(page);
  SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  CentreOnDesktop(page);

  // The page tells a first install from an upgrade by the engine's library in the system directory,
  // looked at once, now: a qor.dll that the finishing command installs does not change the closing text.
  char library[platform::kPathCapacity];
  static const char kLibrary[] = "\\qor.dll";
  state->qorDllPresent = false;
  if (platform::SystemDirectory(library) &&
      lstrlenA(library) + sizeof kLibrary <= sizeof library) {
    lstrcatA(library, kLibrary);
    state->qorDllPresent = platform::FileExists(library);
  }
  SetLangText(page, kIntroText, state->qorDllPresent ? "Msg14" : "Msg11");

  SetLangText(page, kStatusText, "Msg06");
  SetLangText(page, kMainButton, "Msg09");
  SetLangText(page, kCancelButton, "Msg10");
  SetLangText(page, kBackButton, "Msg07");
  SetFocus(GetDlgItem(page, kMainButton));

  // The title belongs to no language section: it is in the machine's code page, as it always was.
  const std::string title = platform::FromScriptText(state->session->script.Text("Cmd", "Title"));
  SetWindowTextW(page, platform::WidenForDisplay(title).c_str());

  // Both parts may hold 259 characters: the header is built in room for both, so nothing is cut.
  SetControlText(page, kHeaderText, LangText(page, "Msg02") + " " + title);
  if (HFONT bold = CreateHeaderFont(ColumnHeight(page))) {
    SendDlgItemMessageA(page, kHeaderText, WM_SETFONT, reinterpret_cast<WPARAM>(bold), TRUE);
  }

  ShowWindow(GetDlgItem(page, kProgressBar), SW_HIDE);
  ShowWindow(GetDlgItem(page, kCancelButton), SW_SHOW);
  return TRUE;
}

// White above the picture's lower edge, the button face below it, and a dark line between: the
// band starts at the picture's pixel height, so it meets the picture whatever the dialog units are.
BOOL OnEraseBackground(HWND page, HDC dc) {
  RECT client, picture;
  GetClientRect(page, &client);
  GetClientRect(GetDlgItem(page, kPicture), &picture);
  const int width = client.right, height = client.bottom, band = picture.bottom;

  // The system's own colour brushes: always valid, never deleted, so painting creates no brush.
  RECT upper = {0, 0, width, band};
  FillRect(dc, &upper, GetSysColorBrush(COLOR_WINDOW));
  RECT lower = {0, band, width, height};
  FillRect(dc, &lower, GetSysColorBrush(COLOR_BTNFACE));

  if (HPEN pen = CreatePen(PS_SOLID, 0, GetSysColor(COLOR_BTNTEXT))) {
    HGDIOBJ previous = SelectObject(dc, pen);
    MoveToEx(dc, 0, band, nullptr);
    LineTo(dc, width, band);
    SelectObject(dc, previous);
    DeleteObject(pen);
  }
  // Tells the system the background is erased (the dialog procedure's TRUE only says "handled").
  SetWindowLongPtrA(page, DWLP_MSGRESULT, TRUE);
  return TRUE;
}

// The install's failure is shown while the page is still open, so that its box stands over it;
// then the page ends.
void EndWithFailure(HWND page, const Failure& failure) {
  PageState& state = StateOf(page);
  state.failure = failure;
  ReportFatal(failure, state.session->script, state.session->scriptPath, false);
  EndDialog(page, kEndFailed);
}

void RunInstall(HWND page) {
  PageState& state = StateOf(page);
  ShowWindow(GetDlgItem(page, kProgressBar), SW_SHOW);
  EnableWindow(GetDlgItem(page, kCancelButton), FALSE);
  EnableWindow(GetDlgItem(page, kMainButton), FALSE);

  SetProgress(page, kProgressExtracting);
  SetLangText(page, kStatusText, "Msg03");
  PumpWhileInstalling();  // the user sees the step before it starts
  const InstallProgress progress = {page, OnExtracted, OnWaiting};
  if (Failure failure = ExtractPayload(*state.session, &progress)) return EndWithFailure(page, failure);

  SetProgress(page, kProgressRunning);
  SetLangText(page, kStatusText, "Msg04");
  PumpWhileInstalling();
  if (Failure failure = RunFinishingCommand(*state.session, state.status, &progress)) {
    return EndWithFailure(page, failure);
  }
  if (Failure failure = JudgeCommandStatus(state.status)) return EndWithFailure(page, failure);

  SetProgress(page, kProgressDone);
  SetLangText(page, kStatusText, state.qorDllPresent ? "Msg13" : "Msg05");
  // Drops the last clicks and keys of the install before the button can take them.
  PumpWhileInstalling();
  SetLangText(page, kMainButton, "Msg08");
  state.finished = true;
  EnableWindow(GetDlgItem(page, kMainButton), TRUE);
  SetFocus(GetDlgItem(page, kMainButton));
}

BOOL OnMainButton(HWND page) {
  if (Installing(page)) return TRUE;  // a second press while the first install runs
  // The page's own state decides, never the button's label: a script may give Msg08 and Msg09 the
  // same text, or neither.
  if (StateOf(page).finished) {
    EndDialog(page, kEndFinished);
    return TRUE;
  }
  RunInstall(page);
  return TRUE;
}

}  // namespace

INT_PTR CALLBACK InstallerDialog(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnOpen(page, reinterpret_cast<PageState*>(lParam));
    case WM_ERASEBKGND:
      return OnEraseBackground(page, reinterpret_cast<HDC>(wParam));
    case WM_CTLCOLORSTATIC:
      // Transparent statics on the white upper area: text background and brush both match it.
      SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kMainButton:
          return OnMainButton(page);
        case kCancelButton:
          // A close request that slips in while the install runs (the Err07 box's own message loop
          // delivers Esc and the close box) must not end the page halfway. On the Finished page
          // Esc and the close box (both arrive as this command) end it as Finish does: the install
          // has succeeded, and its files are cleaned up.
          if (Installing(page)) return TRUE;
          EndDialog(page, StateOf(page).finished ? kEndFinished : kEndCancelled);
          return TRUE;
        default:
          return FALSE;
      }
    case WM_CLOSE:
      // The close box, handled here rather than left to the dialog manager, which turns it into
      // the Cancel command only while the Cancel button is enabled: on the Finished page it is
      // disabled, and the close box must still end the page as Finish does.
      if (!Installing(page)) EndDialog(page, StateOf(page).finished ? kEndFinished : kEndCancelled);
      return TRUE;
    case WM_DESTROY:
      ReleaseHeaderFont(page);
      ReleasePicture(page);
      return TRUE;
    default:
      return FALSE;
  }
}

PageEnd RunInstallerDialog(void* instance, InstallSession& session, std::uint32_t& status, Failure& failure) {
  PageState state{&session, false, 0, false, Failure()};
  const INT_PTR end = DialogBoxParamA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(kTemplateId),
                                      GetDesktopWindow(), InstallerDialog, reinterpret_cast<LPARAM>(&state));
  status = state.status;
  failure = state.failure;
  switch (end) {
    case kEndFinished: return PageEnd::Finished;
    case kEndCancelled: return PageEnd::Cancelled;
    case kEndFailed: return PageEnd::Failed;
    default: return PageEnd::NotShown;
  }
}
