/*
 * iffjpeg.h - the public interface of the iffjpeg image-file-format driver.
 *
 * iffjpeg reads and writes JPEG/JFIF files one scan line at a time.
 *
 *   Reading: baseline (SOF0) and extended-sequential Huffman (SOF1) files of
 *   8-bit precision are decoded into greyscale lines (one byte per pixel) or
 *   RGB lines (three bytes per pixel: red, green, blue).
 *
 *   Writing: greyscale or RGB lines are encoded into a baseline JFIF file.
 *   RGB is coded as YCbCr sampled 2x2,1x1,1x1 in one interleaved scan,
 *   greyscale as one component; the quantization tables are the example
 *   tables of ITU-T T.81 Annex K scaled by a quality factor (75 by default)
 *   and the Huffman tables are the four Annex K tables.
 *
 * Memory use does not grow with the image height, the library starts no
 * threads, and every outcome is one of the small integer codes below.
 *
 * ---------------------------------------------------------------------------
 * Example: read a file line by line
 *
 *   IFFImageInfo info;
 *   int32_t h = IFFOpen("photo.jpg", IFF_MODE_READ, &info);
 *   if (h < 0) { printf("open failed: %d\n", -h); return; }
 *   uint8_t *line = malloc((size_t)info.width * info.planes);
 *   for (int32_t y = 0; y < info.height; y++) {
 *     int32_t rc = IFFGetLine(h, 1, line);   // rc 10: data ended early,
 *     if (rc != 0 && rc != IFF_ERR_DATA_ENDED) break;  // line still delivered
 *     consume(line, info.width, info.planes);
 *   }
 *   free(line);
 *   IFFClose(h);
 *
 * Example: write a file
 *
 *   IFFImageInfo info = {0};
 *   info.width = w; info.height = h; info.planes = 3; info.bitsPerSample = 8;
 *   int32_t f = IFFOpen("out.jpg", IFF_MODE_WRITE, &info);
 *   IFFControl(f, IFF_CTL_QUALITY, 90, 0, NULL);         // before any line
 *   for (int32_t y = 0; y < h; y++) IFFPutLine(f, 1, rgb + (size_t)y * w * 3);
 *   int32_t rc = IFFClose(f);                            // 0, 9 or 11
 * ---------------------------------------------------------------------------
 *
 * Calling order
 *   Reading: IFFOpen (mode 0 or 3), then any sequence of IFFGetLine,
 *   IFFSeek (mode 0 only) and IFFControl, then IFFClose.
 *   Writing: IFFOpen (mode 1), optionally IFFControl (resolution, quality,
 *   the writing options below), then IFFPutLine calls, then IFFClose. The first IFFPutLine writes the
 *   headers, so settings must be made before it.
 *
 * Threads
 *   A handle must be used by one thread at a time. Different handles are
 *   independent and may be used from different threads at the same time.
 *
 * Handles
 *   IFFOpen returns a positive handle value, or a negated error code. Any
 *   value that is not a live handle (never issued, closed, zero, negative)
 *   gives IFF_ERR_INVALID at every entry point, without touching memory.
 */
#ifndef IFFJPEG_H
#define IFFJPEG_H

#include <stdint.h>

/* The entry points and the file callbacks use the C calling convention
 * (cdecl), spelled out so that a 32-bit Windows host compiled with another
 * default (/Gz, /Gr) still calls them correctly. */
#if defined(_WIN32)
#define IFFJPEG_CALL __cdecl
#else
#define IFFJPEG_CALL
#endif

