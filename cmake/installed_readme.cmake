# The README as installed beside the examples: the source tree's README.md
# with a note on where things are once installed, and its links to files
# that are not installed (CONTRIBUTING.md, the playground's screenshot) as
# plain text naming the source tree. Run as: cmake -DSOURCE=README.md -DTARGET=doc/README.md -P this file
file(READ "${SOURCE}" text)
string(REGEX REPLACE "\\[CONTRIBUTING\\.md\\]\\(CONTRIBUTING\\.md[^)]*\\)"
       "CONTRIBUTING.md in quarvel's source tree" text "${text}")
string(REGEX REPLACE "!\\[([^]]*)\\]\\((web/[^)]*)\\)" "(\\1: `\\2` in quarvel's source tree)"
       text "${text}")
set(note "> Installed, quarvel is `quarvel` on the PATH, its manual `man quarvel`,
> the examples gallery `examples/` beside this README (in
> `share/doc/quarvel/`) and the grammar `share/xml/quarvel/quarvel.rng`.
> This README comes from quarvel's source tree: the `scripts/`,
> `CONTRIBUTING.md` and `man/` it names are there, not installed.

")
string(FIND "${text}" "\n\n" first)
math(EXPR after "${first} + 2")
string(SUBSTRING "${text}" 0 ${after} head)
string(SUBSTRING "${text}" ${after} -1 rest)
file(WRITE "${TARGET}" "${head}${note}${rest}")
