#!/usr/bin/env python3
"""Runs quarvel on hostile documents and servers and prints, for each, the
wall time, the child's peak resident memory, how it ended and whether its
output is valid UTF-16.

  hostile.py QUARVEL_BINARY [CASE ...]

Each document case is also held to the bound that every hostile document
must keep: at most 2 times the time and the peak memory of an ordinary
document of the same size (bench/generate_document.py; times below 0.05 s
and peaks below 16 MB count as those floors), whether it is formatted or
stopped with exit 1 ("stopped"). The column says "ok" or "OVER" with both
ratios; the exit code is 1 when any case is over.

With no CASE every case runs. Documents are generated into
$QUARVEL_HOSTILE_DIR (default /tmp/quarvel-hostile); servers listen on
127.0.0.1 only and stop with the run. Every run gets at most 8 GiB of
address space unless its case sets a limit of its own. A run is stopped after
$QUARVEL_HOSTILE_TIMEOUT seconds (default 120) and shown as "timeout".
Cases named *-ordinary are the ordinary documents of the same size that
the layout shapes are compared with.
"""
import os
import signal
import socket
import subprocess
import sys
import threading
import time
import zlib

TIMEOUT = float(os.environ.get("QUARVEL_HOSTILE_TIMEOUT", "120"))
DIRECTORY = os.environ.get("QUARVEL_HOSTILE_DIR", "/tmp/quarvel-hostile")


def doc(body, prolog=""):
    return (prolog + "<quarvel>" + body + "</quarvel>").encode("utf-8")


def attribute_defaults(elements):
    entity = "x" * 10_000
    prolog = ('<!DOCTYPE quarvel [<!ENTITY e "%s"><!ATTLIST b a CDATA "%s">]>'
              % (entity, "&e;" * 100))
    return doc("<b/>" * elements + "hi", prolog)


def literal_default(elements):
    prolog = '<!DOCTYPE quarvel [<!ATTLIST b a CDATA "%s">]>' % ("y" * 1_000_000)
    return doc("<b/>" * elements + "hi", prolog)


def expanded_attributes():
    prolog = '<!DOCTYPE quarvel [<!ENTITY e "%s">]>' % ("x" * 10_000)
    attributes = " ".join('a%d="%s"' % (i, "&e;" * 1000) for i in range(50))
    return doc("<b %s/>" % attributes, prolog)


def nested_entities(levels=19):
    # Each entity adds 256 levels of elements around the next one, 19
    # entities deep, and the document 250 more around them all.
    decls = ['<!ENTITY e0 "x">']
    for i in range(1, levels + 1):
        decls.append('<!ENTITY e%d "%s&e%d;%s">' % (i, "<d>" * 256, i - 1, "</d>" * 256))
    return doc("<d>" * 250 + "&e%d;" % levels + "</d>" * 250,
               "<!DOCTYPE quarvel [%s]>" % "".join(decls))


def namespace_default(tags, from_entity=False):
    if from_entity:
        prolog = ('<!DOCTYPE quarvel [<!ENTITY e "%s"><!ATTLIST b xmlns:p CDATA "%s">]>'
                  % ("x" * 10_000, "&e;" * 100))
    else:
        prolog = '<!DOCTYPE quarvel [<!ATTLIST b xmlns:p CDATA "%s">]>' % ("u" * 1_000_000)
    return doc("<b/>" * tags + "hi", prolog)


def namespace_defaults(declarations, tags):
    attlist = " ".join('xmlns:p%d CDATA "urn:%d"' % (i, i) for i in range(declarations))
    return doc("<b/>" * tags + "hi", "<!DOCTYPE quarvel [<!ATTLIST b %s>]>" % attlist)


def defaults_after_error(defaults, tags):
    # The reference is an error; a parser that goes on after it still
    # applies every default to every tag that follows.
    attlist = " ".join('a%d CDATA "v"' % i for i in range(defaults))
    return doc("&undeclared;" + "<b/>" * tags, "<!DOCTYPE quarvel [<!ATTLIST b %s>]>" % attlist)


def namespace_declarations(count):
    return doc("<b %s/>" % " ".join('xmlns:p%d="urn:x"' % i for i in range(count)))


def nested_namespace_scopes(levels, per_level, inner):
    # The prefix used inside is declared outermost, under every other scope.
    scopes = "".join("<s %s>" % " ".join('xmlns:q%d_%d="urn:x"' % (level, i)
                                         for i in range(per_level)) for level in range(levels))
    return doc('<s xmlns:p="urn:p">' + scopes + "<p:b/>" * inner + "</s>" * (levels + 1))


