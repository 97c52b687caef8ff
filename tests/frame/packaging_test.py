#!/usr/bin/env python3
"""Checks the property lists in packaging/: each is an XML property list
holding exactly the keys and values below."""

import plistlib
import sys
import unittest
from pathlib import Path

PACKAGING = Path(sys.argv.pop(1)) if len(sys.argv) > 1 else Path(__file__).parents[2] / "packaging"

INFO = {
    "CFBundleIdentifier": "app.quorvane.dictation",
    "CFBundleName": "Quorvane Dictation",
    "NSMicrophoneUsageDescription": "Quorvane listens while you dictate to it.",
    "NSSpeechRecognitionUsageDescription": "Quorvane turns your dictation into text on this Mac.",
}

ENTITLEMENTS = {
    "com.apple.security.cs.allow-jit": True,
    "com.apple.security.cs.allow-unsigned-executable-memory": True,
    "com.apple.security.cs.disable-library-validation": True,
    "com.apple.security.device.audio-input": True,
    "com.apple.security.device.camera": True,
}


def load_xml_plist(name):
    data = (PACKAGING / name).read_bytes()
    # plistlib would also take a binary list; these must stay readable text.
    return plistlib.loads(data, fmt=plistlib.FMT_XML)


class PropertyListTest(unittest.TestCase):
    def check(self, name, expected):
        actual = load_xml_plist(name)
        self.assertIsInstance(actual, dict)
        self.assertEqual(sorted(actual), sorted(expected), name)
        for key, value in expected.items():
            # Comparing types tells True from 1 and from the string "true".
            self.assertIs(type(actual[key]), type(value), key)
            self.assertEqual(actual[key], value, key)

    def test_info(self):
        self.check("Info.plist", INFO)

    def test_entitlements(self):
        self.check("entitlements.plist", ENTITLEMENTS)


if __name__ == "__main__":
    unittest.main()
