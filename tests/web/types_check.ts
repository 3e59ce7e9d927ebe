// Compiled with tsc --strict against the installed package's quarvel.d.ts by
// check_package.sh: the types must describe the API as it is used here.
import * as quarvel from 'quarvel';

const bytes: Uint8Array = quarvel.format('<quarvel><left>a</left></quarvel>');
const text: string = quarvel.format(new Uint8Array([60]), {utf8: true, memoryBudget: 1 << 20});
const warnings: quarvel.Warnings = quarvel.check('<quarvel/>', {name: 'draft.xml'});
const place: number = warnings.length > 0 ? warnings[0].line + warnings[0].column : warnings.notShown;
try {
  quarvel.format('');
} catch (error) {
  if (error instanceof quarvel.QuarvelError) {
    const line: number | undefined = error.line;
    const code: number | 'ENOMEM' = error.code;
    console.log(line, code, error.message);
  }
}
quarvel.configure({memoryBudget: quarvel.DEFAULT_MEMORY_BUDGET});
console.log(bytes.length, text, place, quarvel.heapInUse());
