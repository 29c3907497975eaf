// The main window on Qt: its widgets as the settings make them, the bars, the log view and
// the icons.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/qt/qt_presentation.h"
#include "platform/qt/qt_window.h"
#include "tests/support/support.h"

using namespace plat;

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

struct TQtFixture : ::testing::Test {
    int Argc = 1;
    char Name[16] = "qt_tests";
    char* Argv[2] = {Name, nullptr};
    std::unique_ptr<TPresentation> P = CreateQtPresentation(Argc, Argv);
    TForm Form;
    QWidget* Window = nullptr;

    void SetUp() override {
        P->Attach(Form.Window, Form.ProgressBar1, Form.ProgressBar2, Form.Memo1);
        Window = QtMainWindow(*P);
        ASSERT_NE(nullptr, Window);
    }
    QProgressBar* Bar(const char* name) { return Window->findChild<QProgressBar*>(name); }
    QPlainTextEdit* Log() { return Window->findChild<QPlainTextEdit*>("Memo1"); }
    std::vector<std::string> Shown() {
        std::vector<std::string> lines;
        for (QTextBlock b = Log()->document()->begin(); b.isValid(); b = b.next())
            lines.push_back(b.text().toStdString());
        return lines;
    }
};

// How many times the colour changes along the middle row of the filled part of a bar.
int ColourChanges(QProgressBar* bar) {
    QImage image = bar->grab().toImage();
    int y = image.height() / 2, changes = 0;
    QRgb last = image.pixel(6, y);
    for (int x = 6; x < image.width() / 2 - 6; ++x) {
        QRgb c = image.pixel(x, y);
        if (c != last) ++changes;
        last = c;
    }
    return changes;
}

} // namespace

TEST_F(TQtFixture, WindowTakesCaptionPositionSizeAndFontFromSettings) {
    EXPECT_EQ("Kestavorin Updater", Window->windowTitle().toStdString());
    EXPECT_EQ(QPoint(350, 219), Window->pos());
    EXPECT_EQ(QSize(651, 440), Window->size());
    EXPECT_EQ(11, Window->font().pixelSize());
    // Not shown before the program asks for it or the loop starts.
    EXPECT_FALSE(Window->isVisible());

    P->SetCaption("Ostri Vane Updater 4.5.0.1 Dec 08 2026 ");
    EXPECT_EQ("Ostri Vane Updater 4.5.0.1 Dec 08 2026 ", Window->windowTitle().toStdString());
    EXPECT_EQ("Ostri Vane Updater 4.5.0.1 Dec 08 2026 ", Form.Window.Caption);
    EXPECT_EQ("Ostri Vane Updater 4.5.0.1 Dec 08 2026 ", P->Caption());
}

TEST_F(TQtFixture, BarsSitAtTheTopAndTheLogFillsTheRest) {
    P->Show();
    QApplication::processEvents();
    QProgressBar* b1 = Bar("ProgressBar1");
    QProgressBar* b2 = Bar("ProgressBar2");
    QPlainTextEdit* log = Log();
    ASSERT_TRUE(b1 && b2 && log);
    EXPECT_EQ(QRect(0, 0, 651, 25), b1->geometry());
    EXPECT_EQ(QRect(0, 25, 651, 25), b2->geometry());
    EXPECT_EQ(QRect(0, 50, 651, 440 - 50), log->geometry());
    for (QProgressBar* b : {b1, b2}) {
        EXPECT_EQ(0, b->minimum());
        EXPECT_EQ(100, b->maximum());
        EXPECT_FALSE(b->isTextVisible());
    }
    EXPECT_FALSE(log->isReadOnly());
    EXPECT_EQ(QPlainTextEdit::NoWrap, log->lineWrapMode());
    EXPECT_TRUE(log->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(log->verticalScrollBar()->isVisible());

    // The window follows its size: the log takes whatever the bars leave.
    Window->resize(800, 600);
    QApplication::processEvents();
    EXPECT_EQ(QRect(0, 25, 800, 25), b2->geometry());
    EXPECT_EQ(QRect(0, 50, 800, 550), log->geometry());
}

TEST_F(TQtFixture, BarsFollowStepsSetsAndWrapPastTheMaximum) {
    QProgressBar* b1 = Bar("ProgressBar1");
    QProgressBar* b2 = Bar("ProgressBar2");
    for (int i = 0; i < 50; ++i) Form.ProgressBar1.StepIt();
    EXPECT_EQ(100, b1->value());
    Form.ProgressBar1.StepIt(); // past the maximum: from the minimum again
    EXPECT_EQ(2, b1->value());
    EXPECT_EQ(Form.ProgressBar1.Position, b1->value());

    Form.ProgressBar2.SetPosition(Form.ProgressBar2.Max);
    EXPECT_EQ(100, b2->value());
    Form.ProgressBar2.StepIt();
    EXPECT_EQ(1, b2->value());
    Form.ProgressBar2.SetPosition(Form.ProgressBar2.Min);
    EXPECT_EQ(0, b2->value());
    for (int i = 0; i < 37; ++i) Form.ProgressBar2.StepIt();
    EXPECT_EQ(37, b2->value());
}

TEST_F(TQtFixture, SmoothBarFillsEvenlyAndSegmentedBarInBlocks) {
    P->Show();
    QApplication::processEvents();
    QProgressBar* b1 = Bar("ProgressBar1");
    QProgressBar* b2 = Bar("ProgressBar2");
    EXPECT_EQ(25, b1->height());
    EXPECT_EQ(25, b2->height());
    Form.ProgressBar1.SetPosition(100);
    Form.ProgressBar2.SetPosition(100);
    QApplication::processEvents();
    EXPECT_EQ(0, ColourChanges(b1));
    // Blocks of about ten pixels with gaps between them.
    EXPECT_GE(ColourChanges(b2), 2 * ((b2->width() / 2 - 12) / 12));

    // The border keeps its width round the fill.
    QImage image = b1->grab().toImage();
    QRgb fill = image.pixel(image.width() / 2, image.height() / 2);
    EXPECT_NE(fill, image.pixel(image.width() / 2, 1));
    EXPECT_EQ(fill, image.pixel(image.width() / 2, 3));
}

TEST_F(TQtFixture, LogShowsEveryLineInOrderWithTheNewestInView) {
    TForm early;
    early.Memo1.Append("written before the window existed");
    P->Attach(early.Window, early.ProgressBar1, early.ProgressBar2, early.Memo1);
    early.Memo1.Append("line 1");
    EXPECT_EQ((std::vector<std::string>{"written before the window existed", "line 1"}), Shown());

    P->Show();
    for (int i = 2; i <= 300; ++i) early.Memo1.Append("line " + std::to_string(i));
    QApplication::processEvents();
    EXPECT_EQ(early.Memo1.Lines, Shown());
    QScrollBar* bar = Log()->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->maximum(), bar->value());
}

