"""docs/messages.schema.json and tests/support/validate_messages.py."""

import subprocess
import sys

import pytest

from validate_messages import InvalidMessage, validate_line, SCHEMA_PATH

VALIDATOR = [sys.executable, str(SCHEMA_PATH.parents[1] / "tests" / "support" / "validate_messages.py")]

VALID = [
    '{"type":"status","speech":"granted","microphone":"not-determined","engine":"recognizer"}',
    '{"engine":"recognizer","microphone":"restricted","speech":"unknown","type":"status"}',
    '{"type":"status","speech":"denied","microphone":"denied","engine":"recognizer"}',
    '{"type":"ready","engine":"recognizer"}',
    '{"type":"partial","text":"he was not"}',
    '{"type":"partial","text":"caf\u00e9 \\"quoted\\" 1\\/2 back\\\\slash"}',
    '{"type":"final","text":""}',
    '{"type":"done"}',
    '{"type":"cancelled"}',
    '{"type":"error","code":"invalid_request"}',
    '{"type":"error","code":"microphone_unavailable"}',
    '{"type":"partial","text":"tab\\tand control \\u0001"}',
]

INVALID = {
    "unknown type": '{"type":"hello"}',
    "no type": '{"text":"x"}',
    "missing key": '{"type":"status","speech":"granted","engine":"recognizer"}',
    "extra key": '{"type":"done","text":""}',
    "unknown state": '{"type":"status","speech":"yes","microphone":"granted","engine":"recognizer"}',
    "other engine": '{"type":"ready","engine":"cloud"}',
    "unknown code": '{"type":"error","code":"timeout"}',
    "number value": '{"type":"partial","text":3}',
    "null value": '{"type":"final","text":null}',
    "array": '[{"type":"done"}]',
    "not JSON": "done",
    "empty line": "",
    "duplicate key": '{"type":"final","text":"a","text":"b"}',
    "raw slash": '{"type":"partial","text":"1/2"}',
    "escaped non-ASCII": '{"type":"partial","text":"caf\\u00e9"}',
    "not compact": '{"type": "done"}',
    "trailing space": '{"type":"done"} ',
}


@pytest.mark.parametrize("line", VALID)
def test_accepts(line):
    assert validate_line(line)["type"]


@pytest.mark.parametrize("line", INVALID.values(), ids=INVALID.keys())
def test_rejects(line):
    with pytest.raises(InvalidMessage):
        validate_line(line)


def run_validator(data):
    return subprocess.run(VALIDATOR, input=data, capture_output=True, timeout=30)


def test_command_passes_good_lines_and_names_the_first_bad_one():
    good = "\n".join(VALID).encode() + b"\n"
    assert run_validator(good).returncode == 0

    bad = b'{"type":"ready","engine":"recognizer"}\n{"type":"partial","text":"a/b"}\n{"type":"x"}\n'
    result = run_validator(bad)
    assert result.returncode == 1
    assert b"line 2" in result.stderr and b"a/b" in result.stderr

    result = run_validator(b'{"type":"partial","text":"\xff"}\n')
    assert result.returncode == 1 and b"line 1: not UTF-8" in result.stderr
