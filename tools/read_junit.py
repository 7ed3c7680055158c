#!/usr/bin/python3
"""Reads a JUnit XML file as CI systems do, with the junitparser module, and
prints what it found as JSON, so that a test can compare it.

    read_junit.py FILE

Prints {"suites": [{"name", "tests", "failures", "skipped", "cases":
[{"name", "result", "message", "text"}]}]}, "result" being "passed",
"failure" or "skipped".

Exit status: 0 read; 1 the file is not JUnit XML that junitparser reads;
77 the junitparser module is missing (Debian package python3-junitparser).
"""

import json
import sys

try:
    import junitparser
except ImportError:
    print("read_junit: the Python module junitparser is missing "
          "(Debian package python3-junitparser)", file=sys.stderr)
    sys.exit(77)


def case_of(case):
    result = "passed"
    message = text = None
    for outcome in case.result:
        if isinstance(outcome, junitparser.Failure):
            result = "failure"
        elif isinstance(outcome, junitparser.Skipped):
            result = "skipped"
        else:
            result = type(outcome).__name__
        message, text = outcome.message, outcome.text
    return {"name": case.name, "result": result, "message": message, "text": text}


def main(path):
    try:
        document = junitparser.JUnitXml.fromfile(path)
    except Exception as error:  # the parser's own errors, whatever their kind
        print(f"read_junit: {path}: {error}", file=sys.stderr)
        return 1
    suites = []
    for suite in document:
        suites.append({"name": suite.name, "tests": suite.tests, "failures": suite.failures,
                       "skipped": suite.skipped,
                       "cases": [case_of(case) for case in suite]})
    print(json.dumps({"suites": suites}))
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print("usage: read_junit.py FILE", file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1]))
