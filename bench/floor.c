/* The floor for a folder scan: the least work that produces resweaver's output for the
 * benchmark's trees, to hold the tool's whole-process time and memory against.
 *
 *   floor [-s] folder rcname html prefix
 *
 * It reads <folder>/<rcname>.qrc (the benchmark's small .qrc, checked byte for byte, so that the
 * reading costs the same), walks <folder>/<html> with openat() and raw getdents64() in the order
 * std::filesystem::recursive_directory_iterator lists it (the kernel's order in each folder,
 * depth first, a folder's contents right after it, links to folders neither listed nor entered),
 * builds each entry's text relative to <folder> as std::filesystem::relative does, formats the
 * whole document as RapidXml prints it (flags 0) into one buffer and writes it with one write().
 * The document around the prefix group is fixed: it is what the small .qrc prints as.
 *
 * With -s the document goes to a temporary file beside the .qrc, which is flushed with fsync(),
 * renamed over the .qrc, and the folder flushed too: the cost of a durable save.
 *
 * Entry texts: a file's text is the HTML folder's form relative to the resolved folder, then the
 * names below it, so only the two folders are resolved, once. A link to a file is resolved with
 * realpath() and made relative to the resolved folder, lexically; a dangling link keeps its own
 * path. The texts are kept escaped as they grow, each folder's name escaped once. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

/* The .qrc that the benchmark resets before every writing run, and what RapidXml prints for it
 * around the group that the run appends. */
static const char kSmallQrc[] =
    "<RCC>\n    <qresource prefix=\"/other\">\n        <file>x.txt</file>\n"
    "    </qresource>\n</RCC>\n";
static const char kHead[] =
    "<RCC>\n\t<qresource prefix=\"/other\">\n\t\t<file>x.txt</file>\n\t</qresource>\n";
static const char kTail[] = "</RCC>\n\n";

enum { kDirBufferSize = 32768 };

