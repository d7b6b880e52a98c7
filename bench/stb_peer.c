/* The independent peer: stb_image's JPEG decoder and stb_image_write's JPEG
 * writer, compiled here with their default settings (SIMD where the header
 * enables it). */
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#include "stb_image.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"
