#pragma once
// The main window's widgets: two top-aligned progress bars and the log view filling the
// rest, rendered from the plain models of platform/ui.h.
#include <QIcon>
#include <QString>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui.h"

class QPlainTextEdit;
class QProgressBar;

namespace plat::qt {

// Texts are single-byte strings; file names on POSIX are mostly UTF-8. A text that is valid
// UTF-8 shows as such, any other as Latin-1, so no byte is ever lost on the way.
QString ToQString(const std::string& text);
std::string FromQString(const QString& text);

// The application icon "kestavorin" or "ostrivane", rendered from its SVG resource; a null
// icon for any other name.
QIcon AppIcon(const std::string& name);

// The style sheet of a bar: the border and a smooth or a segmented fill.
QString BarStyleSheet(const TProgressBar& bar);

class TMainWindow final : public QWidget {
public:
    TMainWindow();

    QProgressBar* Bar(int index) const { return FBars[index]; }
    QPlainTextEdit* Log() const { return FLog; }

    void ApplySettings(const TWindowSettings& settings);
    void ApplyBar(int index, const TProgressBar& bar); // look, range and position
    void SetBarPosition(int index, int position);

    // The log view shows every line, the newest in view.
    void SetLines(const std::vector<std::string>& lines);
    void AppendLine(const std::string& line);
    // The lines as the view now holds them, after an edit by the user. A line still shown
    // as it was keeps its original bytes.
    std::vector<std::string> EditedLines(const std::vector<std::string>& before) const;

    // The user closed the window (the window then hides).
    std::function<void()> OnCloseRequest;
    // The user changed the log's text.
    std::function<void()> OnLogEdited;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowNewest();

    QProgressBar* FBars[2];
    QPlainTextEdit* FLog;
    bool FWriting = false; // the program, not the user, is changing the log
};

} // namespace plat::qt
