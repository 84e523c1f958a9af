// Preloaded into a process under measurement (LD_PRELOAD): every
// FIGURES_MALLOC_STATS_PERIOD seconds (default 10) appends one line to the file
// named by FIGURES_MALLOC_STATS, to tell memory the program holds from memory
// the allocator keeps in its free lists:
//   <seconds> rss_kb=<VmRSS> heap_kb=<arena bytes from sbrk and arena heaps>
//   used_kb=<allocated> free_kb=<free in arenas> mmap_kb=<large mmapped chunks>
//   arenas=<count>
// Nothing is written when the variable is unset.
#define _GNU_SOURCE
#include <malloc.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static long rssKb(void) {
  FILE* f = fopen("/proc/self/status", "r");
  char line[256];
  long kb = -1;
  if (f == NULL) return -1;
  while (fgets(line, sizeof line, f) != NULL) {
    if (strncmp(line, "VmRSS:", 6) == 0) kb = strtol(line + 6, NULL, 10);
  }
  fclose(f);
  return kb;
}

static int arenaCount(void) {
  char* text = NULL;
  size_t size = 0;
  FILE* mem = open_memstream(&text, &size);
  int count = 0;
  if (mem == NULL) return -1;
  malloc_info(0, mem);
  fclose(mem);
  for (const char* p = text; (p = strstr(p, "<heap nr=")) != NULL; ++p) ++count;
  free(text);
  return count;
}

static void* run(void* arg) {
  const char* path = arg;
  const char* period_env = getenv("FIGURES_MALLOC_STATS_PERIOD");
  const unsigned period = period_env != NULL && atoi(period_env) > 0 ? (unsigned)atoi(period_env) : 10;
  struct timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    const struct mallinfo2 m = mallinfo2();
    const int arenas = arenaCount();
    clock_gettime(CLOCK_MONOTONIC, &now);
    FILE* out = fopen(path, "a");
    if (out != NULL) {
      fprintf(out, "%ld rss_kb=%ld heap_kb=%zu used_kb=%zu free_kb=%zu mmap_kb=%zu arenas=%d\n",
              (long)(now.tv_sec - start.tv_sec), rssKb(), m.arena / 1024, m.uordblks / 1024, m.fordblks / 1024,
              m.hblkhd / 1024, arenas);
      fclose(out);
    }
    sleep(period);
  }
  return NULL;
}

__attribute__((constructor)) static void startSampler(void) {
  const char* path = getenv("FIGURES_MALLOC_STATS");
  pthread_t thread;
  if (path == NULL || *path == '\0') return;
  if (pthread_create(&thread, NULL, run, strdup(path)) == 0) pthread_detach(thread);
}
