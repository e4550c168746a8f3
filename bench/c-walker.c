/* The least a program can do to answer the 32-bit question for a tree: readdir, and for each regular
   file open, read 4 bytes, close. The 32-bit scan is measured against it. */
#define _GNU_SOURCE
#include "c-walker.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static void walk(char *path, size_t length, enum cwalk_open how, struct cwalk_counts *counts) {
    DIR *dir = opendir(path);
    if (!dir) return;
    struct dirent *entry;
    while ((entry = readdir(dir)) != NULL) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        size_t nameLength = strlen(name);
        if (length + 1 + nameLength >= PATH_MAX) continue;
        path[length] = '/';
        memcpy(path + length + 1, name, nameLength + 1);
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            /* Some file systems leave the type out of the directory entry. */
            struct stat st;
            if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
        }
        if (type == DT_DIR) {
            ++counts->directories;
            walk(path, length + 1 + nameLength, how, counts);
        } else if (type == DT_REG) {
            int fd = how == CWALK_OPEN_AT ? openat(dirfd(dir), name, O_RDONLY | O_CLOEXEC)
                                          : open(path, O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            unsigned char magic[4];
            ssize_t got = read(fd, magic, sizeof magic);
            close(fd);
            ++counts->files;
            if (got == 4 && magic[0] == 0xCE && magic[1] == 0xFA && magic[2] == 0xED && magic[3] == 0xFE)
                ++counts->thin32;
        }
    }
    path[length] = 0;
    closedir(dir);
}

int cwalk(const char *root, enum cwalk_open how, struct cwalk_counts *counts) {
    char path[PATH_MAX];
    size_t length = strlen(root);
    memset(counts, 0, sizeof *counts);
    if (length >= PATH_MAX) return -1;
    memcpy(path, root, length + 1);
    while (length > 1 && path[length - 1] == '/') path[--length] = 0;
    DIR *probe = opendir(path);
    if (!probe) return -1;
    closedir(probe);
    walk(path, length, how, counts);
    return 0;
}

#ifndef CWALKER_NO_MAIN
#include <stdio.h>
#include <time.h>

/* c-walker [--at] ROOT: one walk, its counts and its time in seconds. */
int main(int argc, char **argv) {
    enum cwalk_open how = CWALK_OPEN_PATH;
    if (argc == 3 && strcmp(argv[1], "--at") == 0) {
        how = CWALK_OPEN_AT;
        argv[1] = argv[2];
        --argc;
    }
    if (argc != 2) {
        fprintf(stderr, "usage: c-walker [--at] ROOT\n");
        return 2;
    }
    struct cwalk_counts counts;
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    if (cwalk(argv[1], how, &counts) != 0) {
        fprintf(stderr, "c-walker: cannot open %s\n", argv[1]);
        return 1;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    double seconds = (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9;
    printf("directories=%lu files=%lu thin32=%lu seconds=%.6f\n", counts.directories, counts.files,
           counts.thin32, seconds);
    return 0;
}
#endif
