/* A complete host of iffjpeg: reads a JPEG file held in memory through the
 * host's own callbacks, then writes its lines again as a new JPEG file with
 * quality 90 and 300 dpi through the default (file-system) callbacks.
 *
 *   cc host_example.c $(pkg-config --cflags --libs iffjpeg) -o host_example
 *   ./host_example in.jpg out.jpg
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "iffjpeg.h"

/* Callbacks reading from memory. IFFOpen hands open() the address of the
 * record it copied the callbacks from, so the record can carry the data
 * right after the five function pointers. */
typedef struct MemorySource {
  IFFFileOps ops; /* must come first */
  const uint8_t *data;
  int32_t size;
  int32_t position;
} MemorySource;

static MemorySource *current; /* one open memory file at a time, for brevity */

static int32_t MemOpen(const void *source, int32_t flags, int32_t permission) {
  (void)flags;
  (void)permission;
  current = (MemorySource *)source;
  current->position = 0;
  return 1;
}
static int32_t MemClose(int32_t id) { return id == 1 ? 0 : -1; }
static int32_t MemRead(int32_t id, void *buffer, int32_t count) {
  int32_t left = current->size - current->position;
  int32_t n = count < left ? count : left;
  (void)id;
  memcpy(buffer, current->data + current->position, (size_t)n);
  current->position += n;
  return n;
}
static int32_t MemWrite(int32_t id, const void *buffer, int32_t count) {
  (void)id;
  (void)buffer;
  (void)count;
  return -1; /* this source is read-only */
}
static int32_t MemSeek(int32_t id, int32_t offset, int32_t origin) {
  (void)id;
  if (origin != 0 || offset < 0 || offset > current->size) return -1;
  return current->position = offset;
}

static uint8_t *ReadWholeFile(const char *name, int32_t *size) {
  FILE *f = fopen(name, "rb");
  uint8_t *data = NULL;
  long n;
  if (f == NULL) return NULL;
  if (fseek(f, 0, SEEK_END) == 0 && (n = ftell(f)) > 0 && n < 0x7FFFFFFF &&
      fseek(f, 0, SEEK_SET) == 0 && (data = malloc((size_t)n)) != NULL &&
      fread(data, 1, (size_t)n, f) == (size_t)n) {
    *size = (int32_t)n;
  } else {
    free(data);
    data = NULL;
  }
  fclose(f);
  return data;
}

int main(int argc, char **argv) {
  MemorySource source = {{MemOpen, MemClose, MemRead, MemWrite, MemSeek}, NULL, 0, 0};
  IFFImageInfo info, out = {0};
  int32_t in, dst, rc = 0, y, dpi[2] = {300, 300};
  uint8_t *lines;

  if (argc != 3) {
    fprintf(stderr, "usage: %s IN.jpg OUT.jpg\n", argv[0]);
    return 2;
  }
  source.data = ReadWholeFile(argv[1], &source.size);
  if (source.data == NULL) {
    fprintf(stderr, "%s: cannot read\n", argv[1]);
    return 1;
  }

  /* Read: open with the host's callbacks, then whole lines. */
  in = IFFOpen(&source, IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  if (in < 0) {
    fprintf(stderr, "%s: open failed, code %d\n", argv[1], (int)-in);
    return 1;
  }
  printf("%s: %d x %d, %s\n", argv[1], (int)info.width, (int)info.height,
         info.planes == 3 ? "RGB" : "greyscale");

  /* Write: describe the image, set quality and resolution, then lines. */
  out.width = info.width;
  out.height = info.height;
  out.planes = info.planes;
  out.bitsPerSample = 8;
  dst = IFFOpen(argv[2], IFF_MODE_WRITE, &out);
  if (dst < 0) {
    fprintf(stderr, "%s: open failed, code %d\n", argv[2], (int)-dst);
    IFFClose(in);
    return 1;
  }
  IFFControl(dst, IFF_CTL_QUALITY, 90, 0, NULL);
  IFFControl(dst, IFF_CTL_RESOLUTION, IFF_RES_HORIZONTAL | IFF_RES_VERTICAL, 0, dpi);

  lines = malloc((size_t)info.width * (size_t)info.planes);
  for (y = 0; lines != NULL && y < info.height; y++) {
    rc = IFFGetLine(in, 1, lines); /* 10: data ended early, line still delivered */
    if (rc != 0 && rc != IFF_ERR_DATA_ENDED) break;
    rc = IFFPutLine(dst, 1, lines);
    if (rc != 0) break;
  }
  free(lines);
  IFFClose(in);
  if (IFFClose(dst) != 0 || rc != 0) {
    fprintf(stderr, "%s: writing failed, code %d\n", argv[2], (int)rc);
    return 1;
  }
  free((void *)source.data);
  return 0;
}
