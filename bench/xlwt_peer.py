#!/usr/bin/python3
"""xlwt_peer.py DB.mdb OUT.xls: the same rows written by python3-xlwt, a peer
writer of the Excel 97-2003 format, for comparison with bench_export. As
there, a worksheet takes 65,536 rows and the rest go on in the next one."""
import sqlite3
import sys

import xlwt

ROWS_PER_SHEET = 65536

db = sqlite3.connect(sys.argv[1])
book = xlwt.Workbook(encoding="utf-8")
sheet = None
for r, row in enumerate(db.execute("select * from tabel order by 蔵書番号 asc;")):
    if r % ROWS_PER_SHEET == 0:
        sheet = book.add_sheet("Sheet%d" % (r // ROWS_PER_SHEET + 1))
    for c, value in enumerate(row):
        if value is not None and value != "":
            sheet.write(r % ROWS_PER_SHEET, c, value)
book.save(sys.argv[2])
