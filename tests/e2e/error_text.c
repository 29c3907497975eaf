/* Prints the system's text for an error code (FormatMessageA), as the program under test
   logs it: the whole-program tests learn Wine's own words from it. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int main(int argc, char** argv) {
    char* text = NULL;
    if (argc != 2) return 2;
    if (!FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                            FORMAT_MESSAGE_IGNORE_INSERTS,
                        NULL, (DWORD)strtoul(argv[1], NULL, 10), 0, (char*)&text, 0, NULL))
        return 1;
    fputs(text, stdout);
    LocalFree(text);
    return 0;
}
