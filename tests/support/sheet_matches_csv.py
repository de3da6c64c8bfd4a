# Reads a change record's CSV and its spreadsheet (.xlsx) back, the CSV as a CSV reader does (the
# formula escape, a leading apostrophe, taken off), the sheet with openpyxl, and prints "ok" when
# the sheet holds the same rows, every cell below the header a text cell formatted as text.
#
#   python3 sheet_matches_csv.py RECORD.csv RECORD.xlsx
import csv
import sys

import openpyxl

rows = [[c[1:] if c.startswith("'") else c for c in r]
        for r in csv.reader(open(sys.argv[1], encoding='utf-8', newline=''))]
sheet = openpyxl.load_workbook(sys.argv[2]).active
cells = [list(r) for r in sheet.iter_rows()]
got = [[c.value or '' for c in r] for r in cells]
wrong = [(c.coordinate, c.data_type, c.number_format) for r in cells[1:] for c in r
         if c.value is not None and (c.data_type != 's' or c.number_format != '@')]
if got == rows and not wrong and sheet.title == '变更记录':
    print('ok')
else:
    print(repr({'sheet': got, 'csv': rows, 'not text': wrong, 'title': sheet.title}))