struct linux_dirent64 {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

static void die(const char* format, ...) {
  va_list args;
  va_start(args, format);
  fputs("floor: ", stderr);
  vfprintf(stderr, format, args);
  fputc('\n', stderr);
  va_end(args);
  exit(1);
}

/* A growing byte buffer; a fixed one is a large mapping reserved up front. */
struct buffer {
  char* data;
  size_t size;
  size_t capacity;
  int fixed;
};

static void reserve(struct buffer* b, size_t more) {
  if (b->size + more <= b->capacity) {
    return;
  }
  if (b->fixed) {
    die("the document is over %zu bytes", b->capacity);
  }
  size_t capacity = b->capacity ? b->capacity : 4096;
  while (capacity < b->size + more) {
    capacity *= 2;
  }
  b->data = realloc(b->data, capacity);
  if (!b->data) {
    die("out of memory");
  }
  b->capacity = capacity;
}

static void append(struct buffer* b, const char* data, size_t size) {
  reserve(b, size);
  memcpy(b->data + b->size, data, size);
  b->size += size;
}

/* Reserves address space for capacity bytes, aligned to 2 MiB: the document then grows in place,
 * never copied. Past its first 2 MiB it is marked for transparent huge pages, as the tool backs its
 * document and printed text: one page fault every 2 MiB. A small document keeps small pages, and
 * so a small peak. */
static void reserveLarge(struct buffer* b, size_t capacity) {
  const size_t largePage = (size_t)2 << 20;
  char* mapping = mmap(NULL, capacity + largePage, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (mapping == MAP_FAILED) {
    die("cannot reserve %zu bytes: %s", capacity, strerror(errno));
  }
  b->data = (char*)(((uintptr_t)mapping + largePage - 1) / largePage * largePage);
  madvise(b->data + largePage, capacity - largePage, MADV_HUGEPAGE); /* a hint */
  b->size = 0;
  b->capacity = capacity;
  b->fixed = 1;
}

/* Puts a NUL after the bytes, outside the size: the buffer then reads as a C string. */
static const char* terminated(struct buffer* b) {
  reserve(b, 1);
  b->data[b->size] = 0;
  return b->data;
}

/* What RapidXml's printer makes of each byte of an element's text: &, <, >, " and ' become
 * references; 0 marks a byte that stays. */
static const char* kReferences[256] = {
    ['&'] = "&amp;", ['<'] = "&lt;", ['>'] = "&gt;", ['"'] = "&quot;", ['\''] = "&apos;"};

static void appendEscaped(struct buffer* b, const char* text, size_t size) {
  reserve(b, size * 6);
  char* out = b->data + b->size;
  for (size_t i = 0; i < size; ++i) {
    const char* reference = kReferences[(unsigned char)text[i]];
    if (reference) {
      size_t length = strlen(reference);
      memcpy(out, reference, length);
      out += length;
    } else {
      *out++ = text[i];
    }
  }
  b->size = (size_t)(out - b->data);
}

/* An attribute value as RapidXml prints it: in double quotes with " never inside, so ' stays;
 * in apostrophes when the value holds a ", which then stays. */
static void appendAttribute(struct buffer* b, const char* value) {
  const char keep = strchr(value, '"') ? '"' : '\'';
  const char quote = keep == '"' ? '\'' : '"';
  append(b, &quote, 1);
  for (const char* c = value; *c; ++c) {
    if (*c == keep) {
      append(b, c, 1);
    } else {
      appendEscaped(b, c, 1);
    }
  }
  append(b, &quote, 1);
}

/* to made relative to from (both resolved, absolute), as path::lexically_relative does. */
static void appendRelative(struct buffer* b, const char* to, const char* from) {
  /* The shared leading names: compare name by name. */
  size_t shared = 0;
  size_t i = 0;
  for (;;) {
    const char a = to[i];
    const char c = from[i];
    if ((a == '/' || a == 0) && (c == '/' || c == 0)) {
      shared = i;
      if (a == 0 || c == 0) {
        break;
      }
    } else if (a != c) {
      break;
    }
    ++i;
  }
  const char* rest = to + shared;
  while (*rest == '/') {
    ++rest;
  }
  const char* up = from + shared;
  int first = 1;
  for (const char* c = up; *c; ++c) {
    if (*c != '/' && (c == up || c[-1] == '/')) {
      append(b, first ? ".." : "/..", first ? 2 : 3);
      first = 0;
    }
  }
  if (*rest) {
    if (!first) {
      append(b, "/", 1);
    }
    append(b, rest, strlen(rest));
    first = 0;
  }
  if (first) {
    append(b, ".", 1);
  }
}

/* The walk's state: the document being built, the entry's text so far (escaped, as it is
 * printed), and its path below the resolved HTML folder (raw, for resolving links). */
struct walk {
  struct buffer out;
  struct buffer text;
  struct buffer path;
  const char* rootResolved;
  char* dirBuffers[64];
};

static void appendEntry(struct walk* w, const char* escaped, size_t size) {
  reserve(&w->out, size + 17);
  char* out = w->out.data + w->out.size;
  memcpy(out, "\t\t<file>", 8);
  memcpy(out + 8, escaped, size);
  memcpy(out + 8 + size, "</file>\n", 8);
  w->out.size += size + 16;
}

static void walkFolder(struct walk* w, int fd, int depth);

static void visit(struct walk* w, int fd, int depth, const char* name, unsigned char type) {
  const size_t textSize = w->text.size;
  const size_t pathSize = w->path.size;
  const size_t nameSize = strlen(name);
  appendEscaped(&w->text, name, nameSize);
  append(&w->path, "/", 1);
  append(&w->path, name, nameSize);
  if (type == DT_UNKNOWN) {
    struct stat status;
    if (fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
      die("cannot stat %s: %s", terminated(&w->path), strerror(errno));
    }
    type = S_ISDIR(status.st_mode) ? DT_DIR : S_ISLNK(status.st_mode) ? DT_LNK : DT_REG;
  }
  if (type == DT_DIR) {
    const int child = openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child < 0) {
      die("cannot open %s: %s", terminated(&w->path), strerror(errno));
    }
    append(&w->text, "/", 1);
    walkFolder(w, child, depth + 1);
    close(child);
  } else if (type == DT_LNK) {
    struct stat status;
    if (fstatat(fd, name, &status, 0) == 0) {
      if (!S_ISDIR(status.st_mode)) {
        /* A link to a file: the resolved target, relative to the resolved folder. */
        char resolved[PATH_MAX];
        if (!realpath(terminated(&w->path), resolved)) {
          die("cannot resolve %s: %s", w->path.data, strerror(errno));
        }
        struct buffer relative = {0};
        appendRelative(&relative, resolved, w->rootResolved);
        struct buffer escaped = {0};
        appendEscaped(&escaped, relative.data, relative.size);
        appendEntry(w, escaped.data, escaped.size);
        free(relative.data);
        free(escaped.data);
      }
    } else if (errno == ENOENT || errno == ENOTDIR) {
      appendEntry(w, w->text.data, w->text.size); /* dangling: its own path */
    } else {
      die("cannot stat %s: %s", terminated(&w->path), strerror(errno));
    }
  } else {
    appendEntry(w, w->text.data, w->text.size);
  }
  w->text.size = textSize;
  w->path.size = pathSize;
}

static void walkFolder(struct walk* w, int fd, int depth) {
  if (depth >= (int)(sizeof w->dirBuffers / sizeof w->dirBuffers[0])) {
    die("folders nested too deep");
  }
  if (!w->dirBuffers[depth] && !(w->dirBuffers[depth] = malloc(kDirBufferSize))) {
    die("out of memory");
  }
  char* buffer = w->dirBuffers[depth];
  for (;;) {
    const long size = syscall(SYS_getdents64, fd, buffer, kDirBufferSize);
    if (size < 0) {
      die("cannot read a folder: %s", strerror(errno));
    }
    if (size == 0) {
      return;
    }
    for (long at = 0; at < size;) {
      const struct linux_dirent64* entry = (const struct linux_dirent64*)(buffer + at);
      at += entry->d_reclen;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) {
        continue;
      }
      visit(w, fd, depth, name, entry->d_type);
    }
  }
}

