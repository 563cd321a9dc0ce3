"""Reference for workbook_bench: writes the same table with openpyxl's write-only mode.

Usage: openpyxl_write.py CSV_FILE XLSX_FILE
Reads the CSV (comma separated, "." decimals) into memory first, then times only the
workbook writing and prints the seconds it took.
"""
import csv
import sys
import time

from openpyxl import Workbook


def value(field):
    field = field.strip(" ")
    if field == "":
        return None
    if not (len(field) >= 2 and field[0] == "0" and field[1] not in ",."):
        try:
            return float(field)
        except ValueError:
            pass
    return field


def main(source, target):
    with open(source, newline="", encoding="utf-8") as f:
        rows = [[value(x) for x in row] for row in csv.reader(f)]
    start = time.perf_counter()
    book = Workbook(write_only=True)
    sheet = book.create_sheet("Hoja1")
    for row in rows:
        sheet.append(row)
    book.save(target)
    print(f"{time.perf_counter() - start:.3f}")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
