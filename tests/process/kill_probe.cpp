// Tries KillExe as an unprivileged user (uid/gid 65534), to meet processes it may not stop.
// Exit status: 0 when KillExe answered true, 1 when false, 2 when the user can't be taken.
#include <unistd.h>

#include <cstdio>

#include "process/process_viewer.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    if (setgid(65534) != 0 || setuid(65534) != 0) return 2;
    bool stopped = KillExe(argv[1]);
    printf("%zu\n", RefreshProcessList().size());
    return stopped ? 0 : 1;
}
