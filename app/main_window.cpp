// TForm1's components and the settings of a run; the log line; the progress handlers.
#include "app/main_window.h"

#include <cstdio>

#include "app/brand_rules.h"
#include "kv_config.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "process/stop_restart.h"

std::string SystemErrorText() {
    return plat::SystemErrorText(plat::GetLastError());
}

void SayNothing(const std::string&) {}

std::string CaptionDate() {
    plat::TSystemTime now = plat::LocalNow();
    char day[8];
    std::snprintf(day, sizeof day, "%02d", now.Day);
    return " " + plat::ShortMonthName(now.Month) + " " + day + " " + std::to_string(now.Year) + " ";
}

std::string SwitchHelp() {
    return "Usage: KVUpdater.exe [switches]\n"
           "Brings the product's files up to date from its update site.\n"
           "\n"
           "  /autoexit               end the program when the run is over\n"
           "  /silent                 show no window and end when the run is over\n"
           "  /UpdateFromUrl [url]    update from the download site (the default)\n"
           "  /UpdateFromUncPath dir  update from a folder holding versions.txt and cabinets\n"
           "  /CloneToPath [dir]      copy the download site into dir (default: the\n"
           "                          updater's folder); install nothing\n"
           "  /HTTPProxy host[:port]  use an HTTP proxy\n"
           "  /HTTPProxyPort port     the proxy's port\n"
           "  /HTTPUserID name        the proxy user name (sends proxy credentials)\n"
           "  /HTTPPasswd password    the proxy password\n"
           "  /? or --help            show this text\n"
           "\n"
           "Settings are also read from KVUpdater.ini in the product folder.\n"
           "Exit status: 0 all done, 1 there were errors, 2 start-up failed.\n";
}

TForm1::TForm1() {
    Window.Caption = "Kestavorin Updater";
    ProgressBar1.Smooth = true;
    ProgressBar1.Step = 2;
    ProgressBar2.Smooth = false;
    ProgressBar2.Step = 1;

    msHTTPClient1.SetTimeOut(120);
    msHTTPClient1.Authorization = false;
    msHTTPClient1.ProxyAuthorization = false;
    msHTTPClient1.SetProxyPort(0);
    msHTTPClient1.OnConnecting = [this](TmsSocketBase* s) { msHTTPClient1Connecting(s); };
    msHTTPClient1.OnTransferProgress = [this](TmsSocketBase* s, int32_t p, int32_t b, int32_t l) {
        msHTTPClient1TransferProgress(s, p, b, l);
    };
    msHTTPClient1.OnDisconnected = [this](TmsSocketBase* s) { msHTTPClient1Disconnected(s); };

    CABFile1.CompressionType = typMSZIP;
    CABFile1.LZXMemory = lzxLowest;

    Timer1.SetEnabled(false);
    Timer1.SetInterval(2000);
    Timer1.SetOnTimer([this](plat::TTimer*) { Timer1Timer(); });

    ImageList1 = {"ostrivane"};

    plat::TPresentation& p = plat::Presentation();
    p.Attach(Window, ProgressBar1, ProgressBar2, Memo1);
    p.SetCaption(Window.Caption);
    p.OnClose = [this] { FormClose(); };
}

TForm1::~TForm1() {
    Timer1.SetEnabled(false);
    plat::Presentation().OnClose = nullptr;
}

void TForm1::Say(const std::string& text) {
    std::string line = plat::FormatLogTime(plat::LocalNow()) + " " + text;
    if (FLogShown)
        Memo1.Append(line);
    else
        Memo1.Lines.push_back(std::move(line));
}

void TForm1::ShowLog() {
    if (FLogShown) return;
    FLogShown = true;
    if (Memo1.OnAppend)
        for (const auto& line : Memo1.Lines) Memo1.OnAppend(line);
}

void TForm1::SaveLog(const std::string& fileName) {
    Memo1.SaveToFile(fileName);
}

void TForm1::FormClose() {
    plat::SetCurrentDir(Settings.StartDir);
}

void TForm1::msHTTPClient1Connecting(TmsSocketBase*) {
    ProgressBar2.SetPosition(ProgressBar2.Min);
}

void TForm1::msHTTPClient1TransferProgress(TmsSocketBase*, int32_t, int32_t, int32_t) {
    ProgressBar2.StepIt();
}

void TForm1::msHTTPClient1Disconnected(TmsSocketBase*) {
    ProgressBar2.SetPosition(ProgressBar2.Max);
}

void TForm1::GetActiveList() {
    StopProductPrograms(
        Settings.ProductDir, Settings.Rebranded,
        [this](const std::string& text) { return BrandText(text, Settings.Rebranded); },
        RestartList, [this](const std::string& text) { Say(text); });
}

void TForm1::RestartStuff() {
    RestartProductPrograms(
        Settings.ProductDir, RestartList, [this](const std::string& text) { Say(text); },
        SayNothing);
}
