// A whole run of the program with its window on a private Xvfb display, against a local
// nginx site whose one large file takes a few seconds to arrive: the window carries its
// caption while the run goes on, the bars and the log change, a screenshot of the finished
// window is saved into the build folder, and the window stays until it is closed unless
// "/autoexit" ends the program; a silent run maps no window at all. The Windows build's
// tests run the same scenarios with its program under Wine (tests/support/e2e.h), on the X
// display of the Wine desktop, and one at 120 dots per inch.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/e2e.h"
#include "tests/support/xvfb.h"

extern char** environ;

namespace {

// Polls less often than the process tests do: each round may grab the window.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    return kvtest::WaitUntil(done, timeoutMs, 50);
}

// Xvfb on a display number of its own choosing, stopped at destruction, and what the tests
// ask of the X server about the program's windows.
class TDisplay {
public:
    TDisplay() {
        if (!e2e::UnderWine()) {
            FXvfb = std::make_unique<kvtest::TXvfb>("1024x768x24");
            FName = FXvfb->Display();
            return;
        }
        // The Wine desktop's own display, where every program of its prefix goes.
        FName = kvtest::ReadFile(e2e::WineSetting("display"));
        while (!FName.empty() && std::isspace(static_cast<unsigned char>(FName.back())))
            FName.pop_back();
    }
    ~TDisplay() {
        if (FConnection) xcb_disconnect(FConnection);
    }
    const std::string& Name() const { return FName; }

    xcb_connection_t* Connection() {
        if (!FConnection && !Name().empty()) {
            FConnection = xcb_connect(Name().c_str(), nullptr);
            if (xcb_connection_has_error(FConnection)) {
                xcb_disconnect(FConnection);
                FConnection = nullptr;
            }
        }
        return FConnection;
    }

    xcb_atom_t Atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            Connection(), xcb_intern_atom(Connection(), 0, strlen(name), name), nullptr);
        xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return atom;
    }

    std::string Title(xcb_window_t window) {
        xcb_atom_t utf8 = Atom("UTF8_STRING");
        for (auto [property, type] :
             {std::pair{Atom("_NET_WM_NAME"), utf8},
              std::pair{xcb_atom_t(XCB_ATOM_WM_NAME), xcb_atom_t(XCB_ATOM_STRING)}}) {
            auto* reply = xcb_get_property_reply(
                Connection(), xcb_get_property(Connection(), 0, window, property, type, 0, 1024),
                nullptr);
            std::string title;
            if (reply)
                title.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                             xcb_get_property_value_length(reply));
            free(reply);
            if (!title.empty()) return title;
        }
        return "";
    }

    // The viewable top-level window whose title starts with prefix, or 0.
    xcb_window_t FindWindow(const std::string& prefix) {
        if (!Connection()) return 0;
        xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(Connection())).data->root;
        auto* tree =
            xcb_query_tree_reply(Connection(), xcb_query_tree(Connection(), root), nullptr);
        if (!tree) return 0;
        xcb_window_t found = 0;
        xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
            auto* attributes = xcb_get_window_attributes_reply(
                Connection(), xcb_get_window_attributes(Connection(), children[i]), nullptr);
            bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            free(attributes);
            if (viewable && Title(children[i]).rfind(prefix, 0) == 0) found = children[i];
        }
        free(tree);
        return found;
    }

    // The first image of the window's _NET_WM_ICON (width, height, then ARGB pixels).
    QImage Icon(xcb_window_t window) {
        auto* reply =
            xcb_get_property_reply(Connection(),
                                   xcb_get_property(Connection(), 0, window, Atom("_NET_WM_ICON"),
                                                    XCB_ATOM_CARDINAL, 0, 1 << 20),
                                   nullptr);
        QImage icon;
        if (reply && reply->format == 32) {
            auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
            size_t count = size_t(xcb_get_property_value_length(reply));
            if (count >= 2 && data[0] > 0 && data[1] > 0 &&
                count >= 2 + size_t(data[0]) * data[1]) {
                icon = QImage(int(data[0]), int(data[1]), QImage::Format_ARGB32);
                for (uint32_t y = 0; y < data[1]; ++y)
                    for (uint32_t x = 0; x < data[0]; ++x)
                        icon.setPixel(int(x), int(y), data[2 + y * data[0] + x]);
            }
        }
        free(reply);
        return icon;
    }

    // The window's pixels as the X server holds them.
    QImage Grab(xcb_window_t window) {
        auto* geometry =
            xcb_get_geometry_reply(Connection(), xcb_get_geometry(Connection(), window), nullptr);
        if (!geometry) return QImage();
        int width = geometry->width, height = geometry->height;
        free(geometry);
        auto* image = xcb_get_image_reply(Connection(),
                                          xcb_get_image(Connection(), XCB_IMAGE_FORMAT_Z_PIXMAP,
                                                        window, 0, 0, width, height, ~0u),
                                          nullptr);
        if (!image) return QImage();
        QImage result;
        if (xcb_get_image_data_length(image) >= width * height * 4)
            result =
                QImage(xcb_get_image_data(image), width, height, width * 4, QImage::Format_RGB32)
                    .copy();
        free(image);
        return result;
    }

    // As the window manager's close button does: WM_DELETE_WINDOW.
    void Close(xcb_window_t window) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = Atom("WM_PROTOCOLS");
        event.data.data32[0] = Atom("WM_DELETE_WINDOW");
        event.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(Connection(), 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&event));
        xcb_flush(Connection());
    }

    // The viewable top-level windows.
    std::set<xcb_window_t> Viewable() {
        std::set<xcb_window_t> found;
        if (!Connection()) return found;
        xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(Connection())).data->root;
        auto* tree =
            xcb_query_tree_reply(Connection(), xcb_query_tree(Connection(), root), nullptr);
        if (!tree) return found;
        xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            auto* attributes = xcb_get_window_attributes_reply(
                Connection(), xcb_get_window_attributes(Connection(), children[i]), nullptr);
            if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
                found.insert(children[i]);
            free(attributes);
        }
        free(tree);
        return found;
    }

