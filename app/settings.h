#pragma once
// The settings of one run: what start-up works out from the program's own file, the
// initialisation files, the switches and the edition file. The main window owns the one
// value; the run driver, the engines and the stop and restart steps read it.
#include <string>
#include <vector>

struct TSettings {
    std::string UpdaterVersion;
    std::string ProductDir; // ends with a folder separator; the current directory of a run
    std::string StartDir;   // the current directory when the program started
    std::string DownloadUrl;
    std::string SourcePath; // ends with a folder separator when set
    std::string ClonePath;  // ends with a folder separator when set
    std::string EditionCode;
    bool FromUrl = false, FromPath = false, CloneSite = false, AutoExit = false, Silent = false;
    bool Rebranded = false;         // the edition file names the rebranded edition
    bool SelfUpdatePending = false; // raised by the engines when a new updater waits in TmpDir
    // The public keys (their texts) of the update sites the run trusts: those built in,
    // then KVUpdater.ini's. With none, sites are read unsigned.
    std::vector<std::string> SitePublicKeys;

    // The running program: its own file and its arguments without the program name. The
    // program's entry fills them; tests point ExeName at a file in a temporary folder.
    std::string ExeName;
    std::vector<std::string> Params;

    std::string UpdaterDir() const; // the folder of ExeName, with a trailing separator
    std::string TmpDir() const;     // UpdaterDir() + "tmp" and a separator
    std::string LogDir() const;     // ProductDir + "logs"
};
