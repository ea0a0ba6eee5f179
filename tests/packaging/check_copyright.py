#!/usr/bin/python3
"""check_copyright.py FILE: Debian's machine-readable copyright format,
read strictly; the map data and the places carry their licences."""
import sys

from debian.copyright import Copyright

with open(sys.argv[1], encoding="utf-8") as f:
    licences = {" ".join(p.files): p.license.synopsis for p in Copyright(f, strict=True).all_files_paragraphs()}
wanted = {"map_data/*": "LGPL-3+", "cities/city_table.cpp": "CC-BY-3.0"}
sys.exit(0 if all(licences.get(files) == licence for files, licence in wanted.items()) else f"not {wanted}")
