"""Reads a trend workbook with openpyxl and prints, per sheet, "sheet<TAB>title<TAB>frozen cell",
then one line per row with each cell as kind:value (date:ISO time with milliseconds, number:repr,
text:string, empty:), tab-separated."""
import datetime
import sys

import openpyxl

book = openpyxl.load_workbook(sys.argv[1], read_only=False)
for sheet in book.worksheets:
    print("sheet\t%s\t%s" % (sheet.title, sheet.freeze_panes))
    for row in sheet.iter_rows(max_col=sheet.max_column):
        cells = []
        for cell in row:
            value = cell.value
            if value is None:
                cells.append("empty:")
            elif isinstance(value, datetime.datetime):
                cells.append("date:" + value.isoformat(timespec="milliseconds"))
            elif isinstance(value, (int, float)):
                cells.append("number:" + repr(float(value)))
            else:
                cells.append("text:" + str(value))
        print("\t".join(cells))
