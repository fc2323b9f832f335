#!/usr/bin/env python3
"""Checks print mode's JSON output for the end-to-end suites.

  json_check.py check jsonl|json SCHEMA FILE
      FILE parses with a strict parser (UTF-8 only, no repeated key, no NaN or Infinity; JSON
      Lines: each line one object ending in LF), holds every key of its record kind in the
      schema's order, and is valid against a strict copy of SCHEMA that refuses unknown keys.
  json_check.py lines JSON JSONL
      The document JSON (-p format=json) holds the records of JSONL (-p format=jsonl, the same
      run and options), tracker by tracker, in their order.
  json_check.py csv JSONL CSV
      Every record of JSONL (-p format=jsonl) is the row of CSV (-p format=csv, the same run and
      options) in the same place: status by class, times in the zone of TZ, durations, counts,
      codes and texts. Records of failed trackers are left out of both.

Prints what is wrong and exits 1; prints nothing and exits 0 when all is well."""
import copy
import datetime
import json
import sys

import jsonschema

# The CSV report's status word of each class (several classes share one).
CSV_STATUS = ["undef", "wait", "wait_hold", "wait_skip", "submit", "run", "done", "done_skip",
              "error", "errorstop", "prepare", "run_dialog", "run", "run_error", "errorstop",
              "run_warn", "run_warn"]
COUNTERS = ["component", "wait", "wait_hold", "wait_skip", "run", "done", "done_skip", "error"]
BLOCKS = ["total", "unit", "jnw", "erp", "bi", "pc", "qdrs", "hlbs", "custom", "other"]
CSV_WORDS = {"unit": "UNITJOB", "custom": "CSTMJOB", "erp": "ERPJOB", "bi": "BIJOB",
             "pc": "PCJOB", "qdrs": "QDRSJOB", "hlbs": "HLBSJOB"}


def fail(message):
    sys.stderr.write("json_check: %s\n" % message)
    sys.exit(1)


def no_repeats(pairs):
    keys = [k for k, _ in pairs]
    if len(keys) != len(set(keys)):
        raise ValueError("a key repeated in %s" % keys)
    return dict(pairs)


def no_constant(name):
    raise ValueError("%s is not JSON" % name)


def strict_loads(text):
    return json.loads(text, object_pairs_hook=no_repeats, parse_constant=no_constant)


def strict_schema(schema):
    """The schema with every object refusing keys that it does not name."""
    strict = copy.deepcopy(schema)

    def walk(node):
        if isinstance(node, dict):
            if "properties" in node:
                node["additionalProperties"] = False
            for value in node.values():
                walk(value)
        elif isinstance(node, list):
            for value in node:
                walk(value)
    walk(strict)
    return strict


def record_kind_keys(schema, record):
    """The keys of a record in the schema's order, by its kind (JSON Lines or document part)."""
    defs = schema["$defs"]
    if "format_version" in record:
        return list(defs["document"]["properties"])
    if "record" in record:
        kind = record["record"]
        if kind in ("tracker", "error"):
            for branch in defs["line"]["oneOf"]:
                if branch.get("properties", {}).get("record", {}).get("const") == kind:
                    return list(branch["properties"])
    if "type" in record:
        for branch in defs["job"]["oneOf"]:
            if record["type"] in branch["properties"]["type"]["enum"]:
                return list(branch["properties"])
    if "name" in record:
        return list(defs["jnw"]["properties"])
    element = defs["element"]["oneOf"]
    return list(element[1]["properties"] if "error" in record else element[0]["properties"])


def check_order(schema, record, where):
    """Every key present in the schema's order (keys the schema leaves optional may be absent)."""
    order = [k for k in record_kind_keys(schema, record) if k in record]
    if list(record) != order:
        fail("%s: keys %s, expected the order %s" % (where, list(record), order))
    for key in ("jnws", "jobs"):
        for k, item in enumerate(record.get(key) or []):
            check_order(schema, item, "%s %s[%d]" % (where, key, k))
    if isinstance(record.get("counts"), dict):
        if list(record["counts"]) != BLOCKS or any(
                list(b) != COUNTERS for b in record["counts"].values()):
            fail("%s: counts not in their order" % where)


def check(form, schema_path, path):
    schema = json.load(open(schema_path, encoding="utf-8"))
    strict = strict_schema(schema)
    part = "line" if form == "jsonl" else "document"
    strict["oneOf"] = [{"$ref": "#/$defs/%s" % part}]
    validator = jsonschema.Draft202012Validator(strict)
    data = open(path, "rb").read()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        fail("%s: not UTF-8: %s" % (path, e))
    if form == "jsonl":
        if text and not text.endswith("\n"):
            fail("%s: the last line has no line end" % path)
        items = text.split("\n")[:-1]
    else:
        if not text.endswith("}\n") or text.count("\n") != 1:
            fail("%s: not one document on one line" % path)
        items = [text]
    for n, item in enumerate(items, 1):
        try:
            value = strict_loads(item)
        except ValueError as e:
            fail("%s:%d: %s" % (path, n, e))
        errors = sorted(validator.iter_errors(value), key=lambda e: list(e.path))
        if errors:
            best = jsonschema.exceptions.best_match(errors)
            fail("%s:%d: %s at %s" % (path, n, best.message, "/".join(map(str, best.path))))
        check_order(schema, value, "%s:%d" % (path, n))
        for element in value.get("trackers", []):
            check_order(schema, element, "%s:%d %s" % (path, n, element.get("tracker")))