#if defined(_WIN32)
#if defined(IFFJPEG_BUILDING)
#define IFFJPEG_API __declspec(dllexport)
#else
#define IFFJPEG_API
#endif
#else
#if defined(IFFJPEG_BUILDING)
#define IFFJPEG_API __attribute__((visibility("default")))
#else
#define IFFJPEG_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes. IFFOpen returns them negated. ------------------------ */
#define IFF_OK 0                  /* success */
#define IFF_ERR_INVALID 2         /* invalid handle or parameter */
#define IFF_ERR_UNSUPPORTED 3     /* unsupported request (mode 2, unknown control code, ...) */
#define IFF_ERR_VARIANT 4         /* unsupported variant (arithmetic coding, unknown density unit) */
#define IFF_ERR_MEMORY 5          /* out of memory */
#define IFF_ERR_BAD_DATA 7        /* malformed or unsupported JPEG data */
#define IFF_ERR_OPEN 8            /* the open callback failed */
#define IFF_ERR_CLOSE 9           /* the close callback failed */
#define IFF_ERR_DATA_ENDED 10     /* compressed data ended early or lost its restart sequence */
#define IFF_ERR_WRITE 11          /* the write callback wrote fewer bytes than asked */

/* ---- Open modes (IFFOpen's mode argument). ------------------------------ */
#define IFF_MODE_READ 0           /* read a JPEG file */
#define IFF_MODE_WRITE 1          /* create or truncate, then write a JPEG file */
#define IFF_MODE_REFUSED 2        /* validated as for writing, then refused with 3 */
#define IFF_MODE_READ_NOSEEK 3    /* read; IFFSeek refuses the handle, code 7 sets */
#define IFF_MODE_CALLBACKS 0x80   /* OR-ed in: source points to an IFFFileOps */
#define IFF_MODE_EXTENDED 0x100   /* OR-ed into modes 0 and 3: extended reading (below) */

/* Extended reading: colour models.
 *   The colour model is fixed at the first scan header, from the segments
 *   before it. An Adobe APP14 segment decides when present (the first one;
 *   later ones are ignored): with 3 components transform 0 is RGB (the
 *   samples are the lines) and 1 is YCbCr; with 4 components transform 0 is
 *   CMYK and 2 is YCCK. A transform that does not fit the component count
 *   counts as no segment. Without one, a JFIF segment means YCbCr (3
 *   components); 3 components with identifiers 'R', 'G', 'B' are RGB; other
 *   3-component files are read as without the flag (identifiers 1, 4, 5 are
 *   refused with 7, the rest is YCbCr); 4 components are CMYK. 1 component
 *   is greyscale.
 *   Every model but greyscale gives RGB lines (planes = 3). CMYK and YCCK
 *   files are decoded in the sampling layouts and scan arrangements accepted
 *   for 3 components (at most 10 blocks in an MCU). CMYK samples are taken
 *   as stored, inverted inks (white paper is 255 in every component):
 *   R = (C x K + 127) / 255, G = (M x K + 127) / 255, B = (Y x K + 127) / 255
 *   with integer division. YCCK: (R', G', B') is the YCbCr-to-RGB conversion
 *   of (Y, Cb, Cr) that 3-component YCbCr files get; then C = 255 - R',
 *   M = 255 - G', Y = 255 - B', converted as CMYK with the stored K.
 *   Without the flag the Adobe segment is ignored and 4-component files are
 *   refused with 7. */

/* ---- IFFControl codes. Bit 15 of the code is ignored. ------------------- */
#define IFF_CTL_LAST_ERROR 0      /* int32_t slot <- last recorded result code */
#define IFF_CTL_LINE_BYTES 1      /* uint16_t slot <- bytes per line (low 16 bits) */
#define IFF_CTL_OPTION 3          /* stores value (low 16 bits); no other effect */
#define IFF_CTL_RESOLUTION 7      /* dots per inch: query when reading, set when writing */
#define IFF_CTL_QUALITY 0x5701    /* writing: quality 1..100 (low 16 bits, signed) */
#define IFF_CTL_WHOLE_IMAGE_LIMITS 0x5713 /* int32_t[2] -> {MiB in memory, MiB of backing store} */
#define IFF_CTL_METADATA 0x5711    /* metadata: read an item, or write a segment (below) */
#define IFF_CTL_SUBSAMPLING 0x5720 /* writing: chroma sampling (below) */
#define IFF_CTL_OPTIMIZE 0x5721    /* writing: 1 Huffman tables built for the image, 0 Annex K */
#define IFF_CTL_PROGRESSIVE 0x5722 /* writing: 1 a progressive file (SOF2), 0 sequential */
#define IFF_CTL_RESTART 0x5723     /* writing: restart interval in MCUs, 0..65535 (0 none) */

