#!/usr/bin/env node
// Keeps the client's type declarations true to docs/methods.md, and so to the host:
//
//   node clients/js/tools/check-types.mjs
//
// - the declared methods are exactly the documented ones;
// - every declared parameter is documented, and every parameter a method's section names
//   is declared (at the top or inside an object parameter);
// - the members of the documented image object and search options are declared;
// - every example request's params and every example reply's result type-check against
//   the method's declared types (excess or missing members and wrong types fail). The
//   method reference check sends the same examples to the real host, so a reply shape
//   that changes in the host breaks that check, and a declaration that drifts from the
//   reply breaks this one.
import { readFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import ts from 'typescript';

const here = dirname(fileURLToPath(import.meta.url));
const packageDir = resolve(here, '..');
const declarations = join(packageDir, 'quorvane-client.d.ts');
const reference = resolve(packageDir, '../../docs/methods.md');

let passed = 0;
let failed = 0;
function check(name, condition, detail = '') {
  if (condition) passed++;
  else failed++;
  if (!condition || process.env.VERBOSE) console.log(`${condition ? 'PASS' : 'FAIL'}: ${name}${!condition && detail ? ` (${detail})` : ''}`);
  return condition;
}
const show = (v) => JSON.stringify(v);
const difference = (a, b) => [...a].filter((x) => !b.has(x));

// ---- the reference: one section per method ------------------------------------------------

const text = readFileSync(reference, 'utf8');
// Parameter and member names as the reference writes them: `minSimilarity`, `path`.
const memberNames = (paragraph) =>
  new Set([...paragraph.matchAll(/`([a-z][A-Za-z0-9]*)`/g)].map((m) => m[1]));
const sections = text.split(/^### /m).slice(1).map((part) => {
  const body = part.split(/^## /m)[0];
  const blocks = [...body.matchAll(/```json\n([\s\S]*?)\n```/g)].map((m) => m[1]);
  return {
    name: /^`([^`]+)`/.exec(body)?.[1] ?? null,
    parameters: /\*\*Parameters\*\*([\s\S]*?)\*\*Result\*\*/.exec(body)?.[1] ?? '',
    request: blocks[0] ? JSON.parse(blocks[0]) : null,
    reply: blocks[1] ? JSON.parse(blocks[1]) : null,
  };
});
const conventionBullet = (title) => new RegExp(`^- \\*\\*${title}\\*\\*([\\s\\S]*?)(?=^- |^## )`, 'm').exec(text)?.[1] ?? '';

// ---- the declarations, read with the compiler --------------------------------------------

const options = { strict: true, noEmit: true, target: ts.ScriptTarget.ES2022, module: ts.ModuleKind.ESNext,
  moduleResolution: ts.ModuleResolutionKind.Bundler, skipLibCheck: false, types: [] };

function declaredMethods() {
  const program = ts.createProgram([declarations], options);
  const checker = program.getTypeChecker();
  const diagnostics = ts.getPreEmitDiagnostics(program);
  check('the declarations compile on their own', diagnostics.length === 0, format(diagnostics));
  const source = program.getSourceFile(declarations);
  const methods = source.statements.find((s) => ts.isInterfaceDeclaration(s) && s.name.text === 'QuorvaneMethods');
  const type = checker.getTypeAtLocation(methods);
  const propertiesOf = (t) => (t.isUnion() ? t.types.flatMap(propertiesOf) : checker.getPropertiesOfType(t));
  const result = new Map();
  for (const method of checker.getPropertiesOfType(type)) {
    const entry = checker.getTypeOfSymbol(method);
    const params = checker.getTypeOfSymbol(checker.getPropertyOfType(entry, 'params'));
    const top = new Set(propertiesOf(params).map((p) => p.name));
    // Members of object parameters, any depth (options.searchArea.x ...).
    const nested = new Set();
    const walk = (t, depth) => {
      for (const p of propertiesOf(t)) {
        const inner = checker.getNonNullableType(checker.getTypeOfSymbol(p));
        if (depth > 0) nested.add(p.name);
        if (depth < 3 && inner.flags & ts.TypeFlags.Object) walk(inner, depth + 1);
      }
    };
    walk(params, 0);
    result.set(method.name, { top, nested });
  }
  const member = (name) => {
    const decl = source.statements.find((s) => ts.isInterfaceDeclaration(s) && s.name.text === name);
    return new Set(checker.getPropertiesOfType(checker.getTypeAtLocation(decl)).map((p) => p.name));
  };
  return { methods: result, imageParam: member('ImageParam'), searchOptions: member('SearchOptions') };
}

function format(diagnostics) {
  return diagnostics.map((d) => {
    const where = d.file ? `${d.file.fileName.split('/').pop()}:${d.file.getLineAndCharacterOfPosition(d.start).line + 1}: ` : '';
    return where + ts.flattenDiagnosticMessageText(d.messageText, ' ');
  }).join('; ');
}

const declared = declaredMethods();

check('the declared methods are exactly the documented ones',
  show([...declared.methods.keys()].sort()) === show(sections.map((s) => s.name).sort()),
  `not documented ${show(difference(declared.methods.keys(), new Set(sections.map((s) => s.name))))}, ` +
  `not declared ${show(difference(new Set(sections.map((s) => s.name)), new Set(declared.methods.keys())))}`);

for (const s of sections) {
  const types = declared.methods.get(s.name);
  if (!types) continue;
  const documented = memberNames(s.parameters);
  const undocumented = difference(types.top, documented);
  check(`${s.name}: every declared parameter is documented`, undocumented.length === 0, show(undocumented));
  const undeclared = difference(documented, new Set([...types.top, ...types.nested]));
  check(`${s.name}: every documented parameter is declared`, undeclared.length === 0, show(undeclared));
}
for (const [title, members] of [['Image object', declared.imageParam], ['Search options', declared.searchOptions]]) {
  const undocumented = difference(members, memberNames(conventionBullet(title)));
  check(`every declared member of the ${title.toLowerCase()} is documented`, undocumented.length === 0, show(undocumented));
}

// ---- the examples against the declarations --------------------------------------------------

const lines = ["import type { ParamsOf, ResultOf } from './quorvane-client';"];
const lineOf = new Map();
sections.forEach((s, i) => {
  if (!s.request) return;
  lineOf.set(lines.length + 1, `${s.name}: the example request's params`);
  lines.push(`export const params${i} = (${JSON.stringify(s.request.params)}) satisfies ParamsOf<'${s.name}'>;`);
  if (s.reply && 'result' in s.reply) {
    lineOf.set(lines.length + 1, `${s.name}: the example reply's result`);
    lines.push(`export const result${i} = (${JSON.stringify(s.reply.result)}) satisfies ResultOf<'${s.name}'>;`);
  }
});
const examplesFile = join(packageDir, '__examples__.ts');
const host = ts.createCompilerHost(options);
const readFile = host.readFile.bind(host);
host.readFile = (file) => (resolve(file) === examplesFile ? lines.join('\n') : readFile(file));
const fileExists = host.fileExists.bind(host);
host.fileExists = (file) => resolve(file) === examplesFile || fileExists(file);
const program = ts.createProgram([examplesFile], options, host);
const problems = new Map();
for (const d of ts.getPreEmitDiagnostics(program)) {
  const line = d.file ? d.file.getLineAndCharacterOfPosition(d.start).line + 1 : 0;
  const what = lineOf.get(line) ?? `line ${line}`;
  problems.set(what, (problems.get(what) ?? []).concat(ts.flattenDiagnosticMessageText(d.messageText, ' ')));
}
for (const what of lineOf.values()) check(`${what} fit the declared types`, !problems.has(what), problems.get(what)?.join('; ').slice(0, 400));
for (const [what, messages] of problems) if (![...lineOf.values()].includes(what)) check(what, false, messages.join('; '));

console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 && passed > 0 ? 0 : 1);
