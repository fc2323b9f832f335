#!/usr/bin/env python3
"""Reads one listing in its four record forms and checks that they agree.

    listing_forms.py DIR FIELD...

DIR holds the outputs tsv, csv, jsonl and json of the same listing with the fields FIELD...
Each is read with its own reader (the TSV escapes undone, Python's csv module, json): every
output must be UTF-8, every record must hold exactly the fields in their order, and all four
must give the same records, an absent value (JSON null) being an empty field in TSV and CSV.
Prints the records, one JSON array a line, ASCII only; exits 1 after its reason otherwise."""
import csv
import io
import json
import sys

TSV_ESCAPES = {"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}


def fail(why):
    sys.exit("listing_forms: " + why)


def read(path):
    with open(path, "rb") as f:
        data = f.read()
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as e:
        fail("%s is not UTF-8: %s" % (path, e))


def tsv_value(field):
    out, k = [], 0
    while k < len(field):
        if field[k] == "\t" or field[k] in "\n\r":
            fail("a raw TAB, LF or CR in a TSV field: %r" % field)
        if field[k] == "\\":
            if k + 1 >= len(field) or field[k + 1] not in TSV_ESCAPES:
                fail("a lone backslash in a TSV field: %r" % field)
            out.append(TSV_ESCAPES[field[k + 1]])
            k += 2
        else:
            out.append(field[k])
            k += 1
    return "".join(out)


def delimited(rows, fields, form):
    if not rows or rows[0] != fields:
        fail("%s: header %r, not %r" % (form, rows[0] if rows else None, fields))
    for row in rows[1:]:
        if len(row) != len(fields):
            fail("%s: %d fields, not %d: %r" % (form, len(row), len(fields), row))
    return rows[1:]


def main():
    where, fields = sys.argv[1], sys.argv[2:]
    text = read(where + "/tsv")
    if not text.endswith("\n"):
        fail("tsv: no line end at the end")
    tsv = delimited([[tsv_value(f) for f in line.split("\t")] for line in text[:-1].split("\n")],
                    fields, "tsv")
    csv_rows = delimited(list(csv.reader(io.StringIO(read(where + "/csv"), newline=""))),
                         fields, "csv")

    jsonl = []
    for line in read(where + "/jsonl").splitlines():
        record = json.loads(line)
        if list(record) != ["v"] + fields or record["v"] != 1:
            fail("jsonl: keys %r" % list(record))
        jsonl.append([record[f] for f in fields])
    document = json.loads(read(where + "/json"))
    if list(document) != ["format_version", "trackers"] or document["format_version"] != "1.0":
        fail("json: document keys %r" % list(document))
    records = []
    for record in document["trackers"]:
        if list(record) != fields:
            fail("json: keys %r" % list(record))
        records.append([record[f] for f in fields])

    if jsonl != records:
        fail("jsonl and json differ")
    as_text = [["" if v is None else v for v in r] for r in records]
    if tsv != as_text or csv_rows != as_text:
        fail("the delimited forms differ from json:\n%r\n%r\n%r" % (tsv, csv_rows, as_text))
    for r in records:
        print(json.dumps(r, separators=(",", ":")))


main()