/* Writing options. Each is set on a handle opened with IFF_MODE_WRITE
 * before its first IFFPutLine; afterwards (and on read handles) the call
 * gives 2 and nothing changes. A file written without them is exactly the
 * default file.
 *  IFF_CTL_SUBSAMPLING: value 0x420 (the default: luminance 2x2, chroma
 *    1x1), 0x422 (2x1), 0x440 (1x2), 0x444 (1x1, full-resolution chroma),
 *    0x411 (4x1); any other value gives 2. Greyscale images accept it and
 *    stay one component.
 *  IFF_CTL_RESTART: value = the restart interval in MCUs (low 16 bits): a
 *    DRI segment before the scan and an RSTn marker after every `value`
 *    MCUs (T.81 B.2.4.4, F.1.2.3). 0, the default, writes neither. The
 *    MCU is 16x16 pixels at 0x420, 8x8 for greyscale.
 *  IFF_CTL_OPTIMIZE: value 1: the Huffman tables are built for the image
 *    from its symbol counts (T.81 K.2, code lengths limited to 16 bits)
 *    instead of the Annex K tables; 0, the default, the Annex K tables.
 *    The quantized coefficients, and so the decoded pixels, are those of
 *    the default file. Every coefficient is kept until IFFClose, in memory
 *    and a temporary backing store within IFF_CTL_WHOLE_IMAGE_LIMITS (which
 *    write handles accept before their first line; defaults 64 MiB and
 *    4096 MiB); the tables and the entropy-coded data are written at
 *    IFFClose. An image needing more than both gives 5 at the first
 *    IFFPutLine.
 *  IFF_CTL_PROGRESSIVE: value 1: a progressive file (SOF2, T.81 Annex G)
 *    of the same quantized coefficients, and so the same decoded pixels,
 *    as the sequential file of the same settings; 0, the default,
 *    sequential. Every Huffman-coded scan gets tables built for it (T.81
 *    K.2), so IFF_CTL_OPTIMIZE adds nothing to it. The coefficients are
 *    kept as for IFF_CTL_OPTIMIZE and the scans are written at IFFClose in
 *    this fixed script (Ss..Se the spectral selection, Al the point
 *    transform; a refinement sends one more bit of coefficients already
 *    sent):
 *      colour, ten scans: DC of Y, Cb, Cr interleaved, Al 1; Y 1..5, Al 2;
 *        Cr 1..63, Al 1; Cb 1..63, Al 1; Y 6..63, Al 2; Y 1..63 refined to
 *        Al 1; DC of Y, Cb, Cr refined to Al 0; Cr 1..63, Cb 1..63, then
 *        Y 1..63, each refined to Al 0;
 *      greyscale, six scans: DC, Al 1; 1..5, Al 2; 6..63, Al 2; 1..63
 *        refined to Al 1; DC refined to Al 0; 1..63 refined to Al 0.
 *    With IFF_CTL_RESTART the interval counts each scan's own MCUs: the
 *    frame's MCU in the interleaved DC scans, one block in the others
 *    (T.81 A.2.2). Any value other than 0 or 1 gives 2.
 *  IFF_CTL_METADATA: value 1 ICC profile, 2 EXIF (the TIFF structure,
 *    without the "Exif\0\0" prefix), 3 XMP (the packet, without its
 *    namespace identifier), 4 comment; `unused` = the length in bytes,
 *    pointer = the bytes, copied at the call; length 0 removes the item.
 *    Written after the JFIF segment in the order EXIF (APP1), ICC profile
 *    (APP2 chunks of at most 65519 bytes, numbered from 1), XMP (APP1),
 *    comment (COM). Gives 2 for another value, a negative length, a null
 *    pointer with a length, or a length above what the segment holds:
 *    65527 bytes for EXIF, 65504 for XMP, 65533 for a comment, 255 chunks
 *    (16,707,345 bytes) for an ICC profile; 5 when the copy cannot be
 *    had; 3 on a read handle. */

