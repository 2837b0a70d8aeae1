#!/usr/bin/env python3
"""Checks docs/format.md against the converter with a second implementation
written from that file alone (decode_document.py, and the small encoder below).

    test_decode_document.py FORMAT_MD DLS2MML MAKE_SAMPLE_BANK

1. The test vectors of section 9: every document shown decodes to its bank and
   has the SHA-256 shown, every hex listing is that document or its stream,
   and dls2mml still writes exactly these documents.
2. Documents dls2mml writes (a sample bank, periodic blocks, the empty bank)
   decode to the original bytes.
3. The encoder of sections 6 and 7 (the sort and its pivot draws included)
   writes the same documents as dls2mml, also for blocks that repeat a
   pattern and for several files converted in one run.
4. Faulty documents of every kind in section 8 are refused by decode_document
   and by dls2mml --test alike, and the two agree on randomly damaged ones.
   The faulty documents are also kept as files in tests/faulty (with the kind
   and place of each fault, checked by the faulty_documents test); they must
   be the ones made here.

    test_decode_document.py --write-faulty DIR DLS2MML

writes the faulty documents into DIR again, one file each.
"""
import hashlib
import os
import random
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import decode_document as dd  # noqa: E402

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)


def sha(data):
    return hashlib.sha256(data).hexdigest()


# --- a writer from sections 3.1, 4 and 6 ---------------------------------------------

def base64_lines(data):
    bits = "".join("{:08b}".format(b) for b in data)
    out = bytearray()
    on_line = 0
    for i in range(0, len(bits), 6):
        out.append(dd.ALPHABET[int(bits[i:i + 6].ljust(6, "0"), 2)])
        on_line += 1
        if on_line == 128:
            out.append(0x0A)
            on_line = 0
    out += b"=" * (4 - len(out) % 4)
    return bytes(out)


def document_for(stream, input_length=None):
    if input_length is None:
        input_length = int.from_bytes(stream[8:12], "little")
    sizes = b"(%d %d)\n" % (input_length, len(stream))
    return dd.HEAD + sizes + base64_lines(stream) + dd.FOOTER


def run_count(v):
    return bytes([v]) if v < 128 else bytes([0x80 + ((v - 128) >> 8), (v - 128) & 0xFF])


def prepass(block):
    out = bytearray()
    at = 0
    while at < len(block):
        x = block[at]
        end = at + 1
        while end < len(block) and end - at < 4 + 32895 and block[end] == x:
            end += 1
        n = end - at
        out += bytes([x]) * min(n, 4) + (run_count(n - 4) if n >= 4 else b"")
        at = end
    return bytes(out)


class PivotGenerator:
    """Section 7.1: one state for the whole run, starting at 1."""

    def __init__(self):
        self.state = 1

    def draw(self):
        self.state = (self.state * 214013 + 2531011) & 0xFFFFFFFF
        return (self.state >> 16) & 0x7FFF


