// The main window on Windows, on the desktop of the Wine prefix with a display: its controls as
// the settings make them at 96 and 120 dots per inch, the bars, the log view and its edits, the
// icons, the message box of the default error handler, closing, and the silent presentation.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/exception.h"
#include "platform/ui.h"
#include "platform/win32/main_window.h"
#include "platform/win32/window_presentation.h"
#include "tests/support/programs.h"

#include <commctrl.h>

using namespace plat;
using plat::win32::Memo1Id;
using plat::win32::ProgressBar1Id;
using plat::win32::ProgressBar2Id;

namespace {

// The main window's components as the program sets them up.
struct TForm {
    TWindowSettings Window;
    TMemo Memo1;
    TProgressBar ProgressBar1, ProgressBar2;
    TForm() {
        Window.Caption = "Kestavorin Updater";
        ProgressBar1.Smooth = true;
        ProgressBar1.Step = 2;
        ProgressBar2.Smooth = false;
        ProgressBar2.Step = 1;
    }
};

RECT ChildRect(HWND parent, int id) {
    RECT r{};
    const HWND child = ::GetDlgItem(parent, id);
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::vector<int> Rect(const RECT& r) {
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

LONG_PTR Style(HWND window, int which = GWL_STYLE) {
    return ::GetWindowLongPtrA(window, which);
}

// The lines the log view holds, byte for byte.
std::vector<std::string> Shown(HWND memo) {
    std::vector<std::string> lines;
    const int count = static_cast<int>(::SendMessageA(memo, EM_GETLINECOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::string line(4096, '\0');
        *reinterpret_cast<WORD*>(line.data()) = static_cast<WORD>(line.size());
        line.resize(static_cast<size_t>(
            ::SendMessageA(memo, EM_GETLINE, i, reinterpret_cast<LPARAM>(line.data()))));
        lines.push_back(line);
    }
    if (lines.size() == 1 && lines[0].empty()) lines.clear();
    return lines;
}

// How many times the colour changes along the middle row of the left half of a bar.
int ColourChanges(HWND bar) {
    RECT r;
    ::GetClientRect(bar, &r);
    const HDC dc = ::GetDC(bar);
    const int y = r.bottom / 2;
    int changes = 0;
    COLORREF last = ::GetPixel(dc, 4, y);
    for (int x = 4; x < r.right / 2; ++x) {
        const COLORREF c = ::GetPixel(dc, x, y);
        changes += c != last;
        last = c;
    }
    ::ReleaseDC(bar, dc);
    return changes;
}

// An icon's pixels by their main colour: blue for the standard edition, green for the other.
bool Greenish(HICON icon) {
    ICONINFO info{};
    if (!::GetIconInfo(icon, &info)) return false;
    BITMAP bitmap{};
    ::GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
    BITMAPINFO format{};
    format.bmiHeader = {
        sizeof(BITMAPINFOHEADER), bitmap.bmWidth, -bitmap.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint32_t> pixels(static_cast<size_t>(bitmap.bmWidth * bitmap.bmHeight));
    const HDC dc = ::GetDC(nullptr);
    ::GetDIBits(dc, info.hbmColor, 0, static_cast<UINT>(bitmap.bmHeight), pixels.data(), &format,
                DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, dc);
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    long green = 0, blue = 0;
    for (uint32_t p : pixels) {
        green += (p >> 8) & 0xFF;
        blue += p & 0xFF;
    }
    return green > blue;
}

// Message boxes of this process, closed as they appear by a watcher of their own; what each
// said is kept.
class TBoxWatcher {
public:
    TBoxWatcher()
        : FThread([this] {
              while (!FStop) {
                  if (HWND box = FindBox()) {
                      char text[512] = {}, caption[128] = {};
                      ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
                      ::GetWindowTextA(box, caption, sizeof caption);
                      {
                          std::lock_guard<std::mutex> lock(FLock);
                          FSeen.push_back(std::string(caption) + ": " + text);
                          FOwners.push_back(::GetWindow(box, GW_OWNER));
                      }
                      ::PostMessageA(box, WM_COMMAND, IDOK, 0);
                      kvtest::WaitUntil([box] { return !::IsWindow(box); });
                  }
                  ::Sleep(10);
              }
          }) {}
    ~TBoxWatcher() {
        FStop = true;
        FThread.join();
    }
    std::vector<std::string> Seen() {
        std::lock_guard<std::mutex> lock(FLock);
        return FSeen;
    }
    std::vector<HWND> Owners() {
        std::lock_guard<std::mutex> lock(FLock);
        return FOwners;
    }

private:
    static BOOL CALLBACK IsBox(HWND w, LPARAM found) {
        char name[16];
        DWORD pid = 0;
        ::GetWindowThreadProcessId(w, &pid);
        if (pid != ::GetCurrentProcessId() || !::GetClassNameA(w, name, sizeof name) ||
            std::string(name) != "#32770" || !::IsWindowVisible(w))
            return TRUE;
        *reinterpret_cast<HWND*>(found) = w;
        return FALSE;
    }
    static HWND FindBox() {
        HWND found = nullptr;
        ::EnumWindows(IsBox, reinterpret_cast<LPARAM>(&found));
        return found;
    }

    std::atomic<bool> FStop{false};
    std::mutex FLock;
    std::vector<std::string> FSeen;
    std::vector<HWND> FOwners;
    std::thread FThread;
};

struct Win32Window : ::testing::Test {
    std::unique_ptr<TPresentation> P = CreateWindowPresentation();
    TForm Form;
    HWND Window = nullptr;

    void SetUp() override {
        ASSERT_TRUE(P) << "no window could be made";
        P->Attach(Form.Window, Form.ProgressBar1, Form.ProgressBar2, Form.Memo1);
        Window = MainWindowOf(*P);
        ASSERT_NE(nullptr, Window);
    }
    HWND Child(int id) { return ::GetDlgItem(Window, id); }
    LRESULT BarPosition(int id) { return ::SendMessageA(Child(id), PBM_GETPOS, 0, 0); }
};

} // namespace

TEST(Win32WindowLayout, PlaceSizeFontAndBarsFollowTheDotsPerInch) {
    struct TRow {
        int Dpi;
        std::vector<int> Window;
        int Band, Border, FontHeight;
    };
    // At 96 dots per inch the settings' pixels; at 120 each size a quarter more, the place
    // unchanged.
    const TRow rows[] = {{96, {350, 219, 651, 440}, 25, 3, -11},
                         {120, {350, 219, 814, 550}, 31, 4, -14}};
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Dpi);
        TForm form;
        win32::TMainWindow window(row.Dpi);
        ASSERT_TRUE(window.Valid());
        window.ApplySettings(form.Window);
        window.ApplyBar(0, form.ProgressBar1);
        window.ApplyBar(1, form.ProgressBar2);
        RECT r;
        ::GetWindowRect(window.Handle(), &r);
        EXPECT_EQ(row.Window, Rect(r));
        RECT client;
        ::GetClientRect(window.Handle(), &client);
        const int band = row.Band, border = row.Border;
        EXPECT_EQ((std::vector<int>{border, border, client.right - 2 * border, band - 2 * border}),
                  Rect(ChildRect(window.Handle(), ProgressBar1Id)));
        EXPECT_EQ(
            (std::vector<int>{border, band + border, client.right - 2 * border, band - 2 * border}),
            Rect(ChildRect(window.Handle(), ProgressBar2Id)));
        EXPECT_EQ((std::vector<int>{0, 2 * band, client.right, client.bottom - 2 * band}),
                  Rect(ChildRect(window.Handle(), Memo1Id)));

        // The log's font: the settings' face, the character height scaled; and the font the
        // system picked for it is that tall.
        const HWND memo = ::GetDlgItem(window.Handle(), Memo1Id);
        const auto font = reinterpret_cast<HFONT>(::SendMessageA(memo, WM_GETFONT, 0, 0));
        ASSERT_NE(nullptr, font);
        LOGFONTA logical{};
        ::GetObjectA(font, sizeof logical, &logical);
        EXPECT_EQ(row.FontHeight, logical.lfHeight);
        EXPECT_STREQ("MS Sans Serif", logical.lfFaceName);
        const HDC dc = ::GetDC(memo);
        const HGDIOBJ old = ::SelectObject(dc, font);
        TEXTMETRICA metrics{};
        ::GetTextMetricsA(dc, &metrics);
        char face[64] = {};
        ::GetTextFaceA(dc, sizeof face, face);
        ::SelectObject(dc, old);
        ::ReleaseDC(memo, dc);
        EXPECT_STREQ("MS Sans Serif", face);
        EXPECT_NEAR(-row.FontHeight, metrics.tmHeight - metrics.tmInternalLeading, 1);
    }
}

TEST_F(Win32Window, CaptionAndSettingsBeforeTheWindowShows) {
    char caption[256];
    ::GetWindowTextA(Window, caption, sizeof caption);
    EXPECT_STREQ("Kestavorin Updater", caption);
    // Not shown before the program asks for it or the loop starts.
    EXPECT_FALSE(::IsWindowVisible(Window));
    EXPECT_EQ(WS_OVERLAPPEDWINDOW, Style(Window) & WS_OVERLAPPEDWINDOW);
    EXPECT_FALSE(Style(Window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);

    P->SetCaption("Ostri Vane Updater 4.5.0.1 Dec 08 2026 ");
    ::GetWindowTextA(Window, caption, sizeof caption);
    EXPECT_STREQ("Ostri Vane Updater 4.5.0.1 Dec 08 2026 ", caption);
    EXPECT_EQ("Ostri Vane Updater 4.5.0.1 Dec 08 2026 ", Form.Window.Caption);
    EXPECT_EQ("Ostri Vane Updater 4.5.0.1 Dec 08 2026 ", P->Caption());
}

TEST_F(Win32Window, BarsAndLogAreTheCommonControlsTheSettingsAsk) {
    for (int id : {ProgressBar1Id, ProgressBar2Id}) {
        PBRANGE range{};
        ::SendMessageA(Child(id), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
        EXPECT_EQ(0, range.iLow);
        EXPECT_EQ(100, range.iHigh);
        char name[32] = {};
        ::GetClassNameA(Child(id), name, sizeof name);
        EXPECT_STREQ(PROGRESS_CLASSA, name);
    }
    EXPECT_TRUE(Style(Child(ProgressBar1Id)) & PBS_SMOOTH);
    EXPECT_FALSE(Style(Child(ProgressBar2Id)) & PBS_SMOOTH);
    // The log: editable, both scroll bars, no wrapping.
    const LONG_PTR memo = Style(Child(Memo1Id));
    for (LONG_PTR bit : {ES_MULTILINE, WS_VSCROLL, WS_HSCROLL, ES_AUTOHSCROLL})
        EXPECT_EQ(bit, memo & bit);
    EXPECT_FALSE(memo & ES_READONLY);

    // The window follows its size: the log takes whatever the bars leave.
    ::SetWindowPos(Window, nullptr, 0, 0, 800, 600, SWP_NOMOVE | SWP_NOZORDER);
    RECT client;
    ::GetClientRect(Window, &client);
    EXPECT_EQ((std::vector<int>{3, 28, client.right - 6, 19}),
              Rect(ChildRect(Window, ProgressBar2Id)));
    EXPECT_EQ((std::vector<int>{0, 50, client.right, client.bottom - 50}),
              Rect(ChildRect(Window, Memo1Id)));
}

TEST_F(Win32Window, BarsFollowStepsSetsAndWrapPastTheMaximum) {
    for (int i = 0; i < 50; ++i) Form.ProgressBar1.StepIt();
    EXPECT_EQ(100, BarPosition(ProgressBar1Id));
    Form.ProgressBar1.StepIt(); // past the maximum: from the minimum again
    EXPECT_EQ(2, BarPosition(ProgressBar1Id));

    Form.ProgressBar2.SetPosition(Form.ProgressBar2.Max);
    EXPECT_EQ(100, BarPosition(ProgressBar2Id));
    Form.ProgressBar2.StepIt();
    EXPECT_EQ(1, BarPosition(ProgressBar2Id));
    Form.ProgressBar2.SetPosition(Form.ProgressBar2.Min);
    EXPECT_EQ(0, BarPosition(ProgressBar2Id));
    for (int i = 0; i < 37; ++i) Form.ProgressBar2.StepIt();
    EXPECT_EQ(37, BarPosition(ProgressBar2Id));

    // Drawn as asked: the smooth bar fills evenly, the other in blocks with gaps.
    P->Show();
    Form.ProgressBar1.SetPosition(100);
    Form.ProgressBar2.SetPosition(100);
    ::UpdateWindow(Window);
    P->ProcessMessages();
    EXPECT_EQ(0, ColourChanges(Child(ProgressBar1Id)));
    EXPECT_GE(ColourChanges(Child(ProgressBar2Id)), 10);
}

TEST_F(Win32Window, LogShowsEveryLineInOrderWithTheNewestInView) {
    TForm early;
    early.Memo1.Append("written before the window existed");
    P->Attach(early.Window, early.ProgressBar1, early.ProgressBar2, early.Memo1);
    early.Memo1.Append("line 1");
    EXPECT_EQ((std::vector<std::string>{"written before the window existed", "line 1"}),
              Shown(Child(Memo1Id)));

    P->Show();
    // Far more than the 32767 characters an EDIT control holds unless told otherwise.
    for (int i = 2; i <= 80; ++i)
        early.Memo1.Append("line " + std::to_string(i) + std::string(450, '.'));
    early.Memo1.Append(std::string(400, 'x') + " a line far wider than the window");
    EXPECT_EQ(early.Memo1.Lines, Shown(Child(Memo1Id)));
    // The newest line in view, from its start.
    const HWND memo = Child(Memo1Id);
    const LRESULT first = ::SendMessageA(memo, EM_GETFIRSTVISIBLELINE, 0, 0);
    RECT client;
    ::GetClientRect(memo, &client);
    const LRESULT last = ::SendMessageA(memo, EM_CHARFROMPOS, 0,
                                        MAKELPARAM(2, static_cast<WORD>(client.bottom - 2)));
    EXPECT_GT(first, 30);
    EXPECT_EQ(81, HIWORD(last));
    EXPECT_EQ(0, ::GetScrollPos(memo, SB_HORZ));
}

TEST_F(Win32Window, UserEditsReachTheLinesAndTheSavedFile) {
    kvtest::TTempDir dir;
    const std::string latin1 = "Retrieving changed file caf\xE9.dat";
    Form.Memo1.Append("first");
    Form.Memo1.Append(latin1);
    EXPECT_EQ(latin1, Shown(Child(Memo1Id))[1]);

    // The user types at the end of the first line and adds a line at the end.
    const HWND memo = Child(Memo1Id);
    ::SendMessageA(memo, EM_SETSEL, 5, 5);
    for (char c : std::string(" edited")) ::SendMessageA(memo, WM_CHAR, c, 0);
    const int end = ::GetWindowTextLengthA(memo);
    ::SendMessageA(memo, EM_SETSEL, end, end);
    for (char c : std::string("\rnote by the user")) ::SendMessageA(memo, WM_CHAR, c, 0);
    EXPECT_EQ((std::vector<std::string>{"first edited", latin1, "note by the user"}),
              Form.Memo1.Lines);

    // Lines written afterwards follow the edited text.
    Form.Memo1.Append("All done");
    EXPECT_EQ(Form.Memo1.Lines, Shown(memo));
    Form.Memo1.SaveToFile(dir.File("KVUpdater.log"));
    EXPECT_EQ("first edited\r\n" + latin1 + "\r\nnote by the user\r\nAll done\r\n",
              dir.Read("KVUpdater.log"));

    // Clearing the view leaves no lines at all.
    ::SendMessageA(memo, EM_SETSEL, 0, -1);
    ::SendMessageA(memo, WM_CLEAR, 0, 0);
    EXPECT_TRUE(Form.Memo1.Lines.empty());
}

TEST_F(Win32Window, EachEditionHasItsOwnIcon) {
    auto icon = [this](WPARAM which) {
        return reinterpret_cast<HICON>(::SendMessageA(Window, WM_GETICON, which, 0));
    };
    const HICON standard = icon(ICON_BIG);
    ASSERT_NE(nullptr, standard);
    ASSERT_NE(nullptr, icon(ICON_SMALL));
    EXPECT_FALSE(Greenish(standard));
    P->SetIcon("ostrivane");
    ASSERT_NE(standard, icon(ICON_BIG));
    EXPECT_TRUE(Greenish(icon(ICON_BIG)));
    EXPECT_TRUE(Greenish(icon(ICON_SMALL)));
    const HICON rebranded = icon(ICON_BIG);
    P->SetIcon("no such icon"); // keeps the current one
    EXPECT_EQ(rebranded, icon(ICON_BIG));
}

TEST_F(Win32Window, ModelsOutliveTheWindowSafely) {
    P.reset();
    EXPECT_FALSE(::IsWindow(Window));
    Form.ProgressBar1.StepIt();
    Form.Memo1.Append("after the window");
    EXPECT_EQ(1u, Form.Memo1.Lines.size());
}

TEST_F(Win32Window, ErrorsOfHandlersShowInABoxAndTheLoopGoesOn) {
    TBoxWatcher boxes;
    P->Show();
    bool later = false;
    P->StartTimer(10, false, [] { throw EInOutError("The disk is gone", 21); });
    P->StartTimer(40, false, [&] {
        later = true;
        P->Quit();
    });
    P->Run();
    EXPECT_TRUE(later);
    EXPECT_EQ(std::vector<std::string>{"KVUpdater: The disk is gone"}, boxes.Seen());
    EXPECT_EQ(std::vector<HWND>{Window}, boxes.Owners()); // on top of the window
}

TEST_F(Win32Window, ClosingRunsTheCloseHandlerThenEndsTheLoop) {
    int closes = 0;
    P->OnClose = [&] { ++closes; };
    std::atomic<bool> fired{false};
    // The one timer fires and is gone: the loop goes on for the open window alone, until the
    // user closes it from the window's system menu.
    P->StartTimer(10, false, [&] { fired = true; });
    std::thread user([&] {
        kvtest::WaitUntil([&] { return fired.load() && ::IsWindowVisible(Window); });
        ::PostMessageA(Window, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    P->Run();
    user.join();
    EXPECT_EQ(1, closes);
    EXPECT_TRUE(P->Terminated());
    EXPECT_FALSE(::IsWindowVisible(Window));
}

TEST_F(Win32Window, SilentNeverShowsTheWindowNorABox) {
    TBoxWatcher boxes;
    P->SetSilent();
    EXPECT_TRUE(P->Silent());
    EXPECT_TRUE(Style(Window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW); // no taskbar entry
    bool shown = true;
    P->StartTimer(10, false, [&] {
        P->Show();
        P->ShowMessage("Note", "not for a silent run", TMessageKind::Information);
        P->ShowError("nor this");
        shown = ::IsWindowVisible(Window);
        P->Quit();
    });
    P->Run();
    EXPECT_FALSE(shown);
    EXPECT_FALSE(::IsWindowVisible(Window));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(Win32Window, ARunThatQuitsBeforeTheLoopNeverShowsTheWindow) {
    P->Quit(); // the self-update copy
    P->Run();
    EXPECT_FALSE(::IsWindowVisible(Window));
}
