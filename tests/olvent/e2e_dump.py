"""Prints what an independent reader (openpyxl) sees in a workbook, one fact a line, tab-separated:

sheet   NAME    FREEZE  FILTER  ROW1-HEIGHT ROW1-BOLD
outline NAME    SYMBOLS SUMMARY-BELOW SUMMARY-RIGHT APPLY-STYLES   (1 or 0 each)
cell    NAME!A1 KIND    VALUE   FILL         (KIND: s text, n number, e error, f formula)
row     NAME!3  LEVEL HIDDEN COLLAPSED FILL
col     NAME!B  WIDTH
cf      NAME!A1:A4  TYPE    FILL
vba     yes|no
"""
import sys
import openpyxl


def fill(x):
    return x.fill.fgColor.rgb[-6:] if x.fill is not None and x.fill.fill_type == 'solid' else '-'


def clean(value):
    return '' if value is None else str(value).replace('\t', '\\t').replace('\n', '\\n')


wb = openpyxl.load_workbook(sys.argv[1], keep_vba=True)
for ws in wb.worksheets:
    name = ws.title
    first = ws.row_dimensions[1]
    print('sheet', name, ws.freeze_panes, ws.auto_filter.ref, first.height, bool(first.font.b), sep='\t')
    p = ws.sheet_properties.outlinePr
    flags = [True if p.showOutlineSymbols is None else p.showOutlineSymbols,
             True if p.summaryBelow is None else p.summaryBelow,
             True if p.summaryRight is None else p.summaryRight, bool(p.applyStyles)]
    print('outline', name, ' '.join('1' if f else '0' for f in flags), sep='\t')
    for row in ws.iter_rows():
        for c in row:
            if c.value is not None or c.fill.fill_type == 'solid':
                kind = c.data_type
                value = c.value
                if kind == 'f' and str(value).startswith('=#'):
                    kind, value = 'e', str(value)[1:]
                print('cell', f'{name}!{c.coordinate}', kind, clean(value), fill(c), sep='\t')
    for r, d in sorted(ws.row_dimensions.items()):
        if d.outline_level or d.hidden or d.collapsed or fill(d) != '-':
            print('row', f'{name}!{r}', '%d %d %d %s' % (d.outline_level or 0, 1 if d.hidden else 0,
                                                        1 if d.collapsed else 0, fill(d)), sep='\t')
    for k, d in sorted(ws.column_dimensions.items()):
        if d.width and d.customWidth:
            print('col', f'{name}!{k}', round(d.width), sep='\t')
    for rng, rules in ws.conditional_formatting._cf_rules.items():
        for rule in rules:
            color = rule.dxf.fill.bgColor.rgb[-6:] if rule.dxf and rule.dxf.fill else '-'
            print('cf', f'{name}!{rng.sqref}', rule.type, color, sep='\t')
print('vba', 'yes' if wb.vba_archive is not None and 'xl/vbaProject.bin' in wb.vba_archive.namelist() else 'no',
      sep='\t')