private:
    std::unique_ptr<kvtest::TXvfb> FXvfb; // none under Wine
    std::string FName;
    xcb_connection_t* FConnection = nullptr;
};

// The updater started in the background with the display; its exit status kept.
class TProgram {
public:
    TProgram(const std::string& exe, const std::vector<std::string>& args,
             const std::string& display, const std::string& output) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            std::string v = *e;
            if (v.rfind("DISPLAY=", 0) != 0 && v.rfind("QT_QPA_PLATFORM=", 0) != 0 &&
                v.rfind("WAYLAND_DISPLAY=", 0) != 0)
                env.push_back(v);
        }
        env.push_back("DISPLAY=" + display);
        std::vector<char*> envp, argv;
        for (auto& v : env) envp.push_back(v.data());
        envp.push_back(nullptr);
        // A Windows program through the Wine launcher.
        FCommand = e2e::Command(exe, args);
        for (auto& a : FCommand) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            FPid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~TProgram() {
        if (Running()) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
    }
    bool Running() {
        if (FPid <= 0 || FStatus != -1) return false;
        int status = 0;
        if (waitpid(FPid, &status, WNOHANG) != FPid) return true;
        FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    int Status() const { return FStatus; }

private:
    std::vector<std::string> FCommand;
    pid_t FPid = -1;
    int FStatus = -1;
};

// The edition's icon by its main colour: blue for the standard, green for the rebranded.
bool Greenish(const QImage& icon) {
    long green = 0, blue = 0;
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x) {
            QRgb c = icon.pixel(x, y);
            if (qAlpha(c) < 128) continue;
            green += qGreen(c);
            blue += qBlue(c);
        }
    return green > blue;
}

int Colours(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
    return static_cast<int>(colours.size());
}

// A product folder and a site whose one large file arrives slowly.
struct TSlowSite {
    e2e::TProduct P;
    std::string Large = kvtest::RandomBytes(9 * 1024 * 1024, 11);
    // The edition code names the site's folder; none is the standard edition's.
    explicit TSlowSite(const std::string& edition = "")
        : P(edition.empty() ? "" : edition + "\r\n") {
        kvtest::WriteFile(P.Root() + "src/large.dat", Large);
        kvtest::WriteFile(P.Root() + "src/readme.txt", "new readme\r\n");
        e2e::Publish(P.Root() + "src", P.Site() + (edition.empty() ? "components" : edition));
    }
};

