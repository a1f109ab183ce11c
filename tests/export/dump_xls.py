"""Prints the worksheets of an .xls file as JSON: {"names": [...], "sheets":
[[row, ...], ...]}, each row a list of cells, each cell a string, a number as
{"hex": float.hex()} (every bit, the sign of zero too) or null (empty). Exit code 3: no xlrd here."""
import json
import sys

try:
    import xlrd
except ImportError:
    sys.exit(3)

book = xlrd.open_workbook(sys.argv[1])
sheets = []
for sheet in book.sheets():
    rows = []
    for r in range(sheet.nrows):
        row = []
        for cell in sheet.row(r):
            if cell.ctype == xlrd.XL_CELL_TEXT:
                row.append(cell.value)
            elif cell.ctype == xlrd.XL_CELL_NUMBER:
                row.append({"hex": float(cell.value).hex()})
            elif cell.ctype == xlrd.XL_CELL_EMPTY:
                row.append(None)
            else:
                row.append("<unexpected cell type %d>" % cell.ctype)
        rows.append(row)
    sheets.append(rows)
json.dump({"names": book.sheet_names(), "sheets": sheets}, sys.stdout)
