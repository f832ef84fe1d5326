#!/usr/bin/env python3
"""Keeps the two copies of the accounting schema in step: the server statements of CreateDataBase
(qvacom/storage/server_schema.inc) and the SQLite script of the embedded database
(templates/jet_schema.sql).

    schema_check.py [SERVER_SCHEMA_INC JET_SCHEMA_SQL]

Without arguments the files are found from this script's place in the source tree. Exits 0 with a
one-line summary when they agree, 1 with one line per difference otherwise. Standard library only.
"""
import os
import re
import sqlite3
import sys

TABLE_COUNT = 37
INDEX_COUNT = 23
COLLATION = "Chinese_PRC_CI_AS"

STATEMENT_LINE = re.compile(r'^QVA_SCHEMA_STATEMENT\((Table|Index), (\w+), R"sql\((.*)\)sql"\)$')
CREATE_TABLE = re.compile(r"^CREATE TABLE \[(\w+)\] \((.*)\) ON \[PRIMARY\]$")
COLUMN = re.compile(r"^\[(\w+)\] \[(\w+)\](?: \((\d+)\))?( IDENTITY \(1, 1\))?( COLLATE (\w+))? (NOT NULL|NULL)$")
PRIMARY_KEY = re.compile(r"^CONSTRAINT \[PK_(\w+)\] PRIMARY KEY CLUSTERED \(\[id\]\) ON \[PRIMARY\]$")
CREATE_INDEX = re.compile(r"^CREATE INDEX \[(\w+)\] ON \[dbo\]\.\[(\w+)\] \((.*)\)$")
DECLARED_TYPE = re.compile(r"^(\w+)(?:\((\d+)\))?$")


class Column:
    def __init__(self, name, base, width, collation, not_null, identity):
        self.name, self.base, self.width = name, base.lower(), width
        self.collation, self.not_null, self.identity = collation, not_null, identity

    def describe(self):
        text = self.base + (f"({self.width})" if self.width else "")
        text += " IDENTITY" if self.identity else ""
        text += f" COLLATE {self.collation}" if self.collation else ""
        return text + (" NOT NULL" if self.not_null else " NULL")


def parse_server(path, problems):
    """Returns [(kind, table, columns or index column names)] in file order."""
    statements = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            where = f"{os.path.basename(path)}:{number}"
            if not line.startswith("QVA_SCHEMA_STATEMENT"):
                if line.strip() and not line.startswith("//"):
                    problems.append(f"{where}: neither a comment nor a whole QVA_SCHEMA_STATEMENT line")
                continue
            m = STATEMENT_LINE.match(line)
            if not m:
                problems.append(f"{where}: not of the form QVA_SCHEMA_STATEMENT(kind, table, R\"sql(...)sql\")")
                continue
            kind, table, text = m.groups()
            if kind == "Table":
                columns = parse_server_table(where, table, text, problems)
                statements.append((kind, table, columns))
            else:
                m = CREATE_INDEX.match(text)
                if not m:
                    problems.append(f"{where}: not a CREATE INDEX [IX_table] ON [dbo].[table] (columns): {text}")
                    continue
                name, indexed, column_list = m.groups()
                if indexed != table or name != f"IX_{table}":
                    problems.append(f"{where}: index {name} on {indexed} filed under table {table}")
                names = [c.strip() for c in column_list.split(",")]
                if not all(re.fullmatch(r"\[\w+\]", c) for c in names):
                    problems.append(f"{where}: index columns are not a list of [column]: {column_list}")
                statements.append((kind, table, [c.strip("[]") for c in names]))
    return statements


def split_definitions(body):
    """Splits a column list at the commas outside parentheses; returns the definitions and the
    separators (the comma with the white space after it)."""
    definitions, separators, depth, start, i = [], [], 0, 0, 0
    while i < len(body):
        ch = body[i]
        depth += (ch == "(") - (ch == ")")
        if ch == "," and depth == 0:
            end = i + 1
            while end < len(body) and body[end] in " \t\n":
                end += 1
            definitions.append(body[start:i])
            separators.append(body[i:end])
            start = i = end
            continue
        i += 1
    definitions.append(body[start:])
    return definitions, separators


