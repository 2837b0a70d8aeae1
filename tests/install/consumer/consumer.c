/* A C program using the installed library: encodes "abc" and compares the
   document with the known bytes, decodes it back (whole and streaming), and
   expects a clean error code from a damaged document. Exit status 0 on
   success. Built by run.sh against the installed header and pkg-config file,
   and (as C++) through find_package. */
#include <dls2mml/dls2mml.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char known[] =
    "//========== .DLS_DATA ==========\n"
    "CuePoint={\"QelDlsData((3 26)\n"
    "dGJyMAEAAAADAAAAAAAAAAAI2yQ2C579eAA=)\"}\n";

static int failures = 0;

static void check(int ok, const char* what)
{
    if (!ok) {
        fprintf(stderr, "consumer: %s\n", what);
        ++failures;
    }
}

struct collected {
    char bytes[16];
    size_t size;
};

static int collect(void* context, const void* bytes, size_t size)
{
    struct collected* out = (struct collected*)context;
    if (size > sizeof out->bytes - out->size)
        return 1;
    memcpy(out->bytes + out->size, bytes, size);
    out->size += size;
    return 0;
}

int main(void)
{
    size_t capacity = dls2mml_document_bound(3);
    char* document = (char*)malloc(capacity);
    size_t size = 0;
    char bank[8];
    size_t bank_size = 0;
    char damaged[sizeof known];
    dls2mml_decoder* decoder = NULL;
    struct collected out = {{0}, 0};
    uint64_t line = 0, column = 0;
    int code;

    check(document != NULL, "no memory");
    if (!document)
        return 1;
    code = dls2mml_encode("abc", 3, document, capacity, &size);
    check(code == DLS2MML_OK, dls2mml_strerror(code));
    check(size == sizeof known - 1 && memcmp(document, known, size) == 0, "abc gives another document");

    code = dls2mml_decode(document, size, bank, sizeof bank, &bank_size);
    check(code == DLS2MML_OK && bank_size == 3 && memcmp(bank, "abc", 3) == 0, "the document does not decode to abc");

    check(dls2mml_decoder_create(collect, &out, &decoder) == DLS2MML_OK, "no decoder");
    check(dls2mml_decoder_feed(decoder, document, 50) == DLS2MML_OK &&
              dls2mml_decoder_feed(decoder, document + 50, size - 50) == DLS2MML_OK &&
              dls2mml_decoder_finish(decoder) == DLS2MML_OK && out.size == 3 && memcmp(out.bytes, "abc", 3) == 0,
          "the streaming decoder does not give abc");
    dls2mml_decoder_free(decoder);

    /* One Base64 character of the stream changed. */
    memcpy(damaged, known, sizeof known);
    damaged[sizeof known - 10] = 'Z';
    code = dls2mml_decode(damaged, sizeof known - 1, bank, sizeof bank, &bank_size);
    check(code < 0 && strcmp(dls2mml_strerror(code), "unknown result code") != 0, "a damaged document decodes");
    check(dls2mml_decoder_create(collect, &out, &decoder) == DLS2MML_OK, "no decoder");
    out.size = 0;
    check(dls2mml_decoder_feed(decoder, damaged, sizeof known - 1) == code &&
              dls2mml_decoder_fault(decoder, &line, &column) == code && line == 3,
          "the streaming decoder does not place the fault");
    dls2mml_decoder_free(decoder);
    printf("dls2mml %s: abc encoded and decoded; damaged document: %s (line %lu, column %lu)\n", dls2mml_version(),
           dls2mml_strerror(code), (unsigned long)line, (unsigned long)column);
    free(document);
    return failures ? 1 : 0;
}