struct TWatch {
    bool CaptionDuringRun = false;
    std::vector<QImage> Bars, Logs; // distinct looks seen while the run went on
    QImage MidRun;                  // the window as the large file arrives, both bars part-way
};

// The rows of a window's image that hold the two bars: under Wine the image has the frame
// that Wine draws itself, caption and border, above the client area.
int BarsTop() {
    return e2e::UnderWine() ? 23 : 0;
}
constexpr int BarsHeight = 50;

// How long the program may take to show its window or end: a Windows program under an
// emulated processor is slow to start.
constexpr int Generous = 120000;

// Whether a bar of the window's image is filled part of the way, at least to the given share
// of its width: its fill starts at the left, so its two ends differ only then. (A bar in
// blocks has gaps: a few pixels are looked at.)
bool PartWay(const QImage& shot, int bar, double share = 0) {
    const int y = BarsTop() + bar * BarsHeight / 2 + BarsHeight / 4;
    if (shot.height() <= y) return false;
    const QRgb fill = shot.pixel(12, y);
    if (fill == shot.pixel(shot.width() - 13, y)) return false;
    const int x = std::max(12, static_cast<int>(shot.width() * share));
    for (int dx = 0; dx < 4; ++dx)
        if (shot.pixel(x + dx, y) == fill) return true;
    return false;
}

void Remember(std::vector<QImage>& seen, const QImage& image) {
    for (const auto& s : seen)
        if (s == image) return;
    seen.push_back(image);
}

// Watches the window until the log file exists: its caption while the run goes on, and the
// distinct looks of the bars and of the log.
xcb_window_t WatchRun(TDisplay& display, TProgram& program, TSlowSite& site, TWatch& watch) {
    xcb_window_t window = 0;
    EXPECT_TRUE(WaitUntil(
        [&] {
            return (window = display.FindWindow("Kestavorin Updater ")) != 0 || !program.Running();
        },
        Generous));
    if (!window) return 0;
    WaitUntil(
        [&] {
            if (site.P.Exists("logs/KVUpdater.log") || !program.Running()) return true;
            std::string title = display.Title(window);
            watch.CaptionDuringRun =
                watch.CaptionDuringRun || title.rfind("Kestavorin Updater 4.5.0.1 ", 0) == 0;
            QImage shot = display.Grab(window);
            const int logTop = BarsTop() + BarsHeight;
            if (shot.height() > logTop + 10) {
                Remember(watch.Bars, shot.copy(0, BarsTop(), shot.width(), BarsHeight));
                Remember(watch.Logs, shot.copy(0, logTop, shot.width(), shot.height() - logTop));
                if (watch.MidRun.isNull() && PartWay(shot, 0) && PartWay(shot, 1, 0.3))
                    watch.MidRun = shot;
            }
            return false;
        },
        Generous);
    return window;
}

} // namespace

