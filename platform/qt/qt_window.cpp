#include "platform/qt/qt_window.h"

#include <QCloseEvent>
#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QSvgRenderer>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>
#include <cstdint>

namespace plat::qt {
namespace {

bool IsUtf8(const std::string& text) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        auto c = static_cast<unsigned char>(text[i]);
        size_t more;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + more >= n) return false; // cut short at the end
        for (size_t k = 1; k <= more; ++k) {
            auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        // Overlong forms, surrogates and code points past the last plane are not UTF-8.
        if ((more == 2 && cp < 0x800) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

const char* const FillColour = "#2f6fc7";

} // namespace

QString ToQString(const std::string& text) {
    if (IsUtf8(text)) return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQString(const QString& text) {
    QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

QIcon AppIcon(const std::string& name) {
    if (name != "kestavorin" && name != "ostrivane") return QIcon();
    QSvgRenderer renderer(QString(":/icons/%1.svg").arg(QString::fromStdString(name)));
    if (!renderer.isValid()) return QIcon();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QString BarStyleSheet(const TProgressBar& bar) {
    QString sheet = QString("QProgressBar { border: %1px inset #a0a0a0; background: #f4f4f4; }")
                        .arg(bar.BorderWidth);
    // The segmented look: blocks with a gap between them.
    if (bar.Smooth)
        sheet += QString(" QProgressBar::chunk { background-color: %1; }").arg(FillColour);
    else
        sheet += QString(" QProgressBar::chunk { background-color: %1; width: 9px; margin: 1px; }")
                     .arg(FillColour);
    return sheet;
}

TMainWindow::TMainWindow() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = 0; i < 2; ++i) {
        FBars[i] = new QProgressBar(this);
        FBars[i]->setObjectName(QString("ProgressBar%1").arg(i + 1));
        FBars[i]->setTextVisible(false);
        layout->addWidget(FBars[i]);
    }
    FLog = new QPlainTextEdit(this);
    FLog->setObjectName("Memo1");
    FLog->setReadOnly(false);
    FLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    FLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(FLog, 1);
    connect(FLog->document(), &QTextDocument::contentsChange, this, [this](int, int, int) {
        if (!FWriting && OnLogEdited) OnLogEdited();
    });
}

void TMainWindow::ApplySettings(const TWindowSettings& settings) {
    setWindowTitle(ToQString(settings.Caption));
    move(settings.Left, settings.Top);
    resize(settings.Width, settings.Height);
    QFont font(QString::fromStdString(settings.FontName));
    font.setPixelSize(settings.FontHeight > 0 ? settings.FontHeight : 11);
    setFont(font);
}

void TMainWindow::ApplyBar(int index, const TProgressBar& bar) {
    QProgressBar* widget = FBars[index];
    widget->setFixedHeight(bar.Height);
    widget->setStyleSheet(BarStyleSheet(bar));
    // A bar that is not top-aligned would follow the log; the window has none such.
    widget->setRange(bar.Min, bar.Max > bar.Min ? bar.Max : bar.Min);
    widget->setValue(bar.Position);
}

void TMainWindow::SetBarPosition(int index, int position) {
    FBars[index]->setValue(position);
}

void TMainWindow::SetLines(const std::vector<std::string>& lines) {
    FWriting = true;
    QStringList all;
    for (const auto& line : lines) all << ToQString(line);
    FLog->setPlainText(all.join('\n'));
    FWriting = false;
    ShowNewest();
}

void TMainWindow::AppendLine(const std::string& line) {
    FWriting = true;
    FLog->appendPlainText(ToQString(line));
    FWriting = false;
    ShowNewest();
}

void TMainWindow::ShowNewest() {
    QScrollBar* bar = FLog->verticalScrollBar();
    bar->setValue(bar->maximum());
}

std::vector<std::string> TMainWindow::EditedLines(const std::vector<std::string>& before) const {
    std::vector<std::string> lines;
    const QTextDocument* document = FLog->document();
    // An empty view is no lines, not one empty line.
    if (document->isEmpty()) return lines;
    size_t index = 0;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next(), ++index) {
        QString text = block.text();
        if (index < before.size() && ToQString(before[index]) == text)
            lines.push_back(before[index]);
        else
            lines.push_back(FromQString(text));
    }
    return lines;
}

void TMainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (OnCloseRequest) OnCloseRequest();
}

} // namespace plat::qt