static void writeAll(int fd, const char* data, size_t size, const char* path) {
  while (size > 0) {
    const ssize_t done = write(fd, data, size);
    if (done < 0) {
      if (errno == EINTR) {
        continue;
      }
      die("cannot write %s: %s", path, strerror(errno));
    }
    data += done;
    size -= (size_t)done;
  }
}

static char* joined(const char* a, const char* b, const char* c) {
  char* text = malloc(strlen(a) + strlen(b) + strlen(c) + 1);
  if (!text) {
    die("out of memory");
  }
  return strcat(strcat(strcpy(text, a), b), c);
}

int main(int argc, char* argv[]) {
  int durable = 0;
  if (argc == 6 && strcmp(argv[1], "-s") == 0) {
    durable = 1;
    ++argv;
    --argc;
  }
  if (argc != 5) {
    fputs("usage: floor [-s] folder rcname html prefix\n", stderr);
    return 2;
  }
  const char* folder = argv[1];
  char* qrcPath = joined(folder, "/", argv[2]);
  qrcPath = joined(qrcPath, ".qrc", "");
  char* htmlPath = joined(folder, "/", argv[3]);
  const char* prefix = argv[4];

  /* Read the .qrc whole, as the tool does. */
  const int in = open(qrcPath, O_RDONLY | O_CLOEXEC);
  struct stat status;
  if (in < 0 || fstat(in, &status) != 0) {
    die("cannot open %s: %s", qrcPath, strerror(errno));
  }
  char* old = malloc((size_t)status.st_size + 1);
  size_t got = 0;
  while (got < (size_t)status.st_size) {
    const ssize_t n = read(in, old + got, (size_t)status.st_size - got);
    if (n <= 0) {
      die("cannot read %s", qrcPath);
    }
    got += (size_t)n;
  }
  close(in);
  if (got != sizeof kSmallQrc - 1 || memcmp(old, kSmallQrc, got) != 0) {
    die("%s is not the benchmark's small .qrc", qrcPath);
  }

  char rootResolved[PATH_MAX];
  char htmlResolved[PATH_MAX];
  if (!realpath(folder, rootResolved) || !realpath(htmlPath, htmlResolved)) {
    die("cannot resolve %s: %s", htmlPath, strerror(errno));
  }
  struct walk w = {.rootResolved = rootResolved};
  /* Every file's text starts with the HTML folder's relative form; that holds while the HTML
   * folder is not the folder itself or one above it. */
  appendRelative(&w.text, htmlResolved, rootResolved);
  if (w.text.size >= 2 && memcmp(w.text.data + w.text.size - 2, "..", 2) == 0) {
    die("the HTML folder must not be above the folder");
  }
  if (w.text.size == 1 && w.text.data[0] == '.') {
    w.text.size = 0;
  } else {
    struct buffer raw = w.text;
    w.text = (struct buffer){0};
    appendEscaped(&w.text, raw.data, raw.size);
    append(&w.text, "/", 1);
    free(raw.data);
  }
  append(&w.path, htmlResolved, strlen(htmlResolved));

  reserveLarge(&w.out, (size_t)4 << 30);
  append(&w.out, kHead, sizeof kHead - 1);
  append(&w.out, "\t<qresource prefix=", 19);
  appendAttribute(&w.out, prefix);
  const size_t groupOpen = w.out.size;
  append(&w.out, ">\n", 2);
  const int html = open(htmlPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (html < 0) {
    die("cannot open %s: %s", htmlPath, strerror(errno));
  }
  walkFolder(&w, html, 0);
  close(html);
  if (w.out.size == groupOpen + 2) {
    w.out.size = groupOpen;
    append(&w.out, "/>\n", 3);
  } else {
    append(&w.out, "\t</qresource>\n", 14);
  }
  append(&w.out, kTail, sizeof kTail - 1);

  if (!durable) {
    const int out = open(qrcPath, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (out < 0) {
      die("cannot open %s: %s", qrcPath, strerror(errno));
    }
    writeAll(out, w.out.data, w.out.size, qrcPath);
    if (close(out) != 0) {
      die("cannot write %s: %s", qrcPath, strerror(errno));
    }
    return 0;
  }
  char* temporary = joined(qrcPath, ".floor-tmp", "");
  const int out = open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    die("cannot create %s: %s", temporary, strerror(errno));
  }
  writeAll(out, w.out.data, w.out.size, temporary);
  if (fsync(out) != 0 || close(out) != 0 || rename(temporary, qrcPath) != 0) {
    die("cannot save %s: %s", qrcPath, strerror(errno));
  }
  const int dir = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || fsync(dir) != 0) {
    die("cannot flush %s: %s", folder, strerror(errno));
  }
  close(dir);
  return 0;
}
