#!/usr/bin/env python3
"""Times quarvel against `xmllint --noout` on generated documents.

  measure.py QUARVEL_BINARY DOCUMENT_DIRECTORY [ROUNDS]

Expects the documents written by run.sh in DOCUMENT_DIRECTORY. Every round
runs every program on every document once, interleaved, so that load from
other processes falls on both sides alike; figures are medians over rounds.
Peak memory is the child's maximum resident set size. A run that outlasts
$QUARVEL_BENCH_TIMEOUT seconds (default 300) is stopped and shown as inf.
"""
import math
import os
import statistics
import subprocess
import sys
import threading
import time

SIZES = (1, 8, 32)
CASES = ("wide", "nonbreak", "pre", "par")


# A run that takes longer than this many seconds is stopped and counted as
# infinitely slow (a quadratic case would otherwise run for hours).
TIMEOUT = float(os.environ.get("QUARVEL_BENCH_TIMEOUT", "300"))


def run(argv):
    """Wall seconds, peak resident kilobytes and CPU seconds of one run;
    stdout discarded."""
    with open(os.devnull, "wb") as sink:
        start = time.perf_counter()
        child = subprocess.Popen(argv, stdout=sink, stderr=subprocess.PIPE)
        timer = threading.Timer(TIMEOUT, child.kill)
        timer.start()
        _, status, usage = os.wait4(child.pid, 0)
        elapsed = time.perf_counter() - start
        timer.cancel()
        err = child.stderr.read()
        child.stderr.close()
    if elapsed >= TIMEOUT:
        return math.inf, usage.ru_maxrss, math.inf
    if status != 0:
        sys.exit("failed (%d): %s\n%s" % (status, " ".join(argv), err.decode(errors="replace")))
    return elapsed, usage.ru_maxrss, usage.ru_utime + usage.ru_stime


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    quarvel, directory = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) == 4 else 5
    doc = lambda name: os.path.join(directory, name + ".xml")

    jobs = []
    for mb in SIZES:
        jobs.append(("xmllint", "ordinary-%d" % mb, ["xmllint", "--noout", doc("ordinary-%d" % mb)]))
        jobs.append(("quarvel", "ordinary-%d" % mb, [quarvel, doc("ordinary-%d" % mb)]))
    jobs.append(("quarvel", "ordinary-4", [quarvel, doc("ordinary-4")]))
    for case in CASES:
        jobs.append(("quarvel", case, [quarvel, doc(case)]))

    results = {}  # (program, document) -> [(seconds, kilobytes)] by round
    for r in range(rounds):
        print("round %d/%d" % (r + 1, rounds), file=sys.stderr, flush=True)
        for program, name, argv in jobs:
            results.setdefault((program, name), []).append(run(argv))

    med = lambda values: statistics.median(values)
    t = lambda p, n, i: results[(p, n)][i][0]
    m = lambda p, n, i: results[(p, n)][i][1]
    c = lambda p, n, i: results[(p, n)][i][2]

    print("Ordinary documents: quarvel against xmllint --noout (median of %d rounds; targets:"
          " time <= 1.00, memory <= 0.60)" % rounds)
    print("%-6s %11s %11s %7s   %11s %11s %7s   %9s" %
          ("size", "xmllint s", "quarvel s", "ratio", "xmllint MB", "quarvel MB", "ratio", "CPU ratio"))
    for mb in SIZES:
        n = "ordinary-%d" % mb
        xs = [t("xmllint", n, i) for i in range(rounds)]
        qs = [t("quarvel", n, i) for i in range(rounds)]
        xm = [m("xmllint", n, i) for i in range(rounds)]
        qm = [m("quarvel", n, i) for i in range(rounds)]
        xc = [c("xmllint", n, i) for i in range(rounds)]
        qc = [c("quarvel", n, i) for i in range(rounds)]
        print("%-6s %11.3f %11.3f %7.2f   %11.1f %11.1f %7.2f   %9.2f" % (
            "%d MB" % mb, med(xs), med(qs), med([q / x for q, x in zip(qs, xs)]),
            med(xm) / 1024, med(qm) / 1024, med([q / x for q, x in zip(qm, xm)]),
            med([q / x for q, x in zip(qc, xc)])))
    growth = []
    for i in range(rounds):
        q = t("quarvel", "ordinary-32", i) / t("quarvel", "ordinary-8", i)
        x = t("xmllint", "ordinary-32", i) / t("xmllint", "ordinary-8", i)
        growth.append((q, x, q / x))
    print("8 MB -> 32 MB time growth: quarvel %.2fx, xmllint %.2fx, ratio %.2f (target <= 1.10)" % (
        med([g[0] for g in growth]), med([g[1] for g in growth]), med([g[2] for g in growth])))
    print()
    print("Layout cases against an ordinary document of the same size (target <= 3.00)")
    print("%-10s %9s %11s %11s %7s %11s" % ("case", "size MB", "case s", "ordinary s", "ratio", "case MB"))
    for case in CASES:
        cs = [t("quarvel", case, i) for i in range(rounds)]
        os_ = [t("quarvel", "ordinary-4", i) for i in range(rounds)]
        print("%-10s %9.1f %11.3f %11.3f %7.2f %11.1f" % (
            case, os.path.getsize(doc(case)) / 1e6, med(cs), med(os_),
            med([c / o for c, o in zip(cs, os_)]), med([m("quarvel", case, i) for i in range(rounds)]) / 1024))


if __name__ == "__main__":
    main()