TEST(WindowWholeRun, WindowShowsTheRunAndStaysUntilClosed) {
    TDisplay display;
    ASSERT_FALSE(display.Name().empty()) << "Xvfb did not start";
    TSlowSite site;
    kvtest::TNginx nginx(site.P.Site(), "limit_rate 2m;");
    site.P.WriteIni("[General]\r\nUpdateFromUrl=" + nginx.Url("/") + "\r\n");

    TProgram program(site.P.File("KVUpdater.exe"), {}, display.Name(), site.P.Root() + "out.txt");
    TWatch watch;
    xcb_window_t window = WatchRun(display, program, site, watch);
    ASSERT_NE(0u, window) << "the program opened no window; output: "
                          << kvtest::ReadFile(site.P.Root() + "out.txt");
    EXPECT_TRUE(watch.CaptionDuringRun);
    QImage icon = display.Icon(window);
    ASSERT_FALSE(icon.isNull()) << "the window carries no icon";
    EXPECT_FALSE(Greenish(icon));
    // The bars moved and the log grew while the download went on.
    EXPECT_GE(watch.Bars.size(), 3u);
    EXPECT_GE(watch.Logs.size(), 2u);

    // The run is over and logged, and the window stays open on the log.
    ASSERT_TRUE(WaitUntil(
        [&] { return !site.P.LogMessages().empty() && site.P.LogMessages().back() == "All done"; },
        Generous));
    EXPECT_TRUE(site.P.Read("large.dat") == site.Large);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(program.Running());
    EXPECT_EQ(window, display.FindWindow("Kestavorin Updater "));

    QImage shot = display.Grab(window);
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(651, shot.width());
    EXPECT_EQ(440, shot.height());
    // The screenshot shows the run under way.
    ASSERT_FALSE(watch.MidRun.isNull());
    EXPECT_EQ(shot.size(), watch.MidRun.size());
    const std::string png = e2e::UnderWine() ? e2e::WineSetting("shots") + "/win32_whole_run.png"
                                             : std::string(KV_QT_SHOT_DIR) + "/qt_whole_run.png";
    EXPECT_TRUE(watch.MidRun.save(QString::fromStdString(png), "PNG"));
    QImage saved(QString::fromStdString(png));
    ASSERT_FALSE(saved.isNull());
    // Not blank: text, bars and scroll bars give many colours.
    EXPECT_GT(Colours(saved), 20);

    display.Close(window);
    ASSERT_TRUE(WaitUntil([&] { return !program.Running(); }, Generous));
    EXPECT_EQ(0, program.Status());
}

TEST(WindowWholeRun, AutoExitEndsTheProgramByItself) {
    TDisplay display;
    ASSERT_FALSE(display.Name().empty()) << "Xvfb did not start";
    TSlowSite site;
    kvtest::TNginx nginx(site.P.Site(), "limit_rate 4m;");
    site.P.WriteIni("[General]\r\nUpdateFromUrl=" + nginx.Url("/") + "\r\n");

    TProgram program(site.P.File("KVUpdater.exe"), {"/autoexit"}, display.Name(),
                     site.P.Root() + "out.txt");
    TWatch watch;
    xcb_window_t window = WatchRun(display, program, site, watch);
    ASSERT_NE(0u, window) << "the program opened no window";
    ASSERT_TRUE(WaitUntil([&] { return !program.Running(); }, Generous));
    EXPECT_EQ(0, program.Status());
    EXPECT_EQ("All done", site.P.LogMessages().back());
    EXPECT_EQ(0u, display.FindWindow("Kestavorin Updater "));
}

TEST(WindowWholeRun, ClosedDuringTheDownloadTheRunStillEndsThenTheProgram) {
    TDisplay display;
    ASSERT_FALSE(display.Name().empty()) << "Xvfb did not start";
    TSlowSite site("Tolvu"); // the rebranded edition: its own caption
    kvtest::TNginx nginx(site.P.Site(), "limit_rate 1m;");
    site.P.WriteIni("[General]\r\nUpdateFromUrl=" + nginx.Url("/") + "\r\n");

    TProgram program(site.P.File("KVUpdater.exe"), {}, display.Name(), site.P.Root() + "out.txt");
    xcb_window_t window = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            return (window = display.FindWindow("Ostri Vane Updater 4.5.0.1 ")) != 0 ||
                   !program.Running();
        },
        Generous));
    ASSERT_NE(0u, window) << "the program opened no window";
    // The rebranded edition's own icon, from the image list.
    ASSERT_TRUE(WaitUntil([&] { return !display.Icon(window).isNull(); }, 10000));
    EXPECT_TRUE(Greenish(display.Icon(window)));
    // Closed while the large file is on its way: the site sends it in bursts, one a second
    // for nine seconds, and each moves the bars; the manifest before it moves them once.
    std::vector<QImage> bars;
    WaitUntil(
        [&] {
            QImage shot = display.Grab(window);
            if (shot.height() > BarsTop() + BarsHeight)
                Remember(bars, shot.copy(0, BarsTop(), shot.width(), BarsHeight));
            return bars.size() >= 4 || !program.Running();
        },
        Generous);
    ASSERT_TRUE(program.Running());
    ASSERT_FALSE(site.P.Exists("large.dat"));
    display.Close(window);
    EXPECT_TRUE(WaitUntil([&] { return display.FindWindow("Ostri Vane Updater ") == 0; }, 10000));

    ASSERT_TRUE(WaitUntil([&] { return !program.Running(); }, Generous));
    EXPECT_EQ(0, program.Status());
    // The run went on to its end after the window had gone.
    EXPECT_TRUE(site.P.Read("large.dat") == site.Large);
    ASSERT_FALSE(site.P.LogMessages().empty());
    EXPECT_EQ("All done", site.P.LogMessages().back());
}

