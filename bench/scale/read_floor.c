/* The reading floor of bench/scale/run_readers.sh: reads FILE into one fresh
 * buffer of its size and prints the byte count and a checksum, so that no
 * byte goes unread. */
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: read_floor FILE\n");
    return 1;
  }
  FILE* f = fopen(argv[1], "rb");
  struct stat st;
  if (!f || fstat(fileno(f), &st) != 0) {
    perror(argv[1]);
    return 1;
  }
  size_t size = (size_t)st.st_size;
  unsigned char* buffer = malloc(size ? size : 1);
  if (!buffer || fread(buffer, 1, size, f) != size) {
    fprintf(stderr, "%s: short read\n", argv[1]);
    return 1;
  }
  fclose(f);
  unsigned long sum = 0;
  for (size_t i = 0; i < size; i += 4096) sum += buffer[i];
  printf("%zu bytes, checksum %lu\n", size, sum);
  free(buffer);
  return 0;
}
