#!/usr/bin/python3
"""Checks JSON documents of zem-package against their schemas.

    check_json_schema.py SCHEMA DOCUMENT [SCHEMA DOCUMENT]...
    check_json_schema.py --keys SCHEMA_DIRECTORY

Each DOCUMENT (a file, or - for standard input) is checked against the
SCHEMA before it; the schemas it refers to are taken from the same
directory. Every failure is printed as "DOCUMENT: at PATH: what is wrong",
PATH naming the value ($.packages[0].checks.framing).

--keys checks the schemas themselves: every key that may hold a scalar
refers to the one definition of its kind for that name (key.NAME in
common.schema.json), so that a key holds one kind of value in every
document.

Exit status: 0 all valid; 1 a document or schema is not; 2 the check could
not run (bad usage, a file that cannot be read, no jsonschema module).
"""

import json
import pathlib
import sys

try:
    import jsonschema
except ImportError:
    print("check_json_schema: the Python module jsonschema is missing "
          "(Debian package python3-jsonschema)", file=sys.stderr)
    sys.exit(2)

COMMON = "common.schema.json"
KEY_PREFIX = "#/$defs/key."
SCALARS = {"string", "number", "integer", "boolean"}


def load(path):
    try:
        text = sys.stdin.read() if path == "-" else pathlib.Path(path).read_text(encoding="utf-8")
        return json.loads(text)
    except (OSError, ValueError) as error:
        print(f"check_json_schema: {path}: {error}", file=sys.stderr)
        sys.exit(2)


def json_path(parts):
    path = "$"
    for part in parts:
        path += f"[{part}]" if isinstance(part, int) else f".{part}"
    return path


class Schemas:
    """The schemas of one directory, each known by its file name."""

    def __init__(self, directory):
        self.directory = pathlib.Path(directory)
        self.store = {p.name: load(p) for p in sorted(self.directory.glob("*.schema.json"))}
        self.validators = {}

    def validator(self, name):
        if name not in self.validators:
            schema = self.store[name]
            jsonschema.Draft202012Validator.check_schema(schema)
            resolver = jsonschema.RefResolver(name, schema, store=self.store)
            self.validators[name] = jsonschema.Draft202012Validator(schema, resolver=resolver)
        return self.validators[name]


def check_documents(pairs):
    failed = False
    schemas = {}
    for schema_path, document_path in pairs:
        path = pathlib.Path(schema_path)
        directory = str(path.parent)
        if directory not in schemas:
            schemas[directory] = Schemas(directory)
        if path.name not in schemas[directory].store:
            print(f"check_json_schema: {schema_path}: no such schema", file=sys.stderr)
            sys.exit(2)
        validator = schemas[directory].validator(path.name)
        document = load(document_path)
        errors = sorted(validator.iter_errors(document), key=lambda e: list(e.absolute_path))
        for error in errors:
            # The innermost reason of a failed alternative is the useful one.
            while error.context:
                error = min(error.context, key=lambda e: len(e.absolute_path) * -1)
            print(f"{document_path}: at {json_path(error.absolute_path)}: {error.message}")
            failed = True
    return failed


def scalar_kinds(schema, key_refs):
    """Types a property's schema admits, with the key definitions it names;
    alternatives and conjunctions are followed, nested values are not."""
    types = set()
    if not isinstance(schema, dict):
        return types
    ref = schema.get("$ref", "")
    if KEY_PREFIX in ref:
        key_refs.add(ref.split(KEY_PREFIX, 1)[1])
    elif ref:
        types.add("object")  # a shared object: a failure, a setup, a change
    declared = schema.get("type")
    if isinstance(declared, str):
        types.add(declared)
    elif isinstance(declared, list):
        types.update(declared)
    if "const" in schema or "enum" in schema:
        types.add("scalar")
    for keyword in ("anyOf", "oneOf", "allOf"):
        for alternative in schema.get(keyword, []):
            types |= scalar_kinds(alternative, key_refs)
    return types


def check_keys(directory):
    schemas = Schemas(directory)
    common = schemas.store.get(COMMON, {}).get("$defs", {})
    defined = {name[len("key."):] for name in common if name.startswith("key.")}
    problems = []

    # Within a condition (if, then, else, not) a property may only narrow
    # what the same object's properties declare: it names no other key's
    # kind, and needs none of its own.
    conditions = {"if", "then", "else", "not"}

    def walk(schema, where, narrowing=False):
        if isinstance(schema, list):
            for i, item in enumerate(schema):
                walk(item, f"{where}/{i}", narrowing)
            return
        if not isinstance(schema, dict):
            return
        for name, sub in schema.get("properties", {}).items():
            key_refs = set()
            types = scalar_kinds(sub, key_refs)
            if name not in ("first", "second"):
                for named in key_refs - {name, "first", "second"}:
                    problems.append(f"{where}/properties/{name}: refers to the kind of {named}")
            scalar = bool(types & (SCALARS | {"scalar"})) or not types
            if name not in key_refs and scalar and not narrowing:
                problems.append(f"{where}/properties/{name}: a scalar without key.{name}")
            if name in key_refs and name not in defined:
                problems.append(f"{where}/properties/{name}: key.{name} is not defined")
        for keyword, sub in schema.items():
            if keyword == "properties":
                for name, value in sub.items():
                    walk(value, f"{where}/properties/{name}")
            elif isinstance(sub, (dict, list)):
                walk(sub, f"{where}/{keyword}", narrowing or keyword in conditions)

    for name, schema in schemas.store.items():
        schemas.validator(name)
        walk(schema, name + "#")
    for problem in problems:
        print(problem)
    return bool(problems)


def main(arguments):
    if len(arguments) == 2 and arguments[0] == "--keys":
        return 1 if check_keys(arguments[1]) else 0
    if not arguments or len(arguments) % 2 != 0:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    pairs = list(zip(arguments[0::2], arguments[1::2]))
    return 1 if check_documents(pairs) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
