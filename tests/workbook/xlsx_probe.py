"""Reads a workbook with tools we did not write and prints what they see.

Usage: xlsx_probe.py WORKBOOK
Prints "testzip: <first bad entry or None>", the entry names in archive order, then
"cell <ref> <data_type> <repr(value)>" for every cell of the active sheet.
Exits 3 when openpyxl is missing, 1 when the workbook cannot be read.
"""
import sys
import zipfile

try:
    import openpyxl
except ImportError:
    sys.exit(3)


def main(path):
    with zipfile.ZipFile(path) as archive:
        print("testzip:", archive.testzip())
        for info in archive.infolist():
            print("entry", info.filename, info.compress_type, hex(info.flag_bits))
    book = openpyxl.load_workbook(path)
    sheet = book.active
    print("sheet", sheet.title)
    for row in sheet.iter_rows():
        for cell in row:
            print("cell", cell.coordinate, cell.data_type, repr(cell.value))


if __name__ == "__main__":
    try:
        main(sys.argv[1])
    except Exception as error:  # report any reader failure as a failed check
        print("error", type(error).__name__, error)
        sys.exit(1)