/* Extended reading (IFF_MODE_EXTENDED with read mode 0 or 3; with the write
 * modes IFFOpen gives -3). Without the flag nothing below applies and every
 * file, code and line is as the default reading gives it. With it:
 *  - every file the default reading decodes gives the same lines, codes and
 *    IFFImageInfo, except where the colour model or lenient reading below
 *    differ;
 *  - progressive Huffman frames (SOF2) of 8-bit precision are read: DC and
 *    AC first and refinement scans, restart intervals, tables between the
 *    scans, 1, 3 or 4 components in every sampling layout. Refused at open
 *    with -7: another precision, or a first scan header outside ITU-T T.81
 *    G.1.1.1.1 (Ss, Se, Ah, Al out of range; DC and AC in one scan; an AC
 *    scan of several components; a refinement of what was never coded).
 *    Lossless, hierarchical and arithmetic-coded frames stay refused (-4 for
 *    SOF9, -7 for the others);
 *  - progressive frames and multi-scan sequential frames are decoded whole
 *    into quantized coefficients, at the first IFFGetLine or IFFSeek (not at
 *    open); a backward IFFSeek serves the lines again from them. Their
 *    coefficients may keep 64 MiB in memory and 4 GiB in a temporary backing
 *    store by default; a frame needing more than both gives 5 at the first
 *    line. A scan whose data run out, whose restart sequence is lost or
 *    whose header is damaged ends the decoding there: the image is completed
 *    from what was decoded and the first line of the first MCU row not
 *    reached gives 10, once. At most 1,000 scans are decoded; a file with
 *    more gives 10 on line 0 and the image of the first 1,000;
 *  - colour model: an Adobe APP14 segment decides (3 components: transform 0
 *    RGB, 1 YCbCr; 4 components: 0 CMYK, 2 YCCK); without one a JFIF segment
 *    means YCbCr, identifiers 'R','G','B' mean RGB, 4 components CMYK. Every
 *    model but greyscale gives RGB lines;
 *  - lenient reading of odd and damaged files: a Huffman table slot a scan
 *    uses that no DHT segment defined (Motion-JPEG frames) gets the ITU-T
 *    T.81 Annex K table of its class, slot 0 luminance, 1 to 3 chrominance
 *    (the default reading gives -2 at open); a scan whose selectors do not
 *    all name frame components, but which has as many components as the
 *    frame, is matched by position, and later scans by the same selectors
 *    (a selector named twice stays -7); where restart markers were lost
 *    (data left before the next RSTn, or an interval running into a later
 *    RSTn), the marker's number is taken as the truth: the intervals between
 *    (at most seven) are passed over, and each such event gives 10 once, on
 *    the line where it shows. In a progressive scan the blocks passed over
 *    stay unrefined. In a sequential scan they are concealed: each block of
 *    the lost MCUs is made flat, with the DC term of the block above its MCU
 *    row (in a scan's first MCU row, the last DC value of an intact
 *    interval). The MCUs of the interval before such a marker are concealed
 *    as well, since they were decoded from the damaged data, unless that
 *    interval ended on its padding bits and the data after it decode as a
 *    whole interval; so are a cut interval's MCUs. (Of an interval that
 *    began in an earlier MCU row, only the MCUs of the current row can still
 *    be concealed.) Damage that leaves the next RSTn in sequence is decoded
 *    as the default reading decodes it. Markers that were only removed (the
 *    intervals after the last one present are whole, each ending on its
 *    padding bits, up to the next RSTn, numbered one on for each) are
 *    recognised and those intervals decode in step, still giving 10 once.
 *    A wrongly numbered marker behind an intact interval is taken as the
 *    default reading takes it.
 * IFF_CTL_WHOLE_IMAGE_LIMITS: pointer to int32_t[2] = {MiB the coefficients
 * may keep in memory, MiB of backing store}, each 1..1048576, on a handle
 * opened for extended reading, before its first IFFGetLine or IFFSeek, or
 * on a write handle before its first IFFPutLine (for IFF_CTL_OPTIMIZE and
 * IFF_CTL_PROGRESSIVE).
 * Returns 0, or 2 for a null pointer, a value out of range, a read handle
 * not in extended mode, or a call after the first line. */

