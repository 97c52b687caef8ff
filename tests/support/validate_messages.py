#!/usr/bin/env python3
"""Checks lines that quorvane-dictation wrote against docs/messages.schema.json.

    quorvane-dictation status | validate_messages.py

Reads standard input and checks every line: one compact JSON object of
string values that the schema accepts, with no key twice, every "/" written
as "\\/" and non-ASCII characters as raw UTF-8 rather than \\u escapes.
Exits 0 when all lines pass; at the first bad line, writes its number, the
reason and the line to standard error and exits 1.

As a module: validate_line(text) returns the message or raises
InvalidMessage.
"""

import argparse
import json
import sys
from pathlib import Path

import jsonschema

SCHEMA_PATH = Path(__file__).resolve().parents[2] / "docs" / "messages.schema.json"


class InvalidMessage(ValueError):
    pass


def load_validator(path=SCHEMA_PATH):
    schema = json.loads(Path(path).read_text(encoding="utf-8"))
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


def _object_without_duplicates(pairs):
    keys = [key for key, _ in pairs]
    if len(set(keys)) != len(keys):
        raise InvalidMessage(f"a key appears twice: {keys}")
    return dict(pairs)


def check_encoding(text):
    """The writing rules JSON itself leaves open. `text` is valid JSON."""
    in_string, i = False, 0
    while i < len(text):
        c = text[i]
        if not in_string:
            if c.isspace():
                raise InvalidMessage("whitespace outside strings: not compact")
            in_string = c == '"'
        elif c == "\\":
            if text[i + 1] == "u" and int(text[i + 2:i + 6], 16) >= 0x80:
                raise InvalidMessage("non-ASCII written as a \\u escape, not raw UTF-8")
            i += 6 if text[i + 1] == "u" else 2
            continue
        elif c == '"':
            in_string = False
        elif c == "/":
            raise InvalidMessage('"/" not escaped as "\\/"')
        i += 1


_default_validator = None


def validate_line(text, validator=None):
    global _default_validator
    if validator is None:
        if _default_validator is None:
            _default_validator = load_validator()
        validator = _default_validator
    try:
        message = json.loads(text, object_pairs_hook=_object_without_duplicates)
    except json.JSONDecodeError as error:
        raise InvalidMessage(f"not JSON: {error}") from None
    error = jsonschema.exceptions.best_match(validator.iter_errors(message))
    if error is not None:
        raise InvalidMessage(f"schema: {error.message}")
    check_encoding(text)
    return message


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--schema", default=SCHEMA_PATH, help="schema file")
    options = parser.parse_args(argv)
    validator = load_validator(options.schema)
    for number, raw in enumerate(sys.stdin.buffer, start=1):
        try:
            text = raw.decode("utf-8")
            text = text[:-1] if text.endswith("\n") else text
            validate_line(text, validator)
        except UnicodeDecodeError:
            print(f"line {number}: not UTF-8: {raw!r}", file=sys.stderr)
            return 1
        except InvalidMessage as error:
            print(f"line {number}: {error}: {text}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
