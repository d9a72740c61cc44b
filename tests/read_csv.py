"""Reads a CSV file with Python's csv module (RFC 4180 quoting) and prints every record as a
JSON array on a line of its own, so that a test can compare fields independently of our writer."""
import csv
import json
import sys

with open(sys.argv[1], newline="", encoding="utf-8") as source:
    for record in csv.reader(source):
        print(json.dumps(record, ensure_ascii=False))
