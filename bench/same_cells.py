#!/usr/bin/python3
"""same_cells.py A.xls B.xls: exit 0 when the two workbooks hold the same
worksheets with the same cells (read with python3-xlrd), whatever the order
of their string tables; prints the first difference otherwise."""
import sys

import xlrd

a, b = (xlrd.open_workbook(p) for p in sys.argv[1:3])
if a.sheet_names() != b.sheet_names():
    sys.exit("worksheets differ: %s / %s" % (a.sheet_names(), b.sheet_names()))
for sa, sb in zip(a.sheets(), b.sheets()):
    if sa.nrows != sb.nrows:
        sys.exit("%s: %d / %d rows" % (sa.name, sa.nrows, sb.nrows))
    for r in range(sa.nrows):
        if sa.row_values(r) != sb.row_values(r):
            sys.exit("%s, row %d differs" % (sa.name, r + 1))