def parse_server_table(where, table, text, problems):
    m = CREATE_TABLE.match(text)
    if not m:
        problems.append(f"{where}: not a CREATE TABLE [name] (...) ON [PRIMARY]: {text[:80]}")
        return []
    name, body = m.groups()
    if name != table:
        problems.append(f"{where}: statement creates {name} but is filed under {table}")
    definitions, separators = split_definitions(body)
    if any(sep != ",\t" for sep in separators):
        problems.append(f"{where}: definitions are not separated by a comma and a tab character")
    columns, keys = [], []
    for definition in definitions:
        key = PRIMARY_KEY.match(definition)
        if key:
            keys.append(key.group(1))
            continue
        c = COLUMN.match(definition)
        if not c:
            problems.append(f"{where}: {table}: unreadable definition {definition!r}")
            continue
        column, base, width, identity, _, collation, nullness = c.groups()
        if (base == "nvarchar") != (width is not None):
            problems.append(f"{where}: {table}.{column}: a width belongs to nvarchar columns only")
        if collation and base != "nvarchar":
            problems.append(f"{where}: {table}.{column}: collation on a non-text column")
        columns.append(Column(column, base, width, collation, nullness == "NOT NULL", identity is not None))
    identities = [c.name for c in columns if c.identity]
    if identities and (identities != ["id"] or columns[0].name != "id" or not columns[0].not_null):
        problems.append(f"{where}: {table}: the identity key must be the first column, [id], NOT NULL")
    if bool(identities) != bool(keys) or (keys and keys != [table]):
        problems.append(f"{where}: {table}: an identity key goes with exactly one PK_{table} and vice versa")
    return columns


def open_jet(path, problems):
    db = sqlite3.connect(":memory:")
    db.create_collation(COLLATION, lambda a, b: (a.casefold() > b.casefold()) - (a.casefold() < b.casefold()))
    with open(path, encoding="utf-8") as f:
        try:
            db.executescript(f.read())
        except sqlite3.Error as e:
            problems.append(f"{os.path.basename(path)}: SQLite refuses the script: {e}")
    return db


def jet_columns(db, table):
    """The table's columns as SQLite understood them, with each column's own collation read back
    through a probe index (SQLite reports a column's collation only for index columns)."""
    sql = db.execute("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?", (table,)).fetchone()[0]
    columns = []
    for _, name, declared, not_null, _, pk in db.execute(f'PRAGMA table_info("{table}")').fetchall():
        db.execute(f'CREATE INDEX schema_check_probe ON "{table}" ("{name}")')
        collation = db.execute("PRAGMA index_xinfo(schema_check_probe)").fetchone()[4]
        db.execute("DROP INDEX schema_check_probe")
        identity = pk == 1 and declared.upper() == "INTEGER" and "AUTOINCREMENT" in sql.upper()
        m = DECLARED_TYPE.match(declared)
        base, width = (m.group(1), m.group(2)) if m else (declared, None)
        if identity:  # a rowid alias: SQLite enforces NOT NULL itself and reports notnull 0
            base, not_null = "int", True
        collation = None if collation == "BINARY" else collation
        columns.append(Column(name, base, width, collation, bool(not_null), identity))
    return columns


def compare(statements, db, problems):
    tables = [t for k, t, _ in statements if k == "Table"]
    indexes = [t for k, t, _ in statements if k == "Index"]
    if len(tables) != TABLE_COUNT or len(indexes) != INDEX_COUNT:
        problems.append(f"server schema: {len(tables)} tables and {len(indexes)} indexes, "
                        f"expected {TABLE_COUNT} and {INDEX_COUNT}")
    if len(set(tables)) != len(tables) or len(set(indexes)) != len(indexes):
        problems.append("server schema: a table or an index is created twice")
    for i, (kind, table, _) in enumerate(statements):
        if kind == "Index" and (i == 0 or statements[i - 1][:2] != ("Table", table)):
            problems.append(f"server schema: index of {table} does not follow its table")

    jet_tables = {r[0] for r in db.execute("SELECT name FROM sqlite_master WHERE type = 'table'")} - {"sqlite_sequence"}
    all_indexes = {r[0]: r[1] for r in db.execute("SELECT name, tbl_name FROM sqlite_master WHERE type = 'index'")}
    # The embedded database's own look-up indexes (LX_<table>) are not the server's: they only
    # have to stand on a table of the schema and be plain (not unique) indexes.
    lookups = {n: t for n, t in all_indexes.items() if n.startswith("LX_")}
    for name, table in sorted(lookups.items()):
        if name != f"LX_{table}" or table not in set(tables):
            problems.append(f"jet schema: look-up index {name} on {table} is not LX_ on a table of the schema")
        elif any(r[1] == name and r[2] for r in db.execute(f'PRAGMA index_list("{table}")')):
            problems.append(f"jet schema: look-up index {name} is unique")
    jet_indexes = {n: t for n, t in all_indexes.items() if n not in lookups and not n.startswith("sqlite_")}
    if len(jet_tables) != TABLE_COUNT or len(jet_indexes) != INDEX_COUNT:
        problems.append(f"jet schema: {len(jet_tables)} tables and {len(jet_indexes)} indexes, "
                        f"expected {TABLE_COUNT} and {INDEX_COUNT}")
    jet_order = [r[0] for r in db.execute("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid")]
    if [t for t in jet_order if t in tables] != [t for t in tables if t in jet_tables]:
        problems.append("jet schema: tables are not created in the server's order")
    for extra in sorted(jet_tables - set(tables)):
        problems.append(f"jet schema: table {extra} is not in the server schema")
    for extra in sorted(set(jet_indexes) - {f"IX_{t}" for t in indexes}):
        problems.append(f"jet schema: index {extra} is not in the server schema")

    for kind, table, detail in statements:
        if kind == "Table":
            if table not in jet_tables:
                problems.append(f"jet schema: table {table} is missing")
                continue
            compare_table(table, detail, jet_columns(db, table), problems)
        else:
            name = f"IX_{table}"
            if jet_indexes.get(name) != table:
                problems.append(f"jet schema: index {name} on {table} is missing")
                continue
            if any(r[1] == name and r[2] for r in db.execute(f'PRAGMA index_list("{table}")')):
                problems.append(f"jet schema: {name} is unique; the server's is not")
            jet = [r[2] for r in db.execute(f'PRAGMA index_info("{name}")')]
            if jet != detail:
                problems.append(f"{name}: server indexes {detail}, jet indexes {jet}")