def distinct_names(count, attributes=False):
    if attributes:
        return doc("".join('<b a%d=""/>' % i for i in range(count)))
    return doc("".join("<n%d/>" % i for i in range(count)))


def billion_laughs():
    decls = ['<!ENTITY l0 "lol">']
    for i in range(1, 10):
        decls.append('<!ENTITY l%d "%s">' % (i, ("&l%d;" % (i - 1)) * 10))
    return doc("<left>&l9;</left>", "<!DOCTYPE quarvel [%s]>" % "".join(decls))


def many_attributes(count):
    return doc("<b %s/>" % " ".join('a%d=""' % i for i in range(count)))


def columns(lines, empty_columns, long_first=True):
    long_column = "<div>" + "a<br/>" * lines + "</div>"
    empty = "<div/>" * empty_columns
    return doc("<par>%s</par>" % (long_column + empty if long_first else empty + long_column))


def zero_width_columns(lines, empty_columns):
    empty = '<div width="0" leftmargin="0" rightmargin="0"/>' * empty_columns
    return doc("<par>%s<div>%s</div></par>" % (empty, "a<br/>" * lines))


def entity_chain(levels, where):
    """Entities that each name the one before: used in content, in an
    attribute value, or (parameter entities, written with &#37;) in the DTD."""
    if where == "parameter":
        decls = ["<!ENTITY % p0 '<!ENTITY x \"y\">'>"]
        decls += ["<!ENTITY %% p%d '&#37;p%d;'>" % (i, i - 1) for i in range(1, levels)]
        return doc("<left>&x;</left>", "<!DOCTYPE quarvel [%s %%p%d;]>" % ("".join(decls), levels - 1))
    decls = ["<!ENTITY e0 'x'>"] + ["<!ENTITY e%d '&e%d;'>" % (i, i - 1) for i in range(1, levels)]
    use = "&e%d;" % (levels - 1)
    body = "<left>%s</left>" % use if where == "content" else '<left a="%s">x</left>' % use
    return doc(body, "<!DOCTYPE quarvel [%s]>" % "".join(decls))


def long_default_name(name_bytes, kind, tags=100_000):
    """A default whose name is long, on every <b/>: prefixed, plain, or a
    namespace declaration with a long prefix."""
    if kind == "prefixed":
        return doc("<b/>" * tags + "hi", '<!DOCTYPE quarvel [<!ATTLIST b p:%s CDATA "v">]>'
                   % ("a" * name_bytes)).replace(b"<quarvel>", b'<quarvel xmlns:p="urn:p">', 1)
    if kind == "plain":
        return doc("<b/>" * tags + "hi", '<!DOCTYPE quarvel [<!ATTLIST b %s CDATA "v">]>'
                   % ("a" * name_bytes))
    return doc("<b/>" * tags + "hi", '<!DOCTYPE quarvel [<!ATTLIST b xmlns:%s CDATA "urn:x">]>'
               % ("p" * name_bytes))


def implied_declarations(size, attribute_type="CDATA"):
    """Half the document declares #IMPLIED attributes of <b>, half is <b/>;
    with ID, the declarations alone."""
    per_declaration = len(" a100000 %s #IMPLIED" % attribute_type)
    if attribute_type == "ID":
        declarations, tags = size // per_declaration, 0
    else:
        declarations, tags = size // 2 // per_declaration, size // 2 // 4
    attlist = "".join(" a%d %s #IMPLIED" % (i, attribute_type) for i in range(declarations))
    return doc("<b/>" * tags + "hi", "<!DOCTYPE quarvel [<!ATTLIST b%s>]>" % attlist)


