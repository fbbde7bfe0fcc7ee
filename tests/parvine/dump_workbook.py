"""Prints a workbook as tab-separated lines for the command-line tests, read with openpyxl:
sheet<TAB>name, then per sheet width<TAB>column<TAB>width for every column with a set width and
cell<TAB>ref<TAB>type<TAB>value for every cell with a value (type "s" text, "n" number)."""
import sys

import openpyxl


def main(path):
    book = openpyxl.load_workbook(path)
    for sheet in book.worksheets:
        print("sheet\t" + sheet.title)
        for letter, dimension in sorted(sheet.column_dimensions.items()):
            if dimension.customWidth:
                print("width\t%s\t%r" % (letter, dimension.width))
        for row in sheet.iter_rows():
            for cell in row:
                if cell.value is None:
                    continue
                value = str(cell.value).replace("\\", "\\\\").replace("\n", "\\n")
                print("cell\t%s\t%s\t%s" % (cell.coordinate, cell.data_type, value))


if __name__ == "__main__":
    main(sys.argv[1])
