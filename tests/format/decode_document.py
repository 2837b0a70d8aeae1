#!/usr/bin/env python3
"""A second, independent reader of the cue-point document, written from
docs/format.md alone: document -> Base64 text -> tbr0 stream -> bank.

It is strict: whatever docs/format.md section 8 says a decoder must reject
raises FormatError. Section numbers in the comments are those of that file.

    decode_document.py DOCUMENT [-o BANK]   # writes the bank (or checks only)
"""
import bisect
import re
import sys

HEAD = b'//========== .DLS_DATA ==========\nCuePoint={"QelDlsData('
FOOTER = b')"}\n'
ALPHABET = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
VALUE = {c: i for i, c in enumerate(ALPHABET)}

SLICE = 524288
MAX_RANKS = 655360
MAX_SYMBOLS = 1310720
MAX_PAYLOAD = 5242888
MAX_NUMBER = 4294967295
MAX_RUN_COUNT = 32895

CLASS_BASE = [0, 1, 2, 3, 5, 9, 17, 33, 65, 129]
CLASS_SIZE = [1, 1, 1, 2, 4, 8, 16, 32, 64, 128]
END_SYMBOL = 256


class FormatError(Exception):
    pass


# --- 2.1 the document ------------------------------------------------------

def parse_number(doc, at, stop):
    """A number of the sizes line: digits up to the byte stop, no sign, no
    leading zero, at most 4,294,967,295. Returns (value, position of stop)."""
    end = at
    while end < len(doc) and 0x30 <= doc[end] <= 0x39:
        end += 1
    digits = doc[at:end]
    if not digits:
        raise FormatError("sizes line: a number is missing")
    if len(digits) > 1 and digits[0] == 0x30:
        raise FormatError("sizes line: leading zero")
    value = int(digits)
    if value > MAX_NUMBER:
        raise FormatError("sizes line: number exceeds 4294967295")
    if end >= len(doc) or doc[end] != stop:
        raise FormatError("sizes line: %r where %r must follow" % (doc[end:end + 1], bytes([stop])))
    return value, end


def read_document(doc):
    """Checks the document's frame and text; returns (input length, stream)."""
    if not doc.startswith(HEAD):
        raise FormatError("missing or damaged head")
    at = len(HEAD)
    if doc[at:at + 1] != b"(":
        raise FormatError("sizes line must open with '('")
    input_length, at = parse_number(doc, at + 1, 0x20)
    stream_length, at = parse_number(doc, at + 1, 0x29)
    if doc[at + 1:at + 2] != b"\n":
        raise FormatError("sizes line must end with a line feed")
    if stream_length < 12:
        raise FormatError("stream length below the 12 bytes of its header")
    stream, at = decode_base64_lines(doc, at + 2)
    if doc[at:] != FOOTER:
        raise FormatError("the footer must follow the '=' run and end the document")
    if len(stream) != stream_length:
        raise FormatError("sizes line gives %d stream bytes, the text holds %d" % (stream_length, len(stream)))
    if int.from_bytes(stream[8:12], "little") != input_length:
        raise FormatError("sizes line's input length differs from the stream header's")
    return input_length, stream


def decode_document(doc):
    """The bank a document carries; FormatError for anything section 8 refuses."""
    return decode_stream(read_document(doc)[1])


# --- 3 Base64 lines -----------------------------------------------------------

def decode_base64_lines(doc, at):
    """Reads the text from doc[at]; returns (bytes, position after the '=' run)."""
    values = []
    characters = 0  # b: alphabet characters and line feeds
    on_line = 0
    while True:
        if at >= len(doc):
            raise FormatError("the text ends without its '='")
        c = doc[at]
        if c in VALUE:
            if on_line == 128:
                raise FormatError("a line holds more than 128 characters")
            values.append(VALUE[c])
            on_line += 1
            characters += 1
        elif c == 0x0A:
            if on_line != 128:
                raise FormatError("a line but the last holds other than 128 characters")
            on_line = 0
            characters += 1
        elif c == 0x3D:
            break
        else:
            raise FormatError("byte %02X is not in the Base64 alphabet" % c)
        at += 1
    if on_line == 128:
        raise FormatError("a line of 128 characters has no line feed before the '='")
    due = 4 - characters % 4
    run = 0
    while at < len(doc) and doc[at] == 0x3D:
        run += 1
        at += 1
    if run != due:
        raise FormatError("%d '=' where %d are due" % (run, due))
    if len(values) % 4 == 1:
        raise FormatError("a last group of a single character")
    out = bytearray()
    whole = len(values) // 4 * 4
    for i in range(0, whole, 4):
        v = values[i] << 18 | values[i + 1] << 12 | values[i + 2] << 6 | values[i + 3]
        out += bytes((v >> 16, (v >> 8) & 0xFF, v & 0xFF))
    rest = values[whole:]
    if len(rest) == 2:
        if rest[1] & 0x0F:
            raise FormatError("unused bits of the last character are not zero")
        out.append(rest[0] << 2 | rest[1] >> 4)
    elif len(rest) == 3:
        if rest[2] & 0x03:
            raise FormatError("unused bits of the last character are not zero")
        v = rest[0] << 12 | rest[1] << 6 | rest[2]
        out += bytes((v >> 10, (v >> 2) & 0xFF))
    return bytes(out), at