def check_behaviour(db, problems):
    """The promises the identity keys, NOT NULL and the collation make, tried on the embedded schema
    and rolled back."""
    try:
        db.execute("SAVEPOINT behaviour")
        for table in ("Users", "Deps"):
            ids = [db.execute(f"INSERT INTO {table} (Name) VALUES (?)", (n,)).lastrowid for n in ("Alice", "Bob")]
            if ids != [1, 2]:
                problems.append(f"{table}: identity keys {ids}, expected [1, 2]")
        tables = [r[0] for r in db.execute("SELECT name FROM sqlite_master WHERE type = 'table'")]
        for table in tables:
            if table not in ("Users", "Deps", "sqlite_sequence"):
                db.execute(f'INSERT INTO "{table}" (Name) VALUES (?)', ("Alice",))
        if db.execute("SELECT COUNT(*) FROM Users WHERE Name = 'alice'").fetchone()[0] != 1:
            problems.append(f"Users.Name: 'alice' does not find 'Alice' under {COLLATION}")
        for table in ("Users", "Deps"):
            try:
                db.execute(f"INSERT INTO {table} (Remarks) VALUES ('no name')")
                problems.append(f"{table}: a row without Name is accepted")
            except sqlite3.IntegrityError:
                pass
        if db.execute("SELECT COUNT(*) FROM Categoryset WHERE Name = 'alice'").fetchone()[0] != 0:
            problems.append("Categoryset.Name: compares case-insensitively; it takes the default collation")
    except sqlite3.Error as e:
        problems.append(f"jet schema: trying rows failed: {e}")
    finally:
        db.execute("ROLLBACK TO behaviour")
        db.execute("RELEASE behaviour")


def compare_table(table, server, jet, problems):
    server_names, jet_names = [c.name for c in server], [c.name for c in jet]
    if server_names != jet_names:
        problems.append(f"{table}: columns differ\n  server: {server_names}\n  jet:    {jet_names}")
        return
    for s, j in zip(server, jet):
        if s.describe() != j.describe():
            problems.append(f"{table}.{s.name}: server {s.describe()}, jet {j.describe()}")


def main(argv):
    root = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    if len(argv) == 3:
        server_path, jet_path = argv[1], argv[2]
    elif len(argv) == 1:
        server_path = os.path.join(root, "qvacom", "storage", "server_schema.inc")
        jet_path = os.path.join(root, "templates", "jet_schema.sql")
    else:
        print(__doc__, file=sys.stderr)
        return 2
    problems = []
    statements = parse_server(server_path, problems)
    db = open_jet(jet_path, problems)
    compare(statements, db, problems)
    if not problems:
        check_behaviour(db, problems)
    if problems:
        for p in problems:
            print(f"schema_check: {p}", file=sys.stderr)
        print(f"schema_check: FAILED with {len(problems)} difference(s)", file=sys.stderr)
        return 1
    columns = sum(len(d) for k, _, d in statements if k == "Table")
    print(f"schema_check: OK, {TABLE_COUNT} tables ({columns} columns) and {INDEX_COUNT} indexes agree "
          f"between {os.path.basename(server_path)} and {os.path.basename(jet_path)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
