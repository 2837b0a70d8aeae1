/*
 * dls2mml: cue-point documents, written and read, from C and C++.
 *
 * A cue-point document is a short MML source fragment that carries one DLS
 * instrument bank as Base64 text of the tbr0 block-sorting compressed stream:
 *
 *     //========== .DLS_DATA ==========\n
 *     CuePoint={"QelDlsData((<bank bytes> <stream bytes>)\n
 *     <Base64 lines of the stream, ending in '='>)"}\n
 *
 * Every byte of a document is fixed by the bank and by the pivot state (see
 * dls2mml_encode), so this library writes exactly what the dls2mml program
 * writes, and reads back only what it can have written.
 *
 * Conventions:
 *  - Every function that can fail returns 0 on success or one of the negative
 *    DLS2MML_E_* codes below. The codes are stable: their values never change
 *    and new ones are only ever added.
 *  - No function aborts, throws or writes past the capacity it is given.
 *  - Output pointers for sizes may be NULL when the caller does not want them.
 *  - Decoding keeps no global state and may run on any number of threads at
 *    once; encoding is serialised by a lock inside the library (see
 *    dls2mml_encode).
 *  - Strings are 8-bit. Documents are bytes (ASCII when sound) and are never
 *    read as names. Every string the library returns (result words,
 *    decoder messages, the version) is ASCII, so it reads the same as UTF-8
 *    and in every ANSI code page; on Windows, treat it as UTF-8 (recommended,
 *    and what the dls2mml programs do with all their text). The library
 *    opens no files and takes no file names, so no string it is given is
 *    read in the ANSI code page.
 *
 * Link with `pkg-config --libs dls2mml`, or in CMake with
 * find_package(dls2mml) and the target dls2mml::dls2mml.
 */
#ifndef DLS2MML_DLS2MML_H
#define DLS2MML_DLS2MML_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && defined(DLS2MML_SHARED)
#  if defined(DLS2MML_BUILDING)
#    define DLS2MML_API __declspec(dllexport)
#  else
#    define DLS2MML_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__) && !defined(_WIN32)
#  define DLS2MML_API __attribute__((visibility("default")))
#else
#  define DLS2MML_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
#define DLS2MML_OK 0
/* A required pointer is NULL, or a decoder is used after it has finished. */
#define DLS2MML_E_ARGUMENT (-1)
/* The output buffer is too small. The size output, when given, then holds the
   size needed. */
#define DLS2MML_E_CAPACITY (-2)
/* The bank is 4 GiB or more, or its document would pass 2 GiB - 1 bytes: the
   format's 32-bit fields cannot describe it. */
#define DLS2MML_E_TOO_LARGE (-3)
#define DLS2MML_E_NO_MEMORY (-4)
/* The text is not a cue-point document: damaged head, sizes line, Base64
   lines or footer, or bytes after the footer. */
#define DLS2MML_E_DOCUMENT (-5)
/* The document's text is sound but the compressed stream it carries is
   damaged (or disagrees with the sizes line). */
#define DLS2MML_E_STREAM (-6)
/* The document ends before its footer. */
#define DLS2MML_E_TRUNCATED (-7)
/* The streaming decoder's output callback asked to stop. */
#define DLS2MML_E_STOPPED (-8)
/* The compressor failed inside (should not happen). */
#define DLS2MML_E_INTERNAL (-9)
/* The list of instruments is empty or malformed, has a range that runs
   backwards, or names an instrument the bank does not hold. */
#define DLS2MML_E_SELECTION (-10)
/* The bank is not a sound DLS bank (its RIFF chunks do not add up, or a
   chosen instrument links a region to no wave of the pool). */
#define DLS2MML_E_BANK (-11)

/* The words for a result code ("ok", "output buffer too small", ...); never
   NULL, also for codes this version does not know. */
DLS2MML_API const char* dls2mml_strerror(int code);

/* The library's version, for example "1.0.0". */
DLS2MML_API const char* dls2mml_version(void);

/* The largest document a bank of bank_size bytes can give: a capacity that is
   always enough for dls2mml_encode. At most 2147483647; 0 when no document
   can carry a bank of that size (4 GiB or more). */
DLS2MML_API size_t dls2mml_document_bound(size_t bank_size);

/* Writes the cue-point document of one bank to document (capacity bytes; no
   terminating NUL is written) and its length to *document_size.
   bank may be NULL when bank_size is 0.

   The block sort draws its pivots from one pseudo-random state per process
   that starts fresh with the process and carries on from call to call, just
   as when one run of the dls2mml program converts several banks: the
   documents of banks encoded one after another by this function are those of
   `dls2mml` given the same banks in the same order. Only a block that repeats
   a short pattern is affected, in its primary index. Every call draws, also
   one that fails with DLS2MML_E_CAPACITY, so size the buffer with
   dls2mml_document_bound and encode once. Calls from several threads are
   serialised, in the order the lock is taken.

   On DLS2MML_E_CAPACITY *document_size holds the document's length and the
   buffer's contents are unspecified. */