# --- 4 the stream ------------------------------------------------------------------

def decode_stream(stream):
    if len(stream) < 12:
        raise FormatError("stream shorter than its 12-byte header")
    if stream[0:4] != b"tbr0":
        raise FormatError("wrong magic")
    if stream[4] != 1:
        raise FormatError("level other than 1")
    if stream[5:8] != b"\0\0\0":
        raise FormatError("reserved header bytes not zero")
    length = int.from_bytes(stream[8:12], "little")
    bank = bytearray()
    at = 12
    while len(bank) < length:
        if at + 6 > len(stream):
            raise FormatError("stream ends before the header's length is decoded")
        primary = int.from_bytes(stream[at:at + 3], "big")
        c = int.from_bytes(stream[at + 3:at + 6], "big")
        if c < 4 or c > MAX_PAYLOAD:
            raise FormatError("payload length %d outside 4 .. 5242888" % c)
        if at + 6 + c > len(stream):
            raise FormatError("payload runs past the end of the stream")
        due = min(SLICE, length - len(bank))
        bank += decode_block(stream[at + 6:at + 6 + c], primary, due)
        at += 6 + c
    if at != len(stream):
        raise FormatError("bytes after the last frame")
    return bytes(bank)


def decode_block(payload, primary, due):
    symbols = range_decode(payload)
    ranks = read_rank_symbols(symbols)
    if not ranks:
        raise FormatError("block codes no ranks")
    if primary >= len(ranks):
        raise FormatError("primary index not below the block length")
    column = undo_ranks(ranks)
    prepass = undo_sort(column, primary)
    block = expand_runs(prepass, due)
    if len(block) != due:
        raise FormatError("block decodes to %d bytes where %d are due" % (len(block), due))
    return block


# --- 5.1 range decoder ----------------------------------------------------------------

class Model:
    """Cumulative counts only: freq[i] = cum[i + 1] - cum[i]."""

    def __init__(self, n):
        self.n = n
        self.cum = list(range(n + 1))

    def update(self, s):
        cum = self.cum
        cum[s + 1:] = [c + 1 for c in cum[s + 1:]]
        if cum[-1] >= 32768:
            freq = [((cum[i + 1] - cum[i]) >> 1) | 1 for i in range(self.n)]
            total = 0
            for i, f in enumerate(freq):
                cum[i] = total
                total += f
            cum[self.n] = total


def range_decode(payload):
    contexts = [Model(10) for _ in range(100)]
    offsets = [None, None, None] + [Model(CLASS_SIZE[k]) for k in range(3, 10)]
    rng = 0xFFFFFFFF
    code = int.from_bytes(payload[0:4], "big")
    at = 4
    size = len(payload)

    def decode_index(model):
        nonlocal rng, code, at
        cum = model.cum
        total = cum[model.n]
        r = rng // total
        v = code // r
        if v >= total:
            raise FormatError("payload value outside the coded interval")
        s = bisect.bisect_right(cum, v) - 1
        code -= r * cum[s]
        rng = r * (cum[s + 1] - cum[s])
        model.update(s)
        while rng < 0x01000000:
            if at >= size:
                raise FormatError("payload ends before the end symbol")
            code = (code << 8) | payload[at]
            at += 1
            rng <<= 8
        return s

    symbols = bytearray()
    c1 = c2 = 0
    while True:
        k = decode_index(contexts[10 * c2 + c1])
        symbol = CLASS_BASE[k] + decode_index(offsets[k]) if k >= 3 else k
        c2, c1 = c1, k
        if symbol == END_SYMBOL:
            break
        if len(symbols) == MAX_SYMBOLS:
            raise FormatError("more than 1310720 symbols")
        symbols.append(symbol)
    if at != size:
        raise FormatError("payload bytes after the end symbol")
    if code != 0:
        raise FormatError("flush bytes do not close the interval")
    return bytes(symbols)


# --- 5.2 rank symbols to ranks; the run count -------------------------------------------

