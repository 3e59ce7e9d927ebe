#!/usr/bin/env python3
"""Formats 1,000 small documents (the examples gallery, repeated) one
process each, two at a time (`xargs -P2`), with quarvel and with
`xmllint --noout` in the same run, round by round, and prints each
program's documents per second (median of the rounds), their ratio, and
the CPU time per document (user+sys of all the children, median).

  bench/batch.py [QUARVEL_BINARY [ROUNDS]]

The binary defaults to build/quarvel, the rounds to 5. The documents are
copied once into $QUARVEL_BENCH_DIR/batch (default /tmp/quarvel-bench/batch);
every output goes to /dev/null.
"""
import glob
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

DOCUMENTS = 1000


def documents(directory):
    os.makedirs(directory, exist_ok=True)
    paths = sorted(glob.glob(os.path.join(directory, "*.xml")))
    if len(paths) == DOCUMENTS:
        return paths
    for path in paths:
        os.remove(path)
    gallery = sorted(glob.glob(os.path.join(os.path.dirname(__file__), "..", "examples", "*.xml")))
    paths = []
    for i in range(DOCUMENTS):
        source = gallery[i % len(gallery)]
        path = os.path.join(directory, "%04d-%s" % (i, os.path.basename(source)))
        shutil.copyfile(source, path)
        paths.append(path)
    return paths


def batch(command, paths):
    """Wall seconds and children's CPU seconds of one batch."""
    listing = "\0".join(paths).encode()
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(["xargs", "-0", "-P2", "-n1"] + command, input=listing,
                   stdout=subprocess.DEVNULL, check=False)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def main():
    if len(sys.argv) > 3 or (len(sys.argv) > 1 and sys.argv[1] in ("-h", "--help")):
        sys.exit(__doc__)
    quarvel = sys.argv[1] if len(sys.argv) > 1 else "build/quarvel"
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    if not os.access(quarvel, os.X_OK):
        sys.exit("batch: no quarvel binary at %s (run scripts/setup.sh)" % quarvel)
    if shutil.which("xmllint") is None:
        sys.exit("batch: xmllint is missing (package libxml2-utils)")
    directory = os.path.join(os.environ.get("QUARVEL_BENCH_DIR", "/tmp/quarvel-bench"), "batch")
    paths = documents(directory)
    programs = {"quarvel": [quarvel], "xmllint": ["xmllint", "--noout"]}
    figures = {name: [] for name in programs}
    for name, command in programs.items():
        batch(command, paths[:50])  # warm the caches
    for _ in range(rounds):
        for name, command in programs.items():
            figures[name].append(batch(command, paths))
    print("%d documents, one process each, xargs -P2, median of %d rounds" % (DOCUMENTS, rounds))
    rate = {}
    for name in programs:
        wall = statistics.median(w for w, _ in figures[name])
        cpu = statistics.median(c for _, c in figures[name])
        rate[name] = DOCUMENTS / wall
        print("%-8s %7.0f documents/s  (wall %.2f s, %.2f ms CPU per document)"
              % (name, rate[name], wall, 1000 * cpu / DOCUMENTS))
    print("quarvel/xmllint documents per second: %.2f" % (rate["quarvel"] / rate["xmllint"]))


if __name__ == "__main__":
    main()