/* ---- Reading extras: the description of the file and its metadata. ------
 * Both work on every read handle (modes 0 and 3, with or without
 * IFF_MODE_EXTENDED); IFF_CTL_JPEG_INFO gives 2 on handles opened for
 * writing, where IFF_CTL_METADATA sets a segment to write (see above). They
 * report what the segments before the first scan header say; later segments are
 * not looked at. After a backward IFFSeek whose second set-up failed, both
 * give the code of that failure.
 *
 * IFF_CTL_JPEG_INFO: pointer to an IFFJpegInfo whose member size the caller
 * sets to sizeof(IFFJpegInfo). The driver fills at most size bytes of it and
 * stores in size the number of bytes it filled (the smaller of the two
 * sizes), so that the record may grow in later versions. Returns 0, or 2 for
 * a null pointer or a size below 8.
 *
 * IFF_CTL_METADATA: value chooses the item (IFF_META_*), unused is the
 * capacity in bytes of the buffer at pointer. Returns 0 when the whole item
 * was copied, 2 when the buffer is too small or null (nothing is copied),
 * and 0 with nothing copied when the file has no such item; its size is in
 * IFFJpegInfo. 2 for another value. Items:
 *   ICC: the payloads of the APP2 "ICC_PROFILE" chunks joined in the order
 *     of their sequence numbers; absent when a chunk is missing or repeated,
 *     or when the chunks disagree on their count.
 *   EXIF: the first APP1 "Exif\0\0" segment's payload after those six bytes.
 *   XMP: the first APP1 "http://ns.adobe.com/xap/1.0/\0" segment's payload
 *     after the identifier.
 *   Comment: the payloads of every COM segment, joined in file order.
 * An item above 16 MiB is treated as absent. The bytes are kept by the
 * handle until it is closed. */
#define IFF_CTL_SCALE 0x5712
#define IFF_CTL_JPEG_INFO 0x5714

#define IFF_META_ICC 1
#define IFF_META_EXIF 2
#define IFF_META_XMP 3
#define IFF_META_COMMENT 4

/* IFF_CTL_SCALE: value 1, 2, 4 or 8 is the denominator d of a reduced
 * size, set on a read handle before its first IFFGetLine or IFFSeek (else,
 * and for another value, 2). pointer (may be null) receives int32_t[2]: the
 * scaled width and height, ceil(width / d) and ceil(height / d). Lines then
 * have the scaled size (IFF_CTL_LINE_BYTES reports it) and IFFSeek counts
 * scaled lines. Scale 1 is the full-size decoding. Otherwise each block
 * gives 8 / d samples a side through a reduced inverse DCT (at 1/8 the
 * value a block holding only its DC term decodes to; where a block gives 4
 * samples a side and holds terms of the upper half of frequencies along it,
 * they are folded in so that each sample is the mean of the two the full
 * decoding gives there, but for rounding and clamping); a subsampled
 * component's blocks give proportionally more samples (up to 8 a side) and
 * are replicated for the rest of their ratio. Multi-scan files read
 * without IFF_MODE_EXTENDED are decoded at full size and averaged over
 * d x d samples instead. */