// The screen's dots per inch of the Wine desktop, for the programs started while this lives.
class TDotsPerInch {
public:
    explicit TDotsPerInch(int dpi) {
        Reg("add 'HKCU\\Control Panel\\Desktop' /v LogPixels /t REG_DWORD /d " +
            std::to_string(dpi) + " /f");
    }
    ~TDotsPerInch() { Reg("delete 'HKCU\\Control Panel\\Desktop' /v LogPixels /f"); }

private:
    static void Reg(const std::string& args) {
        kvtest::RunCommand(e2e::WineSetting("launcher") + " reg " + args + " >/dev/null 2>&1");
    }
};

// A setting of the Windows system's: the Windows build's tests alone run this suite.
TEST(WindowWholeRunAtDpi, AtAHundredAndTwentyDotsPerInchTheWindowGrowsByAQuarter) {
    ASSERT_TRUE(e2e::UnderWine());
    TDisplay display;
    ASSERT_FALSE(display.Name().empty());
    TDotsPerInch dpi(120);
    TSlowSite site;
    kvtest::TNginx nginx(site.P.Site(), "limit_rate 8m;");
    site.P.WriteIni("[General]\r\nUpdateFromUrl=" + nginx.Url("/") + "\r\n");
    TProgram program(site.P.File("KVUpdater.exe"), {}, display.Name(), site.P.Root() + "out.txt");
    xcb_window_t window = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            return (window = display.FindWindow("Kestavorin Updater ")) != 0 || !program.Running();
        },
        Generous));
    ASSERT_TRUE(WaitUntil(
        [&] { return !site.P.LogMessages().empty() && site.P.LogMessages().back() == "All done"; },
        Generous));
    QImage shot = display.Grab(window);
    EXPECT_EQ(814, shot.width());
    EXPECT_EQ(550, shot.height());
    EXPECT_TRUE(
        shot.save(QString::fromStdString(e2e::WineSetting("shots") + "/win32_120dpi.png"), "PNG"));
    display.Close(window);
    ASSERT_TRUE(WaitUntil([&] { return !program.Running(); }, Generous));
    EXPECT_EQ(0, program.Status());
}

TEST(WindowWholeRun, ASilentRunMapsNoWindowAndEndsByItself) {
    TDisplay display;
    ASSERT_FALSE(display.Name().empty()) << "Xvfb did not start";
    // Silent from the command line (no window is made), or from KVUpdater.ini (the window is
    // made before the file is read, and never shown).
    for (bool fromIni : {false, true}) {
        SCOPED_TRACE(fromIni ? "Silent=1" : "/silent");
        TSlowSite site;
        kvtest::TNginx nginx(site.P.Site(), "limit_rate 8m;");
        site.P.WriteIni("[General]\r\nUpdateFromUrl=" + nginx.Url("/") + "\r\n" +
                        (fromIni ? "Silent=1\r\n" : ""));
        const std::set<xcb_window_t> before = display.Viewable();
        TProgram program(site.P.File("KVUpdater.exe"),
                         fromIni ? std::vector<std::string>{} : std::vector<std::string>{"/silent"},
                         display.Name(), site.P.Root() + "out.txt");
        std::set<xcb_window_t> mapped;
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (xcb_window_t w : display.Viewable())
                    if (!before.count(w)) mapped.insert(w);
                return !program.Running();
            },
            Generous));
        EXPECT_TRUE(mapped.empty()) << "a window was mapped: " << display.Title(*mapped.begin());
        EXPECT_EQ(0, program.Status());
        ASSERT_FALSE(site.P.LogMessages().empty());
        EXPECT_EQ("All done", site.P.LogMessages().back());
        EXPECT_TRUE(site.P.Read("large.dat") == site.Large);
    }
}
