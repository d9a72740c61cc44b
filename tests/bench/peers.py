"""Peers for the workbook benchmark: Debian's xlwt (.xls) and xlsxwriter (.xlsx) writing the same
table (a TSV file), every cell as text and centred (.xlsx: by its columns' format).
Prints name<TAB>median ms<TAB>ms."""
import statistics
import sys
import tempfile
import time

import xlsxwriter
import xlwt

rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1], encoding="utf-8")]
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
folder = tempfile.mkdtemp()


def write_xls(path):
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("Sheet1")
    style = xlwt.XFStyle()
    style.alignment.horz = xlwt.Alignment.HORZ_CENTER
    for r, row in enumerate(rows):
        for c, text in enumerate(row):
            sheet.write(r, c, text, style)
    book.save(path)


def write_xlsx(path):
    # The same workbook as ours: centred columns, and a cell only where there is text.
    book = xlsxwriter.Workbook(path, {"constant_memory": True})
    sheet = book.add_worksheet()
    centred = book.add_format({"align": "center"})
    sheet.set_column(0, len(rows[0]) - 1, None, centred)
    for r, row in enumerate(rows):
        for c, text in enumerate(row):
            if text:
                sheet.write_string(r, c, text, centred)
    book.close()


for name, writer, suffix in (("peer_xlwt_xls", write_xls, ".xls"),
                             ("peer_xlsxwriter_xlsx", write_xlsx, ".xlsx")):
    times = []
    for run in range(runs):
        start = time.perf_counter()
        writer(folder + "/peer" + suffix)
        times.append((time.perf_counter() - start) * 1000)
    print("%s\t%.3f\tms" % (name, statistics.median(times)))
    sys.stdout.flush()