/* IFFJpegInfo, all members int32_t:
 *   frameMarker: 0xC0 baseline, 0xC1 extended sequential, 0xC2 progressive.
 *   precision, components: from the frame header.
 *   colourModel: as the handle interprets the file: 1 greyscale, 2 RGB,
 *     3 YCbCr, 5 CMYK, 6 YCCK.
 *   adobeTransform: the transform byte of the first Adobe APP14 segment,
 *     in either reading mode; -1 without one.
 *   componentIds, hSampling, vSampling: of the first four frame components
 *     (0 beyond the component count).
 *   restartInterval: the one in force at the first scan (0: none).
 *   jfifVersion: 0x0102 for JFIF 1.02; 0 without a JFIF segment.
 *   densityUnit, xDensity, yDensity: as the JFIF segment stores them; 0
 *     without one.
 *   orientation: the EXIF orientation (tag 0x0112 of IFD0), 1..8; 0 when
 *     there is none or it cannot be read.
 *   iccBytes, exifBytes, xmpBytes, commentBytes: the sizes of the
 *     IFF_CTL_METADATA items, 0 when absent. */
typedef struct IFFJpegInfo {
  int32_t size;
  int32_t frameMarker;
  int32_t precision;
  int32_t components;
  int32_t colourModel;
  int32_t adobeTransform;
  int32_t componentIds[4];
  int32_t hSampling[4];
  int32_t vSampling[4];
  int32_t restartInterval;
  int32_t jfifVersion;
  int32_t densityUnit;
  int32_t xDensity;
  int32_t yDensity;
  int32_t orientation;
  int32_t iccBytes;
  int32_t exifBytes;
  int32_t xmpBytes;
  int32_t commentBytes;
} IFFJpegInfo;

/* Flags for IFF_CTL_RESOLUTION's value: which slots are read or written. */
#define IFF_RES_HORIZONTAL 1
#define IFF_RES_VERTICAL 2

/* Open flags that the driver passes to the open callback. */
#define IFF_OPEN_FLAGS_READ 0x8000  /* raw, read only */
#define IFF_OPEN_FLAGS_WRITE 0x8302 /* raw, truncate, create, read and write */
#define IFF_OPEN_PERMISSION 438     /* octal 666 */

/* The image description exchanged at open.
 * Writing: width, height (1..65535), planes (1 grey, 3 RGB), bitsPerSample
 *   (8) and compression (0, 1 or 8) are read.
 * Reading: width, height, planes (1 for greyscale files, else 3),
 *   bitsPerSample (8) and compression (1) are written.
 * clearedOnOpen is set to 0 by every IFFOpen that gets as far as allocating
 * its handle; reserved is never used. */
typedef struct IFFImageInfo {
  int32_t reserved;
  int32_t width;
  int32_t height;
  int32_t planes;
  int32_t bitsPerSample;
  uint32_t compression;
  int32_t clearedOnOpen;
} IFFImageInfo;

/* File callbacks a host may supply (mode bit IFF_MODE_CALLBACKS).
 *  open:  source is the pointer given to IFFOpen (the address of this very
 *         record, so a host can keep its own data after the five pointers);
 *         flags is IFF_OPEN_FLAGS_READ or IFF_OPEN_FLAGS_WRITE; returns a
 *         file id, negative on failure.
 *  close: returns 0 on success, non-zero on failure.
 *  read:  returns the number of bytes read; 0 or negative means end of file
 *         or failure.
 *  write: returns the number of bytes written; fewer than asked is a failure.
 *  seek:  origin 0 = from the start; returns the new position, negative on
 *         failure. Used only to rewind for a backward IFFSeek. */
