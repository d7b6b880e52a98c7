/* A tiny C host built against an installed iffjpeg package: it must compile
 * as C, link against the shared library and reach its entry points. */
#include <iffjpeg.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
  IFFImageInfo info;
  uint8_t line[16 * 3];
  int32_t h, y, rc;
  if (argc != 2) {
    fprintf(stderr, "usage: host OUT.jpg\n");
    return 2;
  }
  memset(&info, 0, sizeof info);
  if (IFFOpen("/nonexistent/dir/in.jpg", IFF_MODE_READ, &info) != -IFF_ERR_OPEN) {
    fprintf(stderr, "host: opening a missing file did not give -8\n");
    return 1;
  }
  info.width = 16;
  info.height = 8;
  info.planes = 3;
  info.bitsPerSample = 8;
  info.compression = 1;
  h = IFFOpen(argv[1], IFF_MODE_WRITE, &info);
  if (h <= 0) {
    fprintf(stderr, "host: IFFOpen for writing gave %d\n", (int)h);
    return 1;
  }
  for (y = 0; y < info.height; y++) {
    memset(line, y * 30, sizeof line);
    rc = IFFPutLine(h, 1, line);
    if (rc != IFF_OK) {
      fprintf(stderr, "host: IFFPutLine gave %d\n", (int)rc);
      IFFClose(h);
      return 1;
    }
  }
  rc = IFFClose(h);
  if (rc != IFF_OK) {
    fprintf(stderr, "host: IFFClose gave %d\n", (int)rc);
    return 1;
  }
  printf("host ok\n");
  return 0;
}
