#pragma once
// The stop step and the restart step around an update: the product's running programs are
// stopped in a fixed order and remembered, two marker files tell the product an update is
// under way, and afterwards the remembered programs start again. TForm1's GetActiveList and
// RestartStuff call these with the run's state.
#include <functional>
#include <string>

#include "platform/say.h"

// Turns a text into the running edition's own (the brand rules of the rebranded edition).
using TBrandProc = std::function<std::string(const std::string&)>;

// The marker files, directly in the product folder, and their one line.
inline constexpr const char* MarkerFileNames[2] = {"kvsa.dat", "mem_ter"};
inline constexpr const char* MarkerLine = "h58#^~-w\r\n";

// One row of the stop table.
struct TStopStep {
    const char* Key;         // what the programs' file names must contain
    const char* LogText;     // written with Say when the program runs
    const char* RestartName; // appended to the restart list with "|"; null: not restarted
    bool Branded;            // key, text and name pass through the brand rules
    bool Caught;             // an exception in the step is dropped
    bool RebrandedOnly;      // the step runs only in the rebranded edition
};
inline constexpr int StopStepCount = 9;
const TStopStep* StopSteps();

// The stop step: works through the table, stopping each running program after logging it
// and remembering its restart name in restartList ("Name.exe|" per entry), then writes the
// marker files. rebranded runs the rebranded-only steps; brand turns the branded steps' texts
// into the edition's own. Raises EInOutError when a marker file can't be written.
void StopProductPrograms(const std::string& productDir, bool rebranded, const TBrandProc& brand,
                         std::string& restartList, const TSayProc& say);

// The restart step: deletes the marker files (failures only to sayNothing), starts every
// remembered program from the product folder with a "Restarting " line, consuming
// restartList, and finally starts "kvcontrol.exe" when the product folder holds it.
void RestartProductPrograms(const std::string& productDir, std::string& restartList,
                            const TSayProc& say, const TSayProc& sayNothing);
