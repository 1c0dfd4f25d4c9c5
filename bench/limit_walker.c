/* limit_walker: the least a listing must do, as a yardstick for sorvane-cli.
 *
 * Usage: limit_walker [-j THREADS] FOLDER
 *
 * Prints the path of every regular file below FOLDER, one per line, reading
 * folders with getdents64 and trusting d_type (fstatat only when it is
 * DT_UNKNOWN). Names starting with '.' are skipped, files and folders, as
 * sorvane-cli's default options do, so both list the same paths. Symbolic
 * links are neither listed nor followed. With -j 1 (the default) folders are
 * walked depth first on one thread; with -j 2 or more, threads take folders
 * from a shared stack and print in no particular order. No skip lists, no
 * stored file list, no descriptor limit: nothing but the reading.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { kDirentBuffer = 64 * 1024, kOutBuffer = 256 * 1024 };

struct out {
    char buf[kOutBuffer];
    size_t used;
};

static pthread_mutex_t g_outLock = PTHREAD_MUTEX_INITIALIZER;
static int g_threads = 1;

static void flush_out(struct out* o)
{
    if (g_threads > 1)
        pthread_mutex_lock(&g_outLock);
    size_t done = 0;
    while (done < o->used) {
        ssize_t n = write(1, o->buf + done, o->used - done);
        if (n <= 0)
            exit(1);
        done += (size_t)n;
    }
    if (g_threads > 1)
        pthread_mutex_unlock(&g_outLock);
    o->used = 0;
}

static void put_path(struct out* o, const char* dir, size_t dirLen, const char* name, size_t nameLen)
{
    if (o->used + dirLen + nameLen + 2 > kOutBuffer)
        flush_out(o);
    memcpy(o->buf + o->used, dir, dirLen);
    o->used += dirLen;
    o->buf[o->used++] = '/';
    memcpy(o->buf + o->used, name, nameLen);
    o->used += nameLen;
    o->buf[o->used++] = '\n';
}

static unsigned char entry_type(int fd, const struct dirent64* d)
{
    if (d->d_type != DT_UNKNOWN)
        return d->d_type;
    struct stat st;
    if (fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return DT_UNKNOWN;
    return S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
}

/* Reads the folder open at fd to its end: regular files are printed under
   path, each sub-folder's name is handed to sub(ctx, name, len). */
static void read_folder(int fd, char* dents, struct out* o, const char* path, size_t pathLen,
                        void (*sub)(void* ctx, const char* name, size_t len), void* ctx)
{
    for (;;) {
        long n = getdents64(fd, dents, kDirentBuffer);
        if (n <= 0)
            break;
        for (long pos = 0; pos < n;) {
            const struct dirent64* d = (const struct dirent64*)(dents + pos);
            pos += d->d_reclen;
            if (d->d_name[0] == '.')
                continue;
            const unsigned char type = entry_type(fd, d);
            const size_t len = strlen(d->d_name);
            if (type == DT_REG)
                put_path(o, path, pathLen, d->d_name, len);
            else if (type == DT_DIR)
                sub(ctx, d->d_name, len);
        }
    }
}

/* One thread: depth first, each folder opened relative to its parent. */
struct names {
    char* text;
    size_t len, cap;
};

static void keep_name(void* ctx, const char* name, size_t len)
{
    struct names* subs = ctx;
    if (subs->len + len + 1 > subs->cap) {
        subs->cap = (subs->len + len + 1) * 2;
        subs->text = realloc(subs->text, subs->cap);
    }
    memcpy(subs->text + subs->len, name, len + 1);
    subs->len += len + 1;
}