typedef struct IFFFileOps {
  int32_t (IFFJPEG_CALL *open)(const void *source, int32_t flags, int32_t permission);
  int32_t (IFFJPEG_CALL *close)(int32_t fileId);
  int32_t (IFFJPEG_CALL *read)(int32_t fileId, void *buffer, int32_t count);
  int32_t (IFFJPEG_CALL *write)(int32_t fileId, const void *buffer, int32_t count);
  int32_t (IFFJPEG_CALL *seek)(int32_t fileId, int32_t offset, int32_t origin);
} IFFFileOps;

/* Opens a file. source: a file name (narrow string) with the default
 * callbacks, or a pointer to an IFFFileOps with IFF_MODE_CALLBACKS.
 * mode: IFF_MODE_* (bit 15 and above are ignored). info: the description.
 * Returns a positive handle, or a negated code: -2 null source or info,
 * mode above 3, bad compression code or size when writing; -3 mode 2, planes
 * other than 1 or 3, bitsPerSample other than 8; -4 arithmetic-coded file;
 * -5 out of memory; -7 malformed or unsupported JPEG data; -8 open failed. */
IFFJPEG_API int32_t IFFJPEG_CALL IFFOpen(const void *source, int32_t mode, IFFImageInfo *info);

/* Closes a handle and releases everything it holds, whatever its state.
 * For a written file it completes the data, writes EOI and flushes.
 * Returns 9 if the close callback failed, otherwise the last recorded code
 * (11 when bytes were lost in writing); 2 for an invalid handle. */
IFFJPEG_API int32_t IFFJPEG_CALL IFFClose(int32_t handle);

/* Reads count lines into lines (count x line-bytes bytes, see
 * IFF_CTL_LINE_BYTES). Returns 0, or the first line's non-zero code: 10 when
 * the data ended early or a restart marker was lost (that line is still
 * delivered, later lines decode from zero bits); 2 for an invalid handle, a
 * handle opened for writing, or a null buffer with count > 0. Reading past
 * the last line hands over the last band of lines again.
 * The buffer must hold all count lines: from 1 MiB on, the driver first
 * asks the system (Linux) to put the buffer's missing pages in place, which
 * spares a freshly allocated image buffer a page fault every few thousand
 * bytes and changes none of its bytes. */
IFFJPEG_API int32_t IFFJPEG_CALL IFFGetLine(int32_t handle, uint32_t count, uint8_t *lines);

/* Writes count lines from lines. The first call (count may be 0) writes the
 * headers. Lines beyond the image height are ignored. Returns 0, 11 when a
 * write failed (the handle then refuses further lines with 11), or 2 for an
 * invalid handle, a handle opened for reading, or a null buffer. */
IFFJPEG_API int32_t IFFJPEG_CALL IFFPutLine(int32_t handle, uint32_t count, const uint8_t *lines);

/* Positions a read handle (mode 0) so that the next line read is target.
 * Forward seeks decode and discard lines; backward seeks rewind the file
 * through the seek callback and decode again from the top. Returns 0, 2 for
 * an invalid handle, a handle not opened with mode 0 or a negative target,
 * 3 when the seek callback fails, or a decoding code as IFFGetLine. */
IFFJPEG_API int32_t IFFJPEG_CALL IFFSeek(int32_t handle, int32_t target);

/* Queries or sets a property (IFF_CTL_*). value: only its low 16 bits are
 * used. unused: ignored, except by IFF_CTL_METADATA (the buffer's capacity
 * when reading, the item's length when writing). pointer: the caller's
 * slots. Returns 0, 2 for an invalid handle or a null pointer, 3 for an
 * unknown code, 4 for a density unit other than 0, 1 or 2, 5 when out of
 * memory. Never changes the recorded last error. */
IFFJPEG_API int32_t IFFJPEG_CALL IFFControl(int32_t handle, int32_t code, int32_t value,
                                            int32_t unused, void *pointer);

#ifdef __cplusplus
}
#endif

#endif /* IFFJPEG_H */