def block_sort(p, pivots):
    """Section 7.2, step by step; returns (last column, primary index)."""
    m = len(p)
    keys = [p[s] * 256 + p[(s + 1) % m] for s in range(m)]
    sa = sorted(range(m), key=lambda s: (keys[s], s))
    rank = [0] * m
    for row in range(m - 1, -1, -1):
        s = sa[row]
        rank[s] = row if row == m - 1 or keys[sa[row + 1]] != keys[s] else rank[sa[row + 1]]

    def key(s, h):
        return rank[(s + h) % m]

    def swap(i, j):
        sa[i], sa[j] = sa[j], sa[i]

    def finish_small(first, last, h):
        rows = sa[first:last + 1]

        def compare(s, t):
            for off in range(h, m, h):
                d = key(s, off) - key(t, off)
                if d:
                    return d
            return 0

        for i in range(1, len(rows)):
            t = rows[i]
            j = i
            while j > 0 and compare(t, rows[j - 1]) < 0:
                rows[j] = rows[j - 1]
                j -= 1
            rows[j] = t
        for i, s in enumerate(rows):
            rank[s] = first + i
            sa[first + i] = -1

    def refine(first, last, h):
        while last - first > 10:
            x = pivots.draw()
            row = (first, first + (last - first) // 2, last)[x % 3]
            v = key(sa[row], h)
            a = b = first
            c = d = last
            while True:
                while b <= c and key(sa[b], h) <= v:
                    if key(sa[b], h) == v:
                        swap(a, b)
                        a += 1
                    b += 1
                while b <= c and key(sa[c], h) >= v:
                    if key(sa[c], h) == v:
                        swap(c, d)
                        d -= 1
                    c -= 1
                if b > c:
                    break
                swap(b, c)
                b += 1
                c -= 1
            for i in range(min(a - first, b - a)):
                swap(first + i, c - i)
            for i in range(min(last - d, d - c)):
                swap(b + i, last - i)
            below, above = b - a, d - c
            e1, e2 = first + below, last - above
            if below > 0:
                refine(first, first + below - 1, h)
            if e1 == e2:
                rank[sa[e1]] = e1
                sa[e1] = -1
            else:
                for r in range(e1, e2 + 1):
                    rank[sa[r]] = e2
            if above == 0:
                return
            first = last - above + 1
        finish_small(first, last, h)

    h = 2
    while m > 2:
        met = False
        r = 0
        while r < m:
            c = r
            while c < m and sa[c] < 0:
                c -= sa[c]
            if c > r:
                sa[r] = r - c
                r = c
                if r >= m:
                    break
            last = rank[sa[r]]
            refine(r, last, h)
            met = True
            r = last + 1
        if not met or 2 * h >= m:
            break
        h *= 2
    r = 0
    while r < m:
        if sa[r] < 0:
            r -= sa[r]
            continue
        last = rank[sa[r]]
        for q in range(r, last + 1):
            rank[sa[q]] = q
        r = last + 1
    rows = [0] * m
    for s in range(m):
        rows[rank[s]] = s
    return bytes(p[s - 1] for s in rows), rank[0]


def rank_transform(column):
    table = bytearray(range(256))
    previous = 1
    out = bytearray()
    for x in column:
        j = table.index(x)
        out.append(j)
        if j == 1 and previous != 0:
            table[0], table[1] = x, table[0]
        elif j >= 2:
            table[2:j + 1] = table[1:j]
            table[1] = x
        previous = j
    return bytes(out)


def rank_symbols(ranks):
    out = bytearray()
    at = 0
    while at < len(ranks):
        r = ranks[at]
        end = at + 1
        if r == 0:
            while end < len(ranks) and ranks[end] == 0:
                end += 1
            v = end - at + 1
            while v != 1:
                out.append(v & 1)
                v >>= 1
        elif r >= 254:
            out += bytes([255, r - 254])
        else:
            while end < len(ranks) and end - at < 32898 and ranks[end] == r:
                end += 1
            n = end - at
            out += bytes([r + 1]) * min(n, 3) + (run_count(n - 3) if n >= 3 else b"")
        at = end
    return bytes(out)


def range_encode(symbols):
    contexts = [dd.Model(10) for _ in range(100)]
    offsets = [None, None, None] + [dd.Model(dd.CLASS_SIZE[k]) for k in range(3, 10)]
    out = bytearray()
    state = {"low": 0, "range": 0xFFFFFFFF}

    def code(model, s):
        r = state["range"] // model.cum[model.n]
        add = r * model.cum[s]
        if state["low"] + add > 0xFFFFFFFF:
            i = len(out) - 1
            while i >= 0:
                out[i] = (out[i] + 1) & 0xFF
                if out[i] != 0:
                    break
                i -= 1
        state["low"] = (state["low"] + add) & 0xFFFFFFFF
        state["range"] = r * (model.cum[s + 1] - model.cum[s])
        model.update(s)
        while state["range"] < 0x01000000:
            out.append(state["low"] >> 24)
            state["low"] = (state["low"] << 8) & 0xFFFFFFFF
            state["range"] = (state["range"] << 8) & 0xFFFFFFFF

    c1 = c2 = 0
    for symbol in list(symbols) + [dd.END_SYMBOL]:
        k = max(i for i in range(10) if dd.CLASS_BASE[i] <= symbol)
        code(contexts[10 * c2 + c1], k)
        c2, c1 = c1, k
        if k >= 3:
            code(offsets[k], symbol - dd.CLASS_BASE[k])
    for _ in range(4):
        out.append(state["low"] >> 24)
        state["low"] = (state["low"] << 8) & 0xFFFFFFFF
    return bytes(out)


def frame(primary, payload):
    return primary.to_bytes(3, "big") + len(payload).to_bytes(3, "big") + payload


def header(length):
    return b"tbr0\x01\0\0\0" + length.to_bytes(4, "little")


def frame_of_prepass(p, pivots=None):
    column, primary = block_sort(p, pivots or PivotGenerator())
    return frame(primary, range_encode(rank_symbols(rank_transform(column))))


def encode(bank, pivots):
    stream = header(len(bank))
    for at in range(0, len(bank), 524288):
        stream += frame_of_prepass(prepass(bank[at:at + 524288]), pivots)
    return stream


# --- running dls2mml ----------------------------------------------------------------------

class Tool:
    def __init__(self, dls2mml, make_bank, work):
        self.dls2mml = dls2mml
        self.make_bank = make_bank
        self.work = work
        self.count = 0

    def path(self, name):
        return os.path.join(self.work, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def convert(self, *banks):
        """Converts the banks in one run, in order; returns their documents."""
        self.count += 1
        names = [self.write("r%d_%d.dls" % (self.count, i), b) for i, b in enumerate(banks)]
        subprocess.run([self.dls2mml, "-q"] + names, check=True)
        docs = []
        for n in names:
            with open(n[:-4] + "_dls.mml", "rb") as f:
                docs.append(f.read())
        return docs

    def accepts(self, doc):
        self.count += 1
        name = self.write("t%d_dls.mml" % self.count, doc)
        result = subprocess.run([self.dls2mml, "-q", "-t", name], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        return result.returncode == 0

    def sample_bank(self, size, seed):
        name = self.path("sample_%s.dls" % size)
        subprocess.run([self.make_bank, name, "--size", size, "--seed", str(seed)], check=True,
                       stdout=subprocess.DEVNULL)
        with open(name, "rb") as f:
            return f.read()


# --- 1. the vectors of section 9 ------------------------------------------------------------

def sections_of(markdown):
    parts = re.split(r"^### (9\.\d+) .*$", markdown, flags=re.M)
    return {parts[i]: parts[i + 1] for i in range(1, len(parts) - 1, 2)}


def documents_in(text):
    docs = []
    for block in re.findall(r"```\n(.*?)```", text, flags=re.S):
        if block.startswith("//"):
            lines = block.splitlines()
            check(all(line.endswith("\\n") for line in lines), "every document line is shown with its \\n")
            docs.append("".join(line[:-2] + "\n" for line in lines).encode("ascii"))
    return docs


def hex_strings_in(text):
    """Hex listings: code blocks of bytes (notes after two spaces dropped),
    and the backticked groups of a 'Stream (...):' line."""
    found = []
    for block in re.findall(r"```\n(.*?)```", text, flags=re.S):
        if re.match(r"[0-9A-Fa-f]{2} ", block):
            tokens = [line.split("  ")[0].split() for line in block.splitlines()]
            found.append(bytes(int(t, 16) for line in tokens for t in line))
    for line in re.findall(r"^Stream \(\d+ bytes\): (.*)$", text, flags=re.M):
        found.append(bytes(int(t, 16) for group in re.findall(r"`([0-9A-F ]+)`", line) for t in group.split()))
    return found


def hashes_in(text):
    return re.findall(r"`([0-9a-f]{64})`", text)


def check_stages(number, text, stream):
    """The stages a vector lists ("pre-pass `61 62 63`; ...") are those of its one frame."""
    primary = int.from_bytes(stream[12:15], "big")
    symbols = dd.range_decode(stream[18:])
    ranks = dd.read_rank_symbols(symbols)
    column = dd.undo_ranks(ranks)
    stages = {"symbols": symbols, "ranks": ranks, "last column": column, "pre-pass": dd.undo_sort(column, primary)}
    for name, value in stages.items():
        shown = re.findall(name.replace(" ", r"\s+") + r"\s+`([0-9A-F ]+)`", text)
        check(shown and bytes.fromhex(shown[0]) == value, "%s: the %s shown" % (number, name))
    shown = re.findall(r"primary\s+index\s+(\d+)", text)
    check(shown and int(shown[0]) == primary, "%s: the primary index shown" % number)


def check_vectors(markdown, tool):
    sections = sections_of(markdown)
    banks = {"9.1": b"", "9.2": b"abc", "9.3": b"a" * 8, "9.4": b"\xff\x00", "9.5": b"aaab" * 13}
    for number, bank in banks.items():
        text = sections.get(number, "")
        docs = documents_in(text)
        check(len(docs) == 1, "%s shows one document" % number)
        if not docs:
            continue
        doc = docs[0]
        check(dd.decode_document(doc) == bank, "%s: the document decodes to its bank" % number)
        check(sha(doc) == hashes_in(text)[0], "%s: the SHA-256 shown is the document's" % number)
        check(tool.convert(bank)[0] == doc, "%s: dls2mml writes the document shown" % number)
        stream = dd.read_document(doc)[1]
        listings = hex_strings_in(text)
        check(listings and all(h in (doc, stream) for h in listings),
              "%s: every hex listing is the document or its stream" % number)
        if number in ("9.2", "9.3", "9.4"):
            check_stages(number, text, stream)

    # 9.5: the same bank as the second file of one run.
    text = sections.get("9.5", "")
    first, second = tool.convert(b"aaab" * 13, b"aaab" * 13)
    check(sha(first) == hashes_in(text)[0] and sha(second) == hashes_in(text)[1],
          "9.5: the documents of one run of two copies are those shown")
    check(dd.decode_document(second) == b"aaab" * 13, "9.5: the second document decodes too")
    check(dd.read_document(second)[1][12:18] == bytes.fromhex("00 00 00 00 00 0B"),
          "9.5: the second frame header is the one shown")

    # 9.6: two blocks.
    text = sections.get("9.6", "")
    bank = bytes(i % 251 for i in range(600000))
    doc = tool.convert(bank)[0]
    stream = dd.read_document(doc)[1]
    check(hashes_in(text) == [sha(bank), sha(stream), sha(doc)], "9.6: the bank's, stream's and document's SHA-256")
    check(b"`(600000 %d)`" % len(stream) in text.encode(), "9.6: the sizes line shown")
    check(dd.decode_document(doc) == bank, "9.6: the two-block document decodes to its bank")

    # 9.7: one frame, three lines of text.
    text = sections.get("9.7", "")
    doc = tool.convert(bytes(range(256)))[0]
    check(hashes_in(text) == [sha(doc)], "9.7: the document's SHA-256")
    check(dd.decode_document(doc) == bytes(range(256)), "9.7: the document decodes to its bank")


# --- 2. and 3. documents dls2mml writes --------------------------------------------------------

def check_written_documents(tool):
    periodic = b"aaabaabb" * 66536  # two blocks, each a repeated pattern
    cases = [
        ("sample bank of 1 MiB", tool.sample_bank("1m", 7)),
        ("periodic blocks", periodic),
        ("periodic block after a bank, same run", None),
        ("empty", b""),
        ("one byte", b"\x5a"),
    ]
    for name, bank in cases:
        if bank is None:
            # Section 7.3: after another file the pivot state differs, and so
            # does this block's primary index; the bank is the same.
            bank = b"aaabaabb" * 5000
            doc = tool.convert(b"x" * 3000 + bytes(range(256)) * 20, bank)[1]
            alone = tool.convert(bank)[0]
            check(dd.read_document(doc)[1][12:15] != dd.read_document(alone)[1][12:15],
                  "a periodic block after another file takes another primary index")
        else:
            doc = tool.convert(bank)[0]
        check(dd.decode_document(doc) == bank, "written document decodes: " + name)


def encoder_cases():
    rng = random.Random(9)
    cases = [b"abc", b"a" * 8, b"\xff\x00", b"banana", bytes(range(256)), bytes(range(255, -1, -1)),
             b"\x00" * 40 + b"\x01" + b"\xfe\xff" * 30, bytes(rng.randrange(256) for _ in range(3000)),
             bytes(rng.choice(b"ab") for _ in range(2000)), b"q" * 40000 + b"r"]
    return cases


# --- 4. faulty documents -----------------------------------------------------------------------------

def replaced(doc, old, new):
    assert old in doc, old
    return doc.replace(old, new, 1)


def without_byte(data, at):
    return data[:at] + data[at + 1:]


def faulty_documents(abc, empty, lines):
    s = dd.read_document(abc)[1]
    body = s[12:]
    first_line = lines.index(b"\n", len(dd.HEAD)) + 1

    def stream_doc(stream, input_length=None):
        return document_for(stream, input_length)

    def symbols_doc(length, symbols, primary=0):
        return stream_doc(header(length) + frame(primary, range_encode(symbols)))

    def prepass_doc(length, p):
        return stream_doc(header(length) + frame_of_prepass(p))

    # A two-block stream whose second frame is left out.
    first_frame = frame_of_prepass(prepass(b"\x07" * 524288))
    return [
        ("empty document", b""),
        ("damaged head", replaced(abc, b"DLS_DATA", b"DLS-DATA")),
        ("leading zero", replaced(abc, b"(3 26)", b"(03 26)")),
        ("sign", replaced(abc, b"(3 26)", b"(+3 26)")),
        ("two spaces", replaced(abc, b"(3 26)", b"(3  26)")),
        ("carriage return in the sizes line", replaced(abc, b"26)\n", b"26)\r\n")),
        ("number above 32 bits", replaced(abc, b"(3 26)", b"(3 4294967296)")),
        ("stream length below 12", replaced(empty, b"(0 12)", b"(0 11)")),
        ("input length differs from the header's", replaced(abc, b"(3 26)", b"(4 26)")),
        ("stream length differs from the text's", replaced(abc, b"(3 26)", b"(3 27)")),
        ("character outside the alphabet", replaced(abc, b"dGJy", b"dG*y")),
        ("carriage return in the text", replaced(abc, b"dGJy", b"dG\rJy")),
        ("too few '='", replaced(abc, b"eAA=)", b"eAA)")),
        ("too many '='", replaced(abc, b"eAA=)", b"eAA==)")),
        ("unused bits set", replaced(abc, b"eAA=", b"eAB=")),
        ("a single last character", dd.HEAD + b"(0 12)\ndGJyMAEAAAAAAAAAA===" + dd.FOOTER),
        ("short line", without_byte(lines, lines.index(b"\n", first_line) - 1)),
        ("long line", without_byte(lines, lines.index(b"\n", first_line))),
        ("128 characters without a line feed", document_for(bytes(96)).replace(b"\n===", b"====")),
        ("damaged footer", replaced(abc, b')"}\n', b")'}\n")),
        ("missing footer", abc[:-4]),
        ("footer without its line feed", abc[:-1]),
        ("byte after the footer", abc + b"x"),
        ("wrong magic", stream_doc(b"tbr1" + s[4:])),
        ("level 2", stream_doc(s[:4] + b"\x02" + s[5:])),
        ("reserved byte", stream_doc(s[:6] + b"\x01" + s[7:])),
        ("stream shorter than its header", document_for(s[:9], 3)),
        ("frame header cut short", stream_doc(s[:15])),
        ("payload length 3", stream_doc(s[:15] + b"\0\0\x03" + s[18:])),
        ("payload length above the largest", stream_doc(s[:15] + b"\xff\xff\xff" + s[18:])),
        ("payload past the end", stream_doc(s[:-3])),
        ("trailing byte", stream_doc(s + b"\0")),
        ("frame after an empty bank", stream_doc(header(0) + body)),
        ("header length too small", stream_doc(header(2) + body)),
        ("header length too large", stream_doc(header(4) + body)),
        ("second frame missing", stream_doc(header(524289) + first_frame)),
        ("first block too short", stream_doc(header(524291) + body + body)),
        ("payload value outside the interval", stream_doc(header(3) + frame(0, b"\xff\xff\xff\xff"))),
        ("bytes after the end symbol", stream_doc(header(3) + frame(0, s[18:] + b"\0"))),
        ("flush does not close the interval", stream_doc(header(3) + frame(0, s[18:-1] + b"\x01"))),
        ("end symbol missing", stream_doc(header(3) + frame(0, s[18:-1]))),
        ("escape followed by 2", symbols_doc(1, b"\xff\x02")),
        ("escape at the end", symbols_doc(1, b"\x02\xff")),
        ("rank run count missing", symbols_doc(3, b"\x62\x62\x62")),
        ("rank run count where none may stand", symbols_doc(9, b"\x03\x02\x02\x02\x05\x02")),
        ("more than 655,360 ranks", symbols_doc(1, b"\x01" * 19)),
        ("no ranks", symbols_doc(1, b"")),
        ("primary index not below the block length", symbols_doc(3, b"\x64\x63\x64", primary=3)),
        ("column of no block", symbols_doc(2, b"\x62\x63")),
        ("pre-pass run count missing", prepass_doc(4, b"\x62\x61\x61\x61\x61")),
        ("pre-pass run count where none may stand", prepass_doc(10, b"\x61\x61\x61\x61\x05\x61")),
        ("block longer than the header allows", prepass_doc(3, b"\x61\x61\x61\x61\x00")),
    ]


FAULTY_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "faulty")


def file_name(name):
    """The file a faulty document is kept in: "too few '='" -> too_few.mml."""
    return re.sub(r"[^a-z0-9]+", "_", name.lower()).strip("_") + ".mml"


def all_faulty_documents(tool):
    abc = tool.convert(b"abc")[0]
    empty = tool.convert(b"")[0]
    lines = tool.convert(bytes(range(256)))[0]  # three lines of text
    return faulty_documents(abc, empty, lines)


def write_faulty(tool, folder):
    for name, doc in all_faulty_documents(tool):
        with open(os.path.join(folder, file_name(name)), "wb") as f:
            f.write(doc)


def check_faults(tool):
    kept = sorted(n for n in os.listdir(FAULTY_DIR) if n.endswith(".mml"))
    made = all_faulty_documents(tool)
    check(kept == sorted(file_name(name) for name, _ in made), "tests/faulty holds exactly the faulty documents made here")
    for name, doc in made:
        path = os.path.join(FAULTY_DIR, file_name(name))
        if os.path.exists(path):
            with open(path, "rb") as f:
                check(f.read() == doc, "tests/faulty/%s is the document made here" % file_name(name))
        try:
            dd.decode_document(doc)
            refused = False
        except dd.FormatError:
            refused = True
        check(refused, "decode_document refuses: " + name)
        check(not tool.accepts(doc), "dls2mml --test refuses: " + name)


def check_damaged(tool, count=60):
    """Both readers accept and refuse the same randomly damaged documents."""
    rng = random.Random(5)
    sound = [tool.convert(bank)[0] for bank in (b"abc", b"a" * 8, b"aaab" * 13, bytes(range(256)))]
    for i in range(count):
        doc = rng.choice(sound)
        if i % 3:  # damage the stream and write it out as a sound text
            length, stream = dd.read_document(doc)
            stream = bytearray(stream)
            at = rng.randrange(len(stream))
            if i % 3 == 1:
                stream[at] = rng.randrange(256)
            else:
                del stream[at]
            doc = document_for(bytes(stream), length)
        else:  # damage the text
            at = rng.randrange(len(doc))
            doc = doc[:at] + bytes([rng.choice(b"A=\n\r)0 +")]) + doc[at + 1:]
        try:
            dd.decode_document(doc)
            ours = True
        except dd.FormatError:
            ours = False
        check(ours == tool.accepts(doc), "damaged document %d: both readers give the same verdict" % i)


def check_encoder(tool):
    """The encoder of sections 6 and 7 writes dls2mml's documents, also for
    blocks that repeat a pattern and for several files in one run."""
    for bank in encoder_cases():
        doc = document_for(encode(bank, PivotGenerator()))
        check(dd.decode_document(doc) == bank, "the encoder of section 6 round-trips %d bytes" % len(bank))
        check(doc == tool.convert(bank)[0], "the encoder of section 6 writes dls2mml's document (%d bytes)" % len(bank))
    rng = random.Random(11)
    pattern = bytes(rng.randrange(256) for _ in range(37))
    run = [b"aaab" * 13, b"aaab" * 13, b"aaab" * 6, b"aaaab" * 4, b"aaabaabb" * 300, pattern * 50,
           bytes(rng.choice(b"ab") for _ in range(4000)), b"aaabaabb" * 300]
    pivots = PivotGenerator()
    ours = [document_for(encode(bank, pivots)) for bank in run]
    theirs = tool.convert(*run)
    for i, (a, b) in enumerate(zip(ours, theirs)):
        check(a == b, "section 7: file %d of one run (%d bytes) gets dls2mml's document" % (i + 1, len(run[i])))


def main(argv):
    if len(argv) == 4 and argv[1] == "--write-faulty":
        with tempfile.TemporaryDirectory() as work:
            write_faulty(Tool(argv[3], None, work), argv[2])
        return 0
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        markdown = f.read()
    with tempfile.TemporaryDirectory() as work:
        tool = Tool(argv[2], argv[3], work)
        check_vectors(markdown, tool)
        check_faults(tool)
        check_encoder(tool)
        check_damaged(tool)
        check_written_documents(tool)
    if failures:
        print("%d checks failed" % len(failures))
        return 1
    print("format: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
