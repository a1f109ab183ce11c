#!/usr/bin/python3
"""xlwt_peer.py DB.mdb OUT.xls: the same rows written by python3-xlwt, a peer
writer of the Excel 97-2003 format, for comparison with bench_export."""
import sqlite3
import sys

import xlwt

db = sqlite3.connect(sys.argv[1])
book = xlwt.Workbook(encoding="utf-8")
sheet = book.add_sheet("Sheet1")
for r, row in enumerate(db.execute("select * from tabel order by 蔵書番号 asc;")):
    for c, value in enumerate(row):
        if value is not None and value != "":
            sheet.write(r, c, value)
book.save(sys.argv[2])
