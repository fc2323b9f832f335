#!/usr/bin/env python3
"""listing_forms.py DIR FIELD...: reads the listing in DIR/tsv, csv, jsonl and json (fields
FIELD...) with each form's own reader; every output must be UTF-8, every record must hold the
fields in their order, and the four must agree (a JSON null is an empty TSV or CSV field).
Prints the records, one JSON array a line; fails with the difference otherwise."""
import csv
import io
import json
import re
import sys

where, fields = sys.argv[1], sys.argv[2:]
text = {form: open("%s/%s" % (where, form), "rb").read().decode("utf-8")
        for form in ("tsv", "csv", "jsonl", "json")}
unescape = {"\\t": "\t", "\\n": "\n", "\\r": "\r", "\\\\": "\\"}
tsv = [[re.sub(r"\\.", lambda m: unescape[m.group()], v) for v in line.split("\t")]
       for line in text["tsv"].split("\n")[:-1]]
document = json.loads(text["json"])
assert list(document) == ["format_version", "trackers"] and document["format_version"] == "1.0"
assert all(list(r) == fields for r in document["trackers"]), document
records = [list(r.values()) for r in document["trackers"]]
jsonl = [json.loads(line) for line in text["jsonl"].splitlines()]
assert [list(r.items())[0] for r in jsonl] == [("v", 1)] * len(jsonl), jsonl
assert [list(r)[1:] for r in jsonl] == [fields] * len(jsonl), jsonl
assert [list(r.values())[1:] for r in jsonl] == records, (jsonl, records)
as_text = [fields] + [["" if v is None else v for v in r] for r in records]
assert tsv == as_text, (tsv, as_text)
assert list(csv.reader(io.StringIO(text["csv"], newline=""))) == as_text, text["csv"]
for r in records:
    print(json.dumps(r, separators=(",", ":")))