TEST_F(TQtFixture, UserEditsReachTheLinesAndTheSavedFileBytesOfOtherLinesKept) {
    kvtest::TTempDir dir;
    const std::string latin1 = "Retrieving changed file caf\xE9.dat"; // not UTF-8
    const std::string utf8 = "Ok - gr\xC3\xBC\xC3\x9F.exe";
    Form.Memo1.Append("first");
    Form.Memo1.Append(latin1);
    Form.Memo1.Append(utf8);
    EXPECT_EQ("Retrieving changed file caf\u00e9.dat", Shown()[1]);
    EXPECT_EQ("Ok - gr\u00fc\u00df.exe", Shown()[2]);

    // The user types into the first line and adds a line at the end.
    QTextCursor cursor(Log()->document());
    cursor.movePosition(QTextCursor::EndOfBlock);
    cursor.insertText(" edited");
    cursor.movePosition(QTextCursor::End);
    cursor.insertText("\nnote by the user");
    EXPECT_EQ((std::vector<std::string>{"first edited", latin1, utf8, "note by the user"}),
              Form.Memo1.Lines);

    // Lines written afterwards follow the edited text.
    Form.Memo1.Append("All done");
    EXPECT_EQ(5u, Form.Memo1.Lines.size());
    EXPECT_EQ(Form.Memo1.Lines.size(), Shown().size());
    Form.Memo1.SaveToFile(dir.File("KVUpdater.log"));
    EXPECT_EQ("first edited\r\n" + latin1 + "\r\n" + utf8 + "\r\nnote by the user\r\nAll done\r\n",
              dir.Read("KVUpdater.log"));

    // Clearing the view leaves no lines at all.
    Log()->selectAll();
    Log()->textCursor().removeSelectedText();
    EXPECT_TRUE(Form.Memo1.Lines.empty());
}

TEST(QtText, UnusualBytesSurviveTheRoundTrip) {
    // Cut-off and overlong sequences are not UTF-8 and show byte for byte.
    for (std::string s : {std::string("\xC3"), std::string("a\xE2\x82"), std::string("\xC0\xAF"),
                          std::string("\xED\xA0\x80")}) {
        QString shown = qt::ToQString(s);
        EXPECT_EQ(static_cast<qsizetype>(s.size()), shown.size()) << s;
        EXPECT_EQ(s, std::string(shown.toLatin1().constData(), s.size()));
    }
    EXPECT_EQ(1, qt::ToQString("\xF0\x9F\x98\x80").size() / 2);
    EXPECT_EQ("\xF0\x9F\x98\x80", qt::FromQString(qt::ToQString("\xF0\x9F\x98\x80")));
}

TEST_F(TQtFixture, EachEditionHasItsOwnIcon) {
    QIcon standard = qt::AppIcon("kestavorin");
    QIcon rebranded = qt::AppIcon("ostrivane");
    ASSERT_FALSE(standard.isNull());
    ASSERT_FALSE(rebranded.isNull());
    EXPECT_TRUE(qt::AppIcon("unknown").isNull());

    QImage a = standard.pixmap(32, 32).toImage();
    QImage b = rebranded.pixmap(32, 32).toImage();
    EXPECT_NE(a, b);
    // Drawn, not empty: many colours, an opaque middle.
    std::set<QRgb> colours;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) colours.insert(a.pixel(x, y));
    EXPECT_GT(colours.size(), 10u);
    EXPECT_EQ(255, qAlpha(a.pixel(16, 8)));

    // The window starts with the standard icon; the rebranded one replaces it.
    EXPECT_EQ(a, Window->windowIcon().pixmap(32, 32).toImage());
    P->SetIcon("ostrivane");
    EXPECT_EQ(b, Window->windowIcon().pixmap(32, 32).toImage());
    EXPECT_EQ(b, QApplication::windowIcon().pixmap(32, 32).toImage());
    P->SetIcon("no such icon"); // keeps the current one
    EXPECT_EQ(b, Window->windowIcon().pixmap(32, 32).toImage());
}

TEST_F(TQtFixture, BarAndLogModelsOutliveTheWindowSafely) {
    P.reset();
    Form.ProgressBar1.StepIt();
    Form.Memo1.Append("after the window");
    EXPECT_EQ(1u, Form.Memo1.Lines.size());
}
