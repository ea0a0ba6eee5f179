#!/usr/bin/python3
"""The package's copyright file: Debian's machine-readable format 1.0, read
strictly by python3-debian; every licence named has its text, and the map
data and the places carry theirs.

    check_copyright.py FILE
"""
import sys

from debian.copyright import Copyright

with open(sys.argv[1], encoding="utf-8") as f:
    whole = f.read()
    f.seek(0)
    c = Copyright(f, strict=True)
texts = {p.license.synopsis for p in c.all_license_paragraphs()}
problems = []
for p in c.all_files_paragraphs():
    name = p.license.synopsis
    if not p.license.text and name not in texts:
        problems.append(f"{' '.join(p.files)}: no text of the licence {name}")
wanted = {"map_data/*": "LGPL-3+", "cities/city_table.cpp": "CC-BY-3.0"}
for pattern, licence in wanted.items():
    found = [p.license.synopsis for p in c.all_files_paragraphs() if pattern in p.files]
    if found != [licence]:
        problems.append(f"{pattern}: licence {found}, not {licence}")
for source in ("GSHHG", "GeoNames"):
    if source not in whole:
        problems.append(f"{source} is not named")
for line in problems:
    print(line)
sys.exit(1 if problems else 0)
