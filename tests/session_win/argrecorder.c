/* Stands in for the web browser in the session test: writes the command line
 * it was started with to args.txt beside itself. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(void) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, sizeof path);
    char* slash = strrchr(path, '\\');
    FILE* out;
    if (n == 0 || n >= sizeof path || !slash || (size_t)(slash - path) + 10 >= sizeof path)
        return 1;
    strcpy(slash + 1, "args.txt");
    out = fopen(path, "wb");
    if (!out)
        return 1;
    fputs(GetCommandLineA(), out);
    fclose(out);
    return 0;
}
