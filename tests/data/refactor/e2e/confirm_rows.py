"""Edits a dry-run report as a person would in a spreadsheet program: adds a confirmation column
headed "应用" to some sheets and fills it per variable, then saves the workbook in place.

Usage: confirm_rows.py REPORT EDITS, EDITS a JSON object
  {"<sheet>": {"column": <1-based column to insert at, or null to append>,
               "rows": {"<变量名>": <cell value: true, false, a number or a text>}}}
A name not found on its sheet is an error (exit status 2). EDITS "all" confirms every row of
each of the three variable sheets the report has, with TRUE in an appended column."""
import json
import sys

import openpyxl


def name_column(sheet):
    for cell in sheet[1]:
        if cell.value == "变量名":
            return cell.column
    raise SystemExit("no 变量名 column on " + sheet.title)


def confirm_all(book):
    for title in ("Global Variables", "Module Variables", "Local Variables"):
        if title in book.sheetnames:
            sheet = book[title]
            column = sheet.max_column + 1
            sheet.cell(row=1, column=column, value="应用")
            for row in range(2, sheet.max_row + 1):
                sheet.cell(row=row, column=column, value=True)


def main(path, edits):
    book = openpyxl.load_workbook(path)
    if edits == "all":
        confirm_all(book)
        book.save(path)
        return
    for title, edit in json.loads(edits).items():
        sheet = book[title]
        column = edit["column"] or sheet.max_column + 1
        if column <= sheet.max_column:
            sheet.insert_cols(column)
        sheet.cell(row=1, column=column, value="应用")
        names = name_column(sheet)
        wanted = dict(edit["rows"])
        for row in range(2, sheet.max_row + 1):
            name = sheet.cell(row=row, column=names).value
            if name in wanted:
                sheet.cell(row=row, column=column, value=wanted.pop(name))
        if wanted:
            print("not on %s: %s" % (title, ", ".join(wanted)), file=sys.stderr)
            sys.exit(2)
    book.save(path)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
