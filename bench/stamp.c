/* A stand-in child program for the benchmarks (install a copy as x64.exe):
 * the first thing it does is read CLOCK_MONOTONIC, which it writes, in
 * nanoseconds, to <cwd>/<name>.stamp, <name> being the last part of argv[0]
 * (through <name>.stamp.part and a rename, so a stamp that exists is whole).
 * Then it exits with 0; 2 when the stamp could not be written. Linked
 * statically, so that little lies between its exec and that reading. */
#include <stdio.h>
#include <string.h>
#include <time.h>

int main(int argc, char** argv) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const char* name = argc > 0 ? strrchr(argv[0], '/') : NULL;
    name = name ? name + 1 : (argc > 0 ? argv[0] : "stamp");
    char path[4096], part[4112];
    snprintf(path, sizeof path, "%s.stamp", name);
    snprintf(part, sizeof part, "%s.part", path);
    FILE* out = fopen(part, "w");
    if (!out) return 2;
    fprintf(out, "%lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
    if (fclose(out) != 0 || rename(part, path) != 0) return 2;
    return 0;
}
