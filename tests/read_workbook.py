"""Reads a workbook with an independent reader and prints one line per cell:
row, column (both from 1), horizontal alignment ("center" or other) and the text, tab-separated.
.xls goes through xlrd with formatting information, .xlsx through openpyxl."""
import sys

path = sys.argv[1]
out = sys.stdout
if path.lower().endswith(".xlsx"):
    import openpyxl
    book = openpyxl.load_workbook(path)
    sheet = book.worksheets[0]
    # A cell that was never written shows its column's format, as spreadsheet programs do; the
    # formatted columns count towards the width.
    column_formats = {}
    for dimension in sheet.column_dimensions.values():
        if dimension.min and dimension.max:
            for column in range(dimension.min, dimension.max + 1):
                column_formats[column] = dimension
    columns = max([sheet.max_column] + list(column_formats))
    out.write("size\t%d\t%d\n" % (sheet.max_row, columns))
    for row in sheet.iter_rows(max_col=columns):
        for cell in row:
            text = "" if cell.value is None else str(cell.value)
            styled = cell if cell.has_style or cell.column not in column_formats \
                else column_formats[cell.column]
            align = styled.alignment.horizontal or "general"
            out.write("%d\t%d\t%s\t%s\n" % (cell.row, cell.column, align, text))
else:
    import xlrd
    book = xlrd.open_workbook(path, formatting_info=True)
    sheet = book.sheet_by_index(0)
    out.write("size\t%d\t%d\n" % (sheet.nrows, sheet.ncols))
    names = {2: "center"}
    for r in range(sheet.nrows):
        for c in range(sheet.ncols):
            cell = sheet.cell(r, c)
            align = names.get(book.xf_list[cell.xf_index].alignment.hor_align, "other")
            out.write("%d\t%d\t%s\t%s\n" % (r + 1, c + 1, align, cell.value))
