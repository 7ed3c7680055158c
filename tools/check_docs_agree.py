#!/usr/bin/env python3
"""Checks that zem-package's help, its man page, the README and its main
source's opening comment agree.

Usage: check_docs_agree.py TOOL MAN_PAGE README MAIN_SOURCE

The man page is made from the table of subcommands that the help comes
from; this checks what could still drift apart. Each subcommand that
`TOOL --help` lists has a section in the man page, and the page no other;
each option that `TOOL SUBCOMMAND --help` lists is an option of that section,
and the other way round; groff reads the page without a warning; and the
README's list of subcommands (its "- `zem-package NAME ...`" lines under
"## zem-package") is the tool's, in the tool's order, and so is the list in
the opening comment of MAIN_SOURCE (its "//   NAME  ..." lines). Exits with 1 and says
what differs; prints "skipped: ..." when groff is not installed.
"""

import re
import shutil
import subprocess
import sys

# An option in a line of text: "-o", "--output", not the hyphen of a word.
OPTION = re.compile(r"(?<![\w-])(--?[a-z][a-z-]*)")


def output(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def block(text, heading):
    """The lines after a heading line of the help, up to a blank line."""
    return text.split(f"\n{heading}\n", 1)[1].split("\n\n", 1)[0].splitlines()


def help_subcommands(tool):
    return [line.split()[0] for line in block(output(tool, "--help"), "Subcommands:")]


def help_options(tool, subcommand):
    # "  -o, --output FILE       Write ...": the options stand before the
    # two spaces that open the description, or alone on their line.
    lines = block(output(tool, subcommand, "--help"), "Options:")
    names = [re.split(r"\s{2,}", line.strip())[0] for line in lines if line.startswith("  -")]
    return {option for name in names for option in OPTION.findall(name)}


def man_sections(page):
    """Each subsection of SUBCOMMANDS by its name: the options of its terms."""
    text = page.split("\n.SH SUBCOMMANDS\n", 1)[1].split("\n.SH ", 1)[0]
    sections = {}
    for part in text.split(".SS ")[1:]:
        name, body = part.split("\n", 1)
        lines = body.splitlines()
        terms = [lines[i + 1] for i, line in enumerate(lines[:-1]) if line == ".TP"]
        plain = [re.sub(r"\\f[BIPR]", "", term).replace("\\-", "-") for term in terms]
        sections[name] = {option for term in plain for option in OPTION.findall(term)}
    return sections


def readme_subcommands(readme):
    """The subcommands in the order of their first item (verify has two)."""
    text = readme.split("\n## zem-package\n", 1)[1]
    text = re.split(r"\n##+ ", text, maxsplit=1)[0]
    names = re.findall(r"^- `zem-package ([a-z-]+)", text, re.MULTILINE)
    return list(dict.fromkeys(names))


def comment_subcommands(source):
    """The subcommands the opening comment lists, one "//   NAME  ..." line each."""
    comment = []
    for line in source.splitlines():
        if not line.startswith("//"):
            break
        comment.append(line)
    return re.findall(r"^//   ([a-z-]+)  ", "\n".join(comment), re.MULTILINE)


def main(tool, man_page, readme, main_source):
    if not shutil.which("groff"):
        print("skipped: groff is not installed")
        return 0
    problems = []
    warnings = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z", man_page],
                              capture_output=True, text=True)
    if warnings.returncode != 0 or warnings.stderr:
        problems.append(f"groff on the man page:\n{warnings.stderr}")

    subcommands = help_subcommands(tool)
    with open(man_page, encoding="utf-8") as f:
        sections = man_sections(f.read())
    if sorted(sections) != sorted(subcommands):
        problems.append(f"subcommands: --help {subcommands}, man page {sorted(sections)}")
    for name in subcommands:
        in_help = help_options(tool, name)
        in_man = sections.get(name, set())
        if in_help != in_man:
            problems.append(f"{name}: only in --help {sorted(in_help - in_man)}, "
                            f"only in the man page {sorted(in_man - in_help)}")
    with open(readme, encoding="utf-8") as f:
        listed = readme_subcommands(f.read())
    if listed != subcommands:
        problems.append(f"README lists {listed}, --help {subcommands}")
    with open(main_source, encoding="utf-8") as f:
        commented = comment_subcommands(f.read())
    if commented != subcommands:
        problems.append(f"{main_source}'s opening comment lists {commented}, --help {subcommands}")

    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
