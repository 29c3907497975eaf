/* Started by the shell start under test: writes its command line and its current folder into
   the file its first argument names, under a working name first, then under that name. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
    char folder[MAX_PATH], temp[MAX_PATH + 8];
    FILE* out;
    if (argc < 2) return 2;
    GetCurrentDirectoryA(sizeof folder, folder);
    snprintf(temp, sizeof temp, "%s.tmp", argv[1]);
    out = fopen(temp, "wb");
    if (!out) return 1;
    fprintf(out, "%s\n%s\n", GetCommandLineA(), folder);
    fclose(out);
    return MoveFileA(temp, argv[1]) ? 0 : 1;
}