def entity_elements(size):
    """References to an entity that builds six elements, within expat's
    amplification limit."""
    return doc("&e;" * (size // 3), "<!DOCTYPE quarvel [<!ENTITY e '%s'>]>" % ("<b/>" * 6))


def long_namespace_uri(uri_bytes, tags):
    return doc("<p:b/>" * tags).replace(b"<quarvel>", b'<quarvel xmlns:p="%s">'
                                        % (b"u" * uri_bytes), 1)


def utf16_document(body, mark, big_endian=False):
    """UTF-16 bytes of a document that may hold lone surrogates, after `mark`."""
    return mark + ("<quarvel>" + body + "</quarvel>").encode(
        "utf-16-be" if big_endian else "utf-16-le", "surrogatepass")


def word_div(body, attributes=""):
    return doc('<div wrap="word" %s>%s</div>' % (attributes, body))


def unicode_div(body, attributes=""):
    return doc('<div widths="unicode" %s>%s</div>' % (attributes, body))


# name -> (document maker, extra environment, prlimit options, extra arguments
# before the location)
def documents():
    five_mb = 5_000_000
    return {
        "attribute-defaults-1500": (lambda: attribute_defaults(1_500),),
        "attribute-defaults-100000": (lambda: attribute_defaults(100_000),),
        "literal-default-300": (lambda: literal_default(300),),
        "expanded-attributes": (expanded_attributes,),
        "carry-paren-20000x80000": (lambda: doc('<div width="20000">' + "(" * 80_000 + "</div>"),),
        "carry-paren-20000x40000": (lambda: doc('<div width="20000">' + "(" * 40_000 + "</div>"),),
        "carry-ordinary-20000x80000": (lambda: doc('<div width="20000">' + "a" * 80_000 + "</div>"),),
        "carry-paren-1000000x2000000": (lambda: doc('<div width="1000000">' + "(" * 2_000_000 + "</div>"),),
        "carry-paren-5mb": (lambda: doc("<left>" + "(" * five_mb + "</left>"),),
        "carry-bracket-5mb": (lambda: doc("<left>" + "\u300c" * (five_mb // 3) + "</left>"),),
        "carry-br-5mb": (lambda: doc('<div width="1000000">' + ("(" * 50_000 + "<br/>") * 100 + "</div>"),),
        "carry-ordinary-5mb": (lambda: doc("<left>" + "a" * five_mb + "</left>"),),
        # Word mode: a word as long as the document, white space alone (in
        # text and as a blank node), one-letter words at width 1, a word that
        # moves behind a carried run on every line, and lines that end in
        # spaces after a long run (trimmed, then carried).
        "word-5mb": (lambda: word_div("w" * five_mb),),
        "word-5mb-wide": (lambda: word_div("w" * five_mb, 'width="1000000"'),),
        "word-spaces-5mb": (lambda: word_div("x" + " \n" * (five_mb // 2) + "x"),),
        "word-blank-5mb": (lambda: word_div("<b/>" + " \n" * (five_mb // 2) + "<b/>x"),),
        "word-letters-width-1": (lambda: word_div("a " * (five_mb // 2), 'width="1"'),),
        "word-behind-brackets": (lambda: word_div("\u300c" * 1_000_000 + "a" * 2_000_000,
                                                  'width="2000000" rightmargin="0"'),),
        "word-trim-carry": (lambda: word_div("\u300c" * 1_000_000 + " \u300c" * 500_000,
                                             'width="2000001" rightmargin="0"'),),
        "word-spaces-after-run": (lambda: word_div("(" * 1_000_000 + "<space/>" * 500_000,
                                                   'width="1000000"'),),
        # Line ends between wide characters, each one a space taken out again.
        "word-wide-line-ends-5mb": (lambda: word_div("\u3042\n\u3042\n" * (five_mb // 8)),),
        # Unicode widths: one cluster of a million marks (placed whole, in
        # char and word mode, carried after a bracket), regional indicators
        # paired into flags, emoji joined by U+200D.
        "unicode-marks-5mb": (lambda: unicode_div("a" + "\u0301" * (five_mb // 2)),),
        "unicode-marks-word-5mb": (lambda: unicode_div("x (" + "\u0301" * (five_mb // 2) + " y",
                                                       'wrap="word"'),),
        "unicode-marks-carried-5mb": (lambda: unicode_div(
            ("ab(" + "\u0301" * 100_000 + "c") * (five_mb // 200_000), 'width="3"'),),
        "unicode-flags-5mb": (lambda: unicode_div("\U0001F1EF\U0001F1F5" * (five_mb // 8)),),
        "unicode-emoji-joined-5mb": (lambda: unicode_div("\U0001F469\u200D" * (five_mb // 7)),),
        "columns-long-then-empty": (lambda: columns(80_000, 80_000),),
        "columns-empty-then-long": (lambda: zero_width_columns(80_000, 80_000),),
        "columns-ordinary": (lambda: doc("<par><div>" + "a<br/>" * 80_000 + "aaaaaa" * 80_000
                                  + "</div></par>"),),
        "surrogates": (lambda: doc('<div width="3" rightmargin="0">a\U0001F600\U0001F600b</div>'
                           '<underline char="\U0001F600">x</underline>'),),
        "text-node-10mb-ulimit": (lambda: doc("<left>" + "t" * 9_500_000 + "</left>"),
                                  {}, ["--as=%d" % (75_000 * 1024)]),
        "nested-entities-ulimit": (nested_entities, {}, ["--stack=%d" % (1024 * 1024)]),
        "many-attributes-10000": (lambda: many_attributes(10_000),),
        "many-attributes-100000": (lambda: many_attributes(100_000),),
        "hook-fail-allocation": (lambda: doc("<left>hi</left>"), {"QUARVEL_FAIL_ALLOCATION": "1"}),
        # Shapes that cost a parser more than their bytes: declared defaults
        # applied to every start tag, namespaces, names, large tokens.
        "namespace-default-1mb-x2000": (lambda: namespace_default(2_000),),
        "namespace-default-entity-x8000": (lambda: namespace_default(8_000, True),),
        "namespace-defaults-1000x100000": (lambda: namespace_defaults(1_000, 100_000),),
        "defaults-after-error": (lambda: defaults_after_error(5_000, 20_000),),
        "namespace-declarations-200000": (lambda: namespace_declarations(200_000),),
        "nested-namespace-scopes": (lambda: nested_namespace_scopes(250, 40, 500_000),),
        "distinct-element-names-1m": (lambda: distinct_names(1_000_000),),
        "distinct-attribute-names-1m": (lambda: distinct_names(1_000_000, True),),
        "billion-laughs": (billion_laughs,),
        "attribute-value-40mb": (lambda: doc('<left a="%s">hi</left>' % ("v" * 40_000_000)),),
        "comment-40mb": (lambda: doc("<left><!--%s-->hi</left>" % ("c" * 40_000_000)),),
        "text-40mb": (lambda: doc("<left>%s</left>" % ("t" * 40_000_000)),),
        "name-4mb": (lambda: doc("<%s/>" % ("n" * 4_000_000)),),
        # --check: findings by the million, each run bounded by a normal run
        # of the same document.
        "check-warnings-3mb": (lambda: doc("<z/>" * 750_000), {}, (), ["--check"]),
        "check-empty-elements-16mb": (lambda: doc("<x/>" * 4_000_000), {}, (), ["--check"]),
        # Entities that name each other, deeper than expat (before 2.7)
        # recurses safely: each stops at its declarations.
        "entity-chain-content-25000": (lambda: entity_chain(25_000, "content"),),
        "entity-chain-content-100000": (lambda: entity_chain(100_000, "content"),),
        "entity-chain-attribute-200000": (lambda: entity_chain(200_000, "attribute"),),
        "entity-chain-attribute-800000": (lambda: entity_chain(800_000, "attribute"),),
        "entity-chain-parameter-50000": (lambda: entity_chain(50_000, "parameter"),),
        "entity-chain-parameter-200000": (lambda: entity_chain(200_000, "parameter"),),
        # Declared attributes that cost expat work on every tag, or in the
        # DTD alone.
        **{"default-name-prefixed-%dkb" % (n // 1000): (lambda n=n: long_default_name(n, "prefixed"),)
           for n in (125_000, 250_000, 500_000, 2_000_000)},
        **{"default-name-plain-%dkb" % (n // 1000): (lambda n=n: long_default_name(n, "plain"),)
           for n in (1_250_000, 2_500_000, 5_000_000, 20_000_000)},
        **{"default-xmlns-prefix-%dkb" % (n // 1000): (lambda n=n: long_default_name(n, "xmlns"),)
           for n in (500_000, 1_000_000, 2_000_000, 8_000_000)},
        **{"implied-declarations-%dkb" % (n // 1000): (lambda n=n: implied_declarations(n),)
           for n in (600_000, 1_200_000, 2_400_000, 4_900_000, 19_600_000)},
        **{"id-declarations-%dkb" % (n // 1000): (lambda n=n: implied_declarations(n, "ID"),)
           for n in (1_900_000, 3_900_000, 7_900_000, 31_600_000)},
        "long-namespace-uri": (lambda: long_namespace_uri(1_000_000, 80_000),),
        "long-namespace-uri-4x": (lambda: long_namespace_uri(4_000_000, 320_000),),
        # Entities that build elements: memory by the document's size.
        **{"entity-elements-%dmb" % n: (lambda n=n: entity_elements(n * 1_000_000),)
           for n in (3, 6, 12, 24, 96)},
        # UTF-16 that breaks its own rules, and marks the characters contradict.
        "utf16-lone-surrogate-5mb": (lambda: utf16_document(
            "<left>%s\ud800<br/>x</left>" % ("a" * 2_500_000), b"\xff\xfe"),),
        "utf16-reversed-pair-be": (lambda: utf16_document(
            "<left>x\udc00\ud800a</left>", b"\xfe\xff", True),),
        "utf8-mark-utf16-content": (lambda: b"\xef\xbb\xbf" + utf16_document("<left>x</left>", b""),),
        "utf16le-mark-be-content": (lambda: utf16_document("<left>x</left>", b"\xff\xfe", True),),
    }


_bomb = None


def gzip_bomb():
    """About 1 MB of gzip that decodes to a 1 GiB document."""
    global _bomb
    if _bomb is None:
        packer = zlib.compressobj(9, zlib.DEFLATED, 31)
        block = b"a" * (1 << 20)
        parts = [packer.compress(b"<quarvel><left>")]
        parts += [packer.compress(block) for _ in range(1024)]
        parts.append(packer.compress(b"</left></quarvel>") + packer.flush())
        _bomb = b"".join(parts)
    return _bomb


class HostileServer:
    """Answers every connection on 127.0.0.1 in one hostile way, for as long
    as the client reads or until the run ends."""

    def __init__(self, mode):
        self.mode = mode
        self.stopping = False
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.listener.settimeout(0.5)
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def url(self):
        return "http://127.0.0.1:%d/doc.xml" % self.listener.getsockname()[1]

    def serve(self):
        while not self.stopping:
            try:
                connection, _ = self.listener.accept()
            except socket.timeout:
                continue
            threading.Thread(target=self.answer, args=(connection,), daemon=True).start()

    def answer(self, connection):
        try:
            connection.recv(65536)
            if self.mode == "endless-trailers":
                connection.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                                   b"Content-Type: application/xml\r\n\r\n"
                                   b"10\r\n<quarvel>hi</qua\r\n0\r\n")
                line = b"X-Trailer: " + b"t" * 1000 + b"\r\n"
                while not self.stopping:
                    connection.sendall(line * 64)
            elif self.mode == "endless-body":
                connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\n\r\n"
                                   b"<quarvel><left>")
                block = b"a" * 65536
                while not self.stopping:
                    connection.sendall(block)
            elif self.mode == "long-header-line":
                connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\n"
                                   b"X-Long: " + b"h" * 300_000 + b"\r\n\r\n<quarvel/>")
            elif self.mode == "gzip-body":
                body = gzip_bomb()
                connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\n"
                                   b"Transfer-Encoding: gzip\r\nConnection: close\r\n\r\n" + body)
        except OSError:
            pass
        finally:
            connection.close()

    def stop(self):
        self.stopping = True
        self.thread.join()
        self.listener.close()


SERVERS = ("endless-trailers", "endless-body", "gzip-body",
           "long-header-line")


def valid_utf16(data):
    if not data:
        return "empty"
    try:
        data.decode("utf-16-le", errors="strict")
        return "valid"
    except UnicodeDecodeError:
        return "INVALID"


def run(binary, argument, environment=None, limits=(), arguments=()):
    env = {"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"}
    env.update(environment or {})
    # GNU time measures the peak of quarvel alone, prlimit sets its limits.
    report = os.path.join(DIRECTORY, "time.out")
    argv = ["/usr/bin/time", "-f", "%M", "-o", report]
    # Without a limit of its own every run gets 8 GiB of address space, so
    # that a runaway run fails by itself instead of taking the machine.
    limits = list(limits) or ["--as=%d" % (8 << 30)]
    argv += ["prlimit"] + limits + ["--"]
    argv += [binary] + list(arguments) + [argument]
    start = time.perf_counter()
    child = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             stdin=subprocess.DEVNULL, env=env, start_new_session=True)
    # The whole group: killing GNU time alone would leave quarvel running.
    timer = threading.Timer(TIMEOUT, lambda: os.killpg(child.pid, signal.SIGKILL))
    timer.start()
    out = bytearray()
    err = b""

    def drain_err():
        nonlocal err
        err = child.stderr.read()

    reader = threading.Thread(target=drain_err)
    reader.start()
    # Only the first 64 MiB of output are kept for the UTF-16 check.
    while True:
        chunk = child.stdout.read(1 << 20)
        if not chunk:
            break
        if len(out) < (64 << 20):
            out += chunk
    reader.join()
    child.wait()
    elapsed = time.perf_counter() - start
    timed_out = elapsed >= TIMEOUT
    timer.cancel()
    lines = []
    if os.path.exists(report):
        with open(report) as f:
            lines = f.read().split("\n")
        os.remove(report)
    # GNU time writes "Command terminated by signal N" or "Command exited
    # with non-zero status N" before the figure.
    figures = [l for l in lines if l.strip().isdigit()]
    peak_kb = int(figures[-1]) if figures else 0  # none when the run was stopped
    status = [l for l in lines if l.startswith("Command")]
    if timed_out:
        ending = "timeout"
    elif status and "signal" in status[0]:
        ending = "signal " + status[0].split()[-1]
    else:
        ending = "exit %d" % child.returncode
    message = err.decode("utf-8", errors="replace").strip().splitlines()
    message = [l for l in message if not l.startswith("Command ")]
    return elapsed, peak_kb // 1024, ending, valid_utf16(bytes(out[2:])), \
        (message[0][:70] if message else "")


ORDINARY_FLOOR_SECONDS = 0.05
ORDINARY_FLOOR_MB = 16
_ordinary = {}


def ordinary_figures(binary, size):
    """Time and peak of an ordinary document of `size` bytes (rounded to
    100 KB, at least 100 KB), measured once per size."""
    size = max(100_000, round(size / 100_000) * 100_000)
    if size not in _ordinary:
        path = os.path.join(DIRECTORY, "ordinary-%d.xml" % size)
        if not os.path.exists(path):
            generator = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                     "generate_document.py")
            with open(path, "wb") as f:
                subprocess.run([sys.executable, generator, "ordinary", str(size)], stdout=f,
                               check=True)
        runs = [run(binary, path) for _ in range(3)]
        _ordinary[size] = (sorted(r[0] for r in runs)[1], sorted(r[1] for r in runs)[1])
    return _ordinary[size]


def verdict(binary, path, seconds, peak, ending):
    ordinary_seconds, ordinary_peak = ordinary_figures(binary, os.path.getsize(path))
    within = (seconds <= 2 * max(ordinary_seconds, ORDINARY_FLOOR_SECONDS)
              and peak <= 2 * max(ordinary_peak, ORDINARY_FLOOR_MB))
    return "%s%s (%.2fx, %.2fx)" % ("ok" if within else "OVER",
                                    " stopped" if ending == "exit 1" else "",
                                    seconds / max(ordinary_seconds, 1e-3),
                                    peak / max(ordinary_peak, 1))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    binary = sys.argv[1]
    wanted = sys.argv[2:]
    os.makedirs(DIRECTORY, exist_ok=True)
    cases = documents()
    names = list(cases) + list(SERVERS)
    print("%-30s %9s %9s %-10s %-7s %-30s %s" % ("case", "seconds", "peak MB", "ending", "utf-16",
                                                "bound (time, memory x ordinary)",
                                                "first line of stderr"))
    over = False
    for name in names:
        if wanted and name not in wanted:
            continue
        if name in SERVERS:
            if name == "gzip-body":
                gzip_bomb()  # made before the clock starts
            server = HostileServer(name)
            try:
                result = run(binary, server.url())
            finally:
                server.stop()
        else:
            make, *settings = cases[name]
            path = os.path.join(DIRECTORY, name + ".xml")
            if not os.path.exists(path):
                document = make()
                with open(path, "wb") as f:
                    f.write(document)
            result = run(binary, path, *settings)
        seconds, peak, ending, utf16, message = result
        bound = ""
        if name not in SERVERS and settings[2:]:
            # Extra arguments (--check): held to a normal run of the same document.
            normal = run(binary, path)
            within = seconds <= 2 * max(normal[0], ORDINARY_FLOOR_SECONDS) and \
                peak <= 2 * max(normal[1], ORDINARY_FLOOR_MB)
            bound = "%s (%.2fx, %.2fx normal)" % ("ok" if within else "OVER",
                                                 seconds / max(normal[0], 1e-3),
                                                 peak / max(normal[1], 1))
            over = over or not within
        elif name not in SERVERS and not settings and name != "hook-fail-allocation":
            bound = verdict(binary, path, seconds, peak, ending)
            over = over or bound.startswith("OVER")
        print("%-30s %9.2f %9d %-10s %-7s %-30s %s" % (name, seconds, peak, ending, utf16, bound,
                                                     message), flush=True)
    sys.exit(1 if over else 0)


if __name__ == "__main__":
    main()