static void walk(int parentFd, const char* openName, char* path, size_t pathLen, size_t pathCap, struct out* o,
                 char* dents)
{
    int fd = openat(parentFd, openName, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return;
    /* Sub-folders wait until the folder is read, so one buffer serves every level. */
    struct names subs = {NULL, 0, 0};
    read_folder(fd, dents, o, path, pathLen, keep_name, &subs);
    for (size_t i = 0; i < subs.len;) {
        const size_t len = strlen(subs.text + i);
        if (pathLen + len + 2 <= pathCap) {
            path[pathLen] = '/';
            memcpy(path + pathLen + 1, subs.text + i, len + 1);
            walk(fd, subs.text + i, path, pathLen + 1 + len, pathCap, o, dents);
            path[pathLen] = '\0';
        }
        i += len + 1;
    }
    free(subs.text);
    close(fd);
}

/* Several threads: a shared stack of whole folder paths. */
struct job {
    char* path;
    size_t len;
};
static struct job* g_stack;
static size_t g_stackLen, g_stackCap;
static int g_busy;
static pthread_cond_t g_cond = PTHREAD_COND_INITIALIZER;
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

static void push_job(char* path, size_t len)
{
    if (g_stackLen == g_stackCap) {
        g_stackCap = g_stackCap ? g_stackCap * 2 : 1024;
        g_stack = realloc(g_stack, g_stackCap * sizeof *g_stack);
    }
    g_stack[g_stackLen].path = path;
    g_stack[g_stackLen].len = len;
    ++g_stackLen;
}

/* A folder's sub-folders as jobs, handed to the shared stack 64 at a time. */
struct found {
    const char* parent;
    size_t parentLen;
    struct job jobs[64];
    int n;
};

static void queue_folder(void* ctx, const char* name, size_t len)
{
    struct found* f = ctx;
    char* p = malloc(f->parentLen + len + 2);
    memcpy(p, f->parent, f->parentLen);
    p[f->parentLen] = '/';
    memcpy(p + f->parentLen + 1, name, len + 1);
    f->jobs[f->n].path = p;
    f->jobs[f->n++].len = f->parentLen + 1 + len;
    if (f->n == 64) {
        pthread_mutex_lock(&g_lock);
        for (int i = 0; i < f->n; ++i)
            push_job(f->jobs[i].path, f->jobs[i].len);
        pthread_cond_broadcast(&g_cond);
        pthread_mutex_unlock(&g_lock);
        f->n = 0;
    }
}

static void* worker(void* unused)
{
    (void)unused;
    struct out* o = malloc(sizeof *o);
    char* dents = malloc(kDirentBuffer);
    o->used = 0;
    for (;;) {
        pthread_mutex_lock(&g_lock);
        while (g_stackLen == 0 && g_busy > 0)
            pthread_cond_wait(&g_cond, &g_lock);
        if (g_stackLen == 0) {
            pthread_mutex_unlock(&g_lock);
            break;
        }
        struct job j = g_stack[--g_stackLen];
        ++g_busy;
        pthread_mutex_unlock(&g_lock);

        int fd = open(j.path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        struct found found = {j.path, j.len, {{NULL, 0}}, 0};
        if (fd >= 0) {
            read_folder(fd, dents, o, j.path, j.len, queue_folder, &found);
            close(fd);
        }
        free(j.path);
        pthread_mutex_lock(&g_lock);
        for (int i = 0; i < found.n; ++i)
            push_job(found.jobs[i].path, found.jobs[i].len);
        --g_busy;
        pthread_cond_broadcast(&g_cond);
        pthread_mutex_unlock(&g_lock);
    }
    flush_out(o);
    free(dents);
    free(o);
    return NULL;
}

int main(int argc, char** argv)
{
    int opt;
    while ((opt = getopt(argc, argv, "j:")) != -1) {
        if (opt != 'j' || atoi(optarg) < 1) {
            fprintf(stderr, "usage: limit_walker [-j THREADS] FOLDER\n");
            return 2;
        }
        g_threads = atoi(optarg);
    }
    if (optind + 1 != argc) {
        fprintf(stderr, "usage: limit_walker [-j THREADS] FOLDER\n");
        return 2;
    }
    size_t len = strlen(argv[optind]);
    while (len > 1 && argv[optind][len - 1] == '/')
        --len;
    if (g_threads == 1) {
        const size_t cap = 1 << 16;
        char* path = malloc(cap);
        if (len >= cap)
            return 2;
        memcpy(path, argv[optind], len);
        path[len] = '\0';
        struct out* o = malloc(sizeof *o);
        char* dents = malloc(kDirentBuffer);
        o->used = 0;
        /* The root may be a link, as it may for sorvane-cli. */
        int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            perror(path);
            return 1;
        }
        walk(fd, ".", path, len, cap, o, dents);
        close(fd);
        flush_out(o);
        return 0;
    }
    char* root = malloc(len + 1);
    memcpy(root, argv[optind], len);
    root[len] = '\0';
    push_job(root, len);
    pthread_t* threads = malloc(sizeof *threads * (size_t)g_threads);
    for (int i = 0; i < g_threads; ++i)
        pthread_create(&threads[i], NULL, worker, NULL);
    for (int i = 0; i < g_threads; ++i)
        pthread_join(threads[i], NULL);
    return 0;
}
