#!/usr/bin/env python3
"""Writes a quarvel document of about the given size to standard output.

  generate_document.py KIND BYTES [SEED]

KIND is one of
  ordinary  mixed prose: left-aligned paragraphs of English and Japanese,
            centered titles, right-aligned lines, underlined phrases,
            nonbreak runs, br and space, pre blocks, and now and then a par
            with two or three div columns; indented source
  wide      one paragraph inside a div of width 1000000
  nonbreak  one nonbreak run
  pre       one preformatted line (no line end inside)
  par       a par of two div columns, each wrapping to BYTES/40 lines of
            20 columns (100,000 lines each at 4000000 bytes)

The output is the same for the same arguments.
"""
import random
import sys

ENGLISH_WORDS = (
    "the of and to in is that it was for on are as with his they at be this "
    "from have or by one had not but what all were when we there can an your "
    "which their said if do will each about how up out them then she many some "
    "so these would other into has more her two like him see time could no make "
    "than first been its who now people my made over did down only way find use "
    "may water long little very after words called just where most know layout "
    "column margin width paragraph printer terminal manual chapter section "
    "character glyph line break underline preformatted document element"
).split()

JAPANESE_PHRASES = (
    "日本語の文章も同じ規則で組まれます", "句読点は右の余白にぶら下がり",
    "開き括弧は行末に残らず次の行へ送られます", "この節では表示の幅について述べる",
    "全角文字は二桁を占め", "半角文字は一桁を占める", "長い段落は幅に合わせて折り返される",
    "見出しは中央に置かれ", "右寄せの行は日付や署名に使われる", "下線は文字の下の行に引かれる",
    "整形済みの部分は改行をそのまま保つ", "段組みでは列が横に並ぶ",
)

JAPANESE_QUOTES = ("「組版」", "「余白」", "「改行」", "「下線」", "「段落」", "「文書」")


class Prose:
    def __init__(self, seed):
        self.rng = random.Random(seed)

    def english_sentence(self):
        words = [self.rng.choice(ENGLISH_WORDS) for _ in range(self.rng.randint(6, 18))]
        words[0] = words[0].capitalize()
        return " ".join(words) + "."

    def japanese_sentence(self):
        parts = [self.rng.choice(JAPANESE_PHRASES) for _ in range(self.rng.randint(1, 3))]
        if self.rng.random() < 0.4:
            parts.insert(self.rng.randrange(len(parts) + 1), self.rng.choice(JAPANESE_QUOTES) + "について")
        return "、".join(parts) + "。"

    def sentence(self, japanese_share=0.4):
        if self.rng.random() < japanese_share:
            return self.japanese_sentence()
        return self.english_sentence()

    def phrase(self):
        return " ".join(self.rng.choice(ENGLISH_WORDS) for _ in range(self.rng.randint(2, 4)))

    def text(self, size):
        """Running prose of about `size` UTF-8 bytes, with no markup."""
        out, used = [], 0
        while used < size:
            s = self.sentence() + " "
            out.append(s)
            used += len(s.encode("utf-8"))
        return "".join(out)


def paragraph(p, indent):
    """A left-aligned paragraph whose source lines are wrapped and indented."""
    pieces = []
    for _ in range(p.rng.randint(3, 9)):
        s = p.sentence()
        r = p.rng.random()
        if r < 0.12:
            s = s[:-1] + " <underline>" + p.phrase() + "</underline>."
        elif r < 0.20:
            s = s[:-1] + " <nonbreak>" + p.phrase() + "</nonbreak>."
        elif r < 0.24:
            s += "<br/>"
        elif r < 0.28:
            s += '<space repeat="%d"/>' % p.rng.randint(1, 4)
        pieces.append(s)
    lines, line = [], ""
    for piece in pieces:
        if line and len(line) + len(piece) > 72:
            lines.append(line)
            line = ""
        line = (line + " " + piece) if line else piece
    lines.append(line)
    inner = "\n".join(indent + "  " + l for l in lines)
    return "%s<left>\n%s\n%s</left>\n" % (indent, inner, indent)


def section(p):
    out = ['  <center>%s</center>\n' % p.phrase().upper()]
    if p.rng.random() < 0.3:
        out.append('  <center><underline char="=">%s</underline></center>\n' % p.phrase())
    for _ in range(p.rng.randint(3, 8)):
        out.append(paragraph(p, "  "))
    r = p.rng.random()
    if r < 0.3:
        out.append("  <right>%s</right>\n" % p.phrase())
    if r < 0.15:
        rows = "\n".join("  " * p.rng.randint(0, 3) + p.phrase() for _ in range(p.rng.randint(3, 8)))
        out.append("  <pre>\n%s\n</pre>\n" % rows)
    if p.rng.random() < 0.15:
        columns = p.rng.randint(2, 3)
        width = 58 // columns - 4
        out.append("  <par>\n")
        for _ in range(columns):
            text = " ".join(p.sentence() for _ in range(p.rng.randint(2, 5)))
            out.append('    <div width="%d" leftmargin="4" rightmargin="2">\n      %s\n    </div>\n'
                       % (width, text))
        out.append("  </par>\n")
    return "".join(out)


HEAD = '<?xml version="1.0" encoding="UTF-8"?>\n<quarvel>\n'
TAIL = "</quarvel>\n"


def ordinary(p, size):
    out = [HEAD]
    used = len(HEAD) + len(TAIL)
    while used < size:
        s = section(p)
        out.append(s)
        used += len(s.encode("utf-8"))
    out.append(TAIL)
    return "".join(out)


def wrapped(p, size, open_tag, close_tag):
    body = p.text(size - len(HEAD) - len(TAIL) - len(open_tag) - len(close_tag))
    return HEAD + open_tag + body + close_tag + TAIL


def par(p, size):
    # ASCII prose, so that every line holds 20 one-column characters.
    per_column = (size - 200) // 2
    columns = []
    for _ in range(2):
        out, used = [], 0
        while used < per_column:
            s = p.english_sentence() + " "
            out.append(s)
            used += len(s)
        columns.append('    <div width="20" leftmargin="2" rightmargin="2">%s</div>\n'
                       % "".join(out)[:per_column])
    return HEAD + "  <par>\n" + "".join(columns) + "  </par>\n" + TAIL


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    kind, size = sys.argv[1], int(sys.argv[2])
    p = Prose(int(sys.argv[3]) if len(sys.argv) == 4 else 1)
    if kind == "ordinary":
        doc = ordinary(p, size)
    elif kind == "wide":
        doc = wrapped(p, size, '<div width="1000000">', "</div>\n")
    elif kind == "nonbreak":
        doc = wrapped(p, size, "<left><nonbreak>", "</nonbreak></left>\n")
    elif kind == "pre":
        doc = wrapped(p, size, "<pre>", "</pre>\n")
    elif kind == "par":
        doc = par(p, size)
    else:
        sys.exit(__doc__)
    sys.stdout.buffer.write(doc.encode("utf-8"))


if __name__ == "__main__":
    main()
