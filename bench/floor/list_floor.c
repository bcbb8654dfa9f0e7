/* The floor of `brintle list`: the least a program must do to show the registered modules.
 * It reads the registry of the project at argv[1] (src/modules/__init__.py, one
 * `"name": "path",` line per module) and, for each entry, looks at the type of the module's
 * __init__.py (opening a device can act on it, so only a regular file is opened), opens, reads
 * and closes it, then prints the name, the path and the first line of the docstring. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* Opens the file at `path` for reading only when it is a regular file. */
static int open_regular(const char *path) {
  struct stat info;
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return open(path, O_RDONLY | O_CLOEXEC);
}

static char *read_file(const char *path, size_t *size) {
  int fd = open_regular(path);
  if (fd < 0) return NULL;
  size_t capacity = 1 << 16, used = 0;
  char *data = malloc(capacity);
  for (;;) {
    if (used == capacity) data = realloc(data, capacity *= 2);
    ssize_t count = read(fd, data + used, capacity - used);
    if (count <= 0) break;
    used += (size_t)count;
  }
  close(fd);
  *size = used;
  return data;
}

/* The first line of the docstring that opens the text, or an empty one. */
static void print_description(const char *text, size_t size) {
  if (size < 6 || memcmp(text, "\"\"\"", 3) != 0) return;
  const char *start = text + 3, *end = text + size;
  while (start < end && (*start == ' ' || *start == '\n')) ++start;
  const char *stop = start;
  while (stop < end && *stop != '\n' && *stop != '"') ++stop;
  fwrite(start, 1, (size_t)(stop - start), stdout);
}

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  char path[4096];
  snprintf(path, sizeof path, "%s/src/modules/__init__.py", argv[1]);
  size_t size = 0;
  char *registry = read_file(path, &size);
  if (registry == NULL) return 1;
  char buffer[4096];
  for (char *line = registry, *end = registry + size; line < end;) {
    char *newline = memchr(line, '\n', (size_t)(end - line));
    if (newline == NULL) newline = end;
    /* Entry lines are indented; the docstring and the other statements are not. */
    char *name = line + 4, *name_end, *value, *value_end;
    if (newline - line > 4 && memcmp(line, "    \"", 5) == 0 &&
        (name_end = memchr(name + 1, '"', (size_t)(newline - name - 1))) &&
        (value = memchr(name_end + 1, '"', (size_t)(newline - name_end - 1))) &&
        (value_end = memchr(value + 1, '"', (size_t)(newline - value - 1)))) {
      snprintf(path, sizeof path, "%s/src/modules/%.*s/__init__.py", argv[1],
               (int)(name_end - name - 1), name + 1);
      int fd = open_regular(path);
      ssize_t count = fd < 0 ? 0 : read(fd, buffer, sizeof buffer);
      if (fd >= 0) close(fd);
      printf("%.*s %.*s ", (int)(name_end - name - 1), name + 1, (int)(value_end - value - 1),
             value + 1);
      print_description(buffer, count > 0 ? (size_t)count : 0);
      putchar('\n');
    }
    line = newline + 1;
  }
  free(registry);
  return 0;
}
