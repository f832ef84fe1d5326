#!/usr/bin/env python3
"""Makes the embedded-database template (Vodrik.ntt) from the schema script.

    make_jet_template.py SCHEMA_SQL OUTPUT

The text columns are declared with the collation Chinese_PRC_CI_AS, which SQLite must know while
the script runs; the database layer registers its own implementation whenever it opens a file,
so the one registered here only has to exist. The file is written beside OUTPUT and renamed over
it, so a failed build never leaves half a template.
"""
import os
import sqlite3
import sys


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    schema, output = argv[1], argv[2]
    with open(schema, encoding="utf-8") as f:
        script = f.read()
    tmp = output + ".tmp"
    if os.path.exists(tmp):
        os.remove(tmp)
    db = sqlite3.connect(tmp)
    db.create_collation("Chinese_PRC_CI_AS", lambda a, b: (a.casefold() > b.casefold()) - (a.casefold() < b.casefold()))
    try:
        db.executescript(script)
        db.commit()
    except sqlite3.Error as e:
        db.close()
        os.remove(tmp)
        print(f"{schema}: {e}", file=sys.stderr)
        return 1
    db.close()
    os.replace(tmp, output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