DLS2MML_API int dls2mml_encode(const void* bank, size_t bank_size, char* document, size_t capacity,
                               size_t* document_size);

/* Reads the head and the sizes line of a document (only those: the rest is
   not examined) and gives the two numbers it states: the bank's length and
   the compressed stream's length (its 12-byte header included). */
DLS2MML_API int dls2mml_document_sizes(const char* document, size_t document_size, uint32_t* bank_size,
                                       uint32_t* stream_size);

/* Decodes a whole document into bank (capacity bytes) and writes the bank's
   length to *bank_size. The decoder is strict: anything the encoder cannot
   have written is refused, and so is any byte after the footer.
   The capacity is checked against the sizes line before decoding starts: a
   capacity below the length stated there gives DLS2MML_E_CAPACITY with that
   length in *bank_size. bank may be NULL when capacity is 0. On failure the
   buffer's contents are unspecified. */
DLS2MML_API int dls2mml_decode(const char* document, size_t document_size, void* bank, size_t capacity,
                               size_t* bank_size);

/* Cuts a DLS bank down to some of its instruments: selected receives a bank
   that holds only the instruments of list and the waves they use, and
   *selected_size its length. list is a NUL-terminated list of items
   separated by commas:
     "N"       instrument N, counted from 1 in the order of the bank's lins
               list (as `dls2mml -l` numbers them)
     "N-M"     instruments N to M
     "pP"      melodic program P (0 to 127) of bank 0/0; "pP:M" of bank M/0,
               "pP:M/L" of bank M/L
     "dP"      the same for a drum kit ("d0": drum kit 0 of bank 0/0)
   for example "1-3,p24,d0". Every chunk of the bank stays as it is but for
   the instrument list, the wave pool and its ptbl cue table (the kept waves
   in their original order, with their new offsets), each region's wlnk index,
   colh's count and the RIFF sizes; the collection's own dlid is left out,
   since the smaller bank is another collection. A list of every instrument
   gives the bank unchanged.
   The result is never longer than the bank: a capacity of bank_size is
   always enough. selected must not overlap bank. On DLS2MML_E_CAPACITY
   *selected_size holds the length needed. Fails with DLS2MML_E_SELECTION or
   DLS2MML_E_BANK as above, and writes nothing to selected then. */
DLS2MML_API int dls2mml_select_instruments(const void* bank, size_t bank_size, const char* list, void* selected,
                                           size_t capacity, size_t* selected_size);

/* The streaming decoder, for callers that do not hold the whole document:
   create it with a callback for the bank's bytes, feed the text in pieces of
   any size (the verdict does not depend on how it is cut), then finish.
   After a fault every further feed or finish returns the same code, and
   dls2mml_decoder_fault tells where it stands. */
typedef struct dls2mml_decoder dls2mml_decoder;

/* Receives the decoded bank a block at a time, in order (at most 524,288
   bytes a call). Returns 0 to go on, anything else to stop decoding with
   DLS2MML_E_STOPPED. It must not throw or unwind through the library. */
typedef int (*dls2mml_output_fn)(void* context, const void* bytes, size_t size);

/* Makes a decoder; *decoder is set to NULL on failure. */
DLS2MML_API int dls2mml_decoder_create(dls2mml_output_fn output, void* context, dls2mml_decoder** decoder);

/* Reads the next piece of the document; size 0 is allowed (text may then be
   NULL). */
DLS2MML_API int dls2mml_decoder_feed(dls2mml_decoder* decoder, const char* text, size_t size);

/* The document has ended: succeeds only if it ended right after its footer.
   A decoder that has finished (with success) takes no more text:
   dls2mml_decoder_feed and dls2mml_decoder_finish then return
   DLS2MML_E_ARGUMENT. */
DLS2MML_API int dls2mml_decoder_finish(dls2mml_decoder* decoder);

/* The decoder's fault: its code (0 if none), and where it stands in the
   document, line and column counted from 1 (a column counts bytes). line and
   column may be NULL; both are 0 when there is no fault. */
DLS2MML_API int dls2mml_decoder_fault(const dls2mml_decoder* decoder, uint64_t* line, uint64_t* column);

/* The fault in words, in English ("" if none), for example "sizes line: a
   number has a leading zero". Valid until the decoder is fed again or freed. */
DLS2MML_API const char* dls2mml_decoder_message(const dls2mml_decoder* decoder);

/* The two numbers of the sizes line, once the decoder has read it; otherwise
   DLS2MML_E_TRUNCATED (or the decoder's fault). */
DLS2MML_API int dls2mml_decoder_sizes(const dls2mml_decoder* decoder, uint32_t* bank_size, uint32_t* stream_size);

/* Frees a decoder; NULL is allowed. */
DLS2MML_API void dls2mml_decoder_free(dls2mml_decoder* decoder);

#ifdef __cplusplus
}
#endif

#endif
