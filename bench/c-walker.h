/* The baseline walker of the 32-bit scan benchmark, callable from C++ so both run in one process. */
#ifndef TESSARIN_BENCH_C_WALKER_H
#define TESSARIN_BENCH_C_WALKER_H

#ifdef __cplusplus
extern "C" {
#endif

struct cwalk_counts {
    unsigned long directories; /* below the root */
    unsigned long files;       /* regular files opened */
    unsigned long thin32;      /* files whose first 4 bytes are CE FA ED FE */
};

/* How files are opened: by full path (open), or relative to the open directory (openat, which
   spares the kernel the path lookup from the root). */
enum cwalk_open { CWALK_OPEN_PATH, CWALK_OPEN_AT };

/* Walks everything below `root` without following symbolic links; returns 0, or -1 when the root
   cannot be opened. */
int cwalk(const char* root, enum cwalk_open how, struct cwalk_counts* counts);

#ifdef __cplusplus
}
#endif

#endif
