#!/usr/bin/env python3
"""Prints ini files as Python's configparser reads them (keys keep their case, no interpolation):
"=== <path>", then each "[section]" followed by its "key<TAB>value" lines, in file order."""
import configparser
import sys

for path in sys.argv[1:]:
    print(f"=== {path}")
    parser = configparser.ConfigParser(interpolation=None, default_section="\x00none")
    parser.optionxform = str
    with open(path, encoding="ascii", newline=None) as f:
        parser.read_file(f)
    for section in parser.sections():
        print(f"[{section}]")
        for key, value in parser.items(section, raw=True):
            print(f"{key}\t{value}")