def csv_time(text):
    """An RFC 3339 time in the CSV report's local time (TZ); "" for null."""
    if text is None:
        return ""
    moment = datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))
    return moment.astimezone().strftime("%Y/%m/%d %H:%M:%S")


def csv_counts(counts):
    return [str(counts[b][c]) for b in BLOCKS for c in COUNTERS]


def csv_text(value, field):
    """Whether a JSON text (null: the tool had none) is the CSV field."""
    return field in ("", "-") if value is None else field == value


def times_and_status(record):
    return [csv_time(record["start"]), csv_time(record["end"]), str(record["duration"] or 0),
            csv_time(record["expected_start"]), csv_time(record["expected_end"]),
            CSV_STATUS[record["class"]] if 0 <= record["class"] < len(CSV_STATUS) else "undef"]


def codes(record):
    return [str(record["exit_code"] or 0), str(record["error_code"] or 0)]


def csv_rows(path):
    """The data rows of a CSV report (title, column-name and blank lines left out)."""
    rows = []
    for line in open(path, encoding="utf-8", errors="surrogateescape").read().split("\n"):
        if not line or line.startswith("#TYPE=") or line.startswith(("jnwname,", "type,")):
            continue
        rows.append(line.split(","))
    return rows


def compare(jsonl_path, csv_path):
    records = [strict_loads(line) for line in open(jsonl_path, encoding="utf-8")]
    records = [r for r in records if r["record"] != "error"]
    rows = csv_rows(csv_path)
    if len(records) != len(rows):
        fail("%d JSON records, %d CSV rows" % (len(records), len(rows)))
    for n, (r, row) in enumerate(zip(records, rows), 1):
        where = "record %d (%s %s)" % (n, r["record"], r.get("name", r["tracker"]))
        problems = []
        if r["record"] == "tracker":
            expected = [r["jnw"], row[1], r["user"], r["machine"] or ""] + times_and_status(r)
            expected += csv_counts(r["counts"])
            if row != expected:
                problems.append("%s != %s" % (row, expected))
            if not r["tracker"].startswith(r["jnw"] + "." + row[1]):
                problems.append("tracker %s, jnwdate %s" % (r["tracker"], row[1]))
        elif r["record"] == "jnw":
            parent = r["parent"] if r["parent"] is not None else '""'
            base = r["name"].rsplit(":", 1)[-1]
            expected = ["JNW", parent, row[2], base] + times_and_status(r) + csv_counts(r["counts"])
            if row != expected:
                problems.append("%s != %s" % (row, expected))
            if r["parent"] is not None and r["name"] != r["parent"] + ":" + base:
                problems.append("name %s, parent %s" % (r["name"], r["parent"]))
        else:
            head = [CSV_WORDS[r["type"]], r["parent"] or "", row[2], r["name"]]
            head += times_and_status(r)
            if row[:len(head)] != head:
                problems.append("%s != %s" % (row[:len(head)], head))
            tail = row[len(head):]
            if r["type"] in ("unit", "custom"):
                ok = (tail[:2] == codes(r) and csv_text(r["request_id"], tail[2])
                      and csv_text(r["machine"], tail[3]) and len(tail) == 4)
            elif r["type"] == "erp":
                ok = len(tail) == 1 and csv_text(r["machine"], tail[0])
            elif r["type"] in ("qdrs", "hlbs"):
                ok = tail == codes(r)
            else:
                ok = tail == []
            if not ok:
                problems.append("fields after the status %s" % tail)
        if problems:
            fail("%s: %s" % (where, "; ".join(problems)))


def as_lines(document):
    """The records of a document as JSON Lines has them."""
    lines = []
    for element in document["trackers"]:
        tracker = element["tracker"]
        head = {"v": 1, "record": "error", "tracker": tracker}
        if "error" in element:
            lines.append(dict(head, message=element["error"]))
            continue
        summary = {k: v for k, v in element.items() if k not in ("tracker", "jnws", "jobs")}
        if any(v is not None for v in summary.values()):
            lines.append(dict(head, record="tracker", **summary))
        for kind in ("jnw", "job"):
            for item in element[kind + "s"]:
                lines.append(dict(head, record=kind, **item))
    return lines


def same_records(json_path, jsonl_path):
    document = strict_loads(open(json_path, encoding="utf-8").read())
    lines = [strict_loads(line) for line in open(jsonl_path, encoding="utf-8")]
    # Records compare with their keys in order.
    got = [list(r.items()) for r in as_lines(document)]
    want = [list(r.items()) for r in lines]
    if got != want:
        for n, (g, w) in enumerate(zip(got, want), 1):
            if g != w:
                fail("record %d: the document has %s, JSON Lines %s" % (n, g, w))
        fail("%d records in the document, %d in JSON Lines" % (len(got), len(want)))


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "check" and sys.argv[2] in ("jsonl", "json"):
        check(sys.argv[2], sys.argv[3], sys.argv[4])
    elif len(sys.argv) == 4 and sys.argv[1] == "lines":
        same_records(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 4 and sys.argv[1] == "csv":
        compare(sys.argv[2], sys.argv[3])
    else:
        fail("usage: json_check.py check jsonl|json SCHEMA FILE | lines JSON JSONL | csv JSONL CSV")


if __name__ == "__main__":
    main()