def read_run_count(data, at):
    """Returns (count, position after it); at < len(data)."""
    b0 = data[at]
    if b0 < 0x80:
        return b0, at + 1
    if at + 1 >= len(data):
        raise FormatError("two-byte run count cut short")
    return 128 + ((b0 - 0x80) << 8) + data[at + 1], at + 2


def read_counted_group(data, at, copies_before_count):
    """The copies of data[at] that follow one another, up to the threshold,
    and after the threshold-th copy its run count. Returns (value, total, at)."""
    x = data[at]
    end = at + 1
    while end < len(data) and end - at < copies_before_count and data[end] == x:
        end += 1
    total = end - at
    if total == copies_before_count:
        if end >= len(data):
            raise FormatError("run count missing")
        count, end = read_run_count(data, end)
        total += count
        if count < MAX_RUN_COUNT and end < len(data) and data[end] == x:
            raise FormatError("a run count below 32895 before a further copy of its value")
    return x, total, end


def read_rank_symbols(symbols):
    ranks = bytearray()
    at = 0
    k = len(symbols)
    while at < k:
        s = symbols[at]
        if s <= 1:
            z = 0
            weight = 1
            while at < k and symbols[at] <= 1:
                z += (symbols[at] + 1) * weight
                weight <<= 1
                at += 1
                if len(ranks) + z > MAX_RANKS:
                    raise FormatError("more than 655360 ranks")
            ranks += bytes(z)
        elif s == 255:
            if at + 1 >= k or symbols[at + 1] > 1:
                raise FormatError("escape not followed by 0 or 1")
            ranks.append(254 + symbols[at + 1])
            at += 2
        else:
            _, total, at = read_counted_group(symbols, at, 3)
            ranks += bytes([s - 1]) * total
        if len(ranks) > MAX_RANKS:
            raise FormatError("more than 655360 ranks")
    return bytes(ranks)


# --- 5.3 ranks to the last column ------------------------------------------------------------

def undo_ranks(ranks):
    table = bytearray(range(256))
    previous = 1
    out = bytearray(len(ranks))
    for i, j in enumerate(ranks):
        x = table[j]
        out[i] = x
        if j == 1:
            if previous != 0:
                table[0], table[1] = x, table[0]
        elif j >= 2:
            table[2:j + 1] = table[1:j]
            table[1] = x
        previous = j
    return bytes(out)


# --- 5.4 inverse block sort ----------------------------------------------------------------------

def undo_sort(column, primary):
    m = len(column)
    counts = [0] * 256
    for b in column:
        counts[b] += 1
    below = [0] * 256
    total = 0
    for v in range(256):
        below[v] = total
        total += counts[v]
    nxt = [0] * m
    seen = below[:]
    for i, b in enumerate(column):
        nxt[i] = seen[b]
        seen[b] += 1
    block = bytearray(m)
    row = primary
    for t in range(m):
        block[m - 1 - t] = column[row]
        row = nxt[row]
        if row == primary and t + 1 < m:
            return repeated_pattern(column, block, t + 1)
    return bytes(block)


def repeated_pattern(column, block, q):
    m = len(column)
    if m % q:
        raise FormatError("the walk closes after %d rows, which does not divide %d" % (q, m))
    k = m // q
    for i in range(m):
        if column[i] != column[i - i % k]:
            raise FormatError("column of no block: no aligned stretches of %d equal bytes" % k)
    return bytes(block[m - q:]) * k


# --- 5.5 run expansion ---------------------------------------------------------------------------

FOUR_EQUAL = re.compile(rb"(.)\1\1\1", re.S)


def expand_runs(prepass, due):
    """Bytes between groups of four equal bytes are plain copies (a group of
    fewer than four is always followed by another value); each group of four
    is followed by its run count."""
    out = bytearray()
    at = 0
    while at < len(prepass):
        four = FOUR_EQUAL.search(prepass, at)
        plain_end = four.start() if four else len(prepass)
        out += prepass[at:plain_end]
        if four:
            x, total, at = read_counted_group(prepass, plain_end, 4)
            out += bytes([x]) * total
        else:
            at = plain_end
        if len(out) > due:
            raise FormatError("block decodes to more than the %d bytes due" % due)
    return bytes(out)


def main(argv):
    args = argv[1:]
    out = None
    if len(args) == 3 and args[1] == "-o":
        out = args[2]
        args = args[:1]
    if len(args) != 1:
        sys.stderr.write(__doc__)
        return 2
    with open(args[0], "rb") as f:
        doc = f.read()
    try:
        bank = decode_document(doc)
    except FormatError as fault:
        print("%s: %s" % (args[0], fault), file=sys.stderr)
        return 1
    if out:
        with open(out, "wb") as f:
            f.write(bank)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
